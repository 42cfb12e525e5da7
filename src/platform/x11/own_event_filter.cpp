#include "platform/x11/own_event_filter.h"

namespace quillet::platform::x11 {

void OwnEventFilter::Expect(unsigned long serial, RawKind kind, int detail, Time now) {
    if (pending_.size() >= kMaxPending) pending_.pop_front();
    pending_.push_back({serial, kind, detail, now});
}

bool OwnEventFilter::Classify(unsigned long serial, RawKind kind, int detail, bool fromXtest, Time now) {
    bool ours = false;
    // Only a match is ours. The server makes no raw events for auto-repeat, so a press of a key we hold that we
    // did not ask for comes from another program sharing the XTEST device.
    if (fromXtest) {
        for (auto it = pending_.begin(); it != pending_.end() && it->serial <= serial; ++it) {
            if (it->kind == kind && it->detail == detail) {
                pending_.erase(it);
                ours = true;
                break;
            }
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
}

} // namespace quillet::platform::x11
