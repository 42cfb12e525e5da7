// Tells the raw events this program injected from everyone else's. Every fake-input request is remembered with its
// request serial; the server delivers the raw events of an XTest request while it processes that request, so they
// carry its serial. An event from an XTEST device matching a remembered request (same kind and detail, serial not
// later than the event's) is ours; events from real devices and other programs' XTest input are not.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace quillet::platform::x11 {

enum class RawKind : uint8_t { KeyDown, KeyUp, ButtonDown, ButtonUp, Motion };

class OwnEventFilter {
public:
    using Time = std::chrono::steady_clock::time_point;

    // A fake-input request with this serial will produce one raw event of this kind and detail (keycode, button;
    // 0 for motion) — or none, when the server drops it (a release of a key that is not down).
    void Expect(unsigned long serial, RawKind kind, int detail, Time now);
    // True when the event is one of ours. Must see every raw event of the connection, in order.
    bool Classify(unsigned long serial, RawKind kind, int detail, bool fromXtest, Time now);
    void Clear();
    std::size_t pending() const { return pending_.size(); }

    // Requests whose events have not come after this long are forgotten (their serial was never reached by a
    // later event, which only happens when the connection is idle).
    static constexpr std::chrono::seconds kMaxAge{10};
    static constexpr std::size_t kMaxPending = 1 << 16;

private:
    struct Pending {
        unsigned long serial;
        RawKind kind;
        int detail;
        Time at;
    };
    std::deque<Pending> pending_;
};

} // namespace quillet::platform::x11
