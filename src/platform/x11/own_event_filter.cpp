#include "platform/x11/own_event_filter.h"

namespace quillet::platform::x11 {

void OwnEventFilter::Expect(unsigned long serial, RawKind kind, int detail, Time now) {
    if (pending_.size() >= kMaxPending) pending_.pop_front();
    pending_.push_back({serial, kind, detail, now});
}

bool OwnEventFilter::Classify(unsigned long serial, RawKind kind, int detail, bool fromXtest, Time now) {
    bool ours = false;
    if (fromXtest) {
        for (auto it = pending_.begin(); it != pending_.end() && it->serial <= serial; ++it) {
            if (it->kind == kind && it->detail == detail) {
                pending_.erase(it);
                ours = true;
                break;
            }
        }
        const bool keyInRange = detail >= 0 && detail < 256;
        if (kind == RawKind::KeyDown && keyInRange) {
            // A press we did not ask for on a key we hold is the server's auto-repeat of our key.
            if (!ours && keysHeld_.test(static_cast<std::size_t>(detail)))
                ours = true;
            else if (ours)
                keysHeld_.set(static_cast<std::size_t>(detail));
        } else if (kind == RawKind::KeyUp && keyInRange) {
            // Released, by us or by someone else: either way the key is no longer held for us.
            keysHeld_.reset(static_cast<std::size_t>(detail));
        }
    }
    // Every event of a request arrives before any event stamped with a later serial, so requests older than this
    // event will produce nothing more.
    while (!pending_.empty() && (pending_.front().serial < serial || now - pending_.front().at > kMaxAge))
        pending_.pop_front();
    return ours;
}

void OwnEventFilter::Clear() {
    pending_.clear();
    keysHeld_.reset();
}

} // namespace quillet::platform::x11
