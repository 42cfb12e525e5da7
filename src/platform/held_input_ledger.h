// What this program's injected input holds down at each moment, kept in memory shared with the guardian process
// (see platform/guardian.h) so that the guardian can release exactly that when the program dies without releasing it.
//
// The backends write it on every key or button they send: one atomic byte store, no lock, no system call, so the
// injection path costs the same with or without a guardian. The codes are the backend's own: X keycodes and X
// button numbers on X11; virtual keys (with their scan code and extended flag) and 1..5 for the left, right,
// middle, X1 and X2 buttons on Windows.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillet::platform {

// The shared block. Its layout is the contract between the program and the guardian, which always come from the same
// build; `magic` guards against a mapping that is not one.
struct HeldInputShared {
    static constexpr uint32_t kMagic = 0x51474431; // "QGD1"
    std::atomic<uint32_t> magic{0};
    // Set by the program just before an orderly end: the guardian then sends nothing at all.
    std::atomic<uint32_t> farewell{0};
    // Per key code: 0 up, otherwise kHeld plus kExtended when the press carried the extended flag.
    std::array<std::atomic<uint8_t>, 256> keys{};
    // Scan code the press was sent with (Windows releases with the same).
    std::array<std::atomic<uint8_t>, 256> scans{};
    // Per button number: 0 up, kHeld down.
    std::array<std::atomic<uint8_t>, 32> buttons{};

    static constexpr uint8_t kHeld = 1;
    static constexpr uint8_t kExtended = 2;
};
static_assert(std::atomic<uint8_t>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free,
              "the shared block must be usable from two processes");

// The writing side. A ledger without a block (no guardian running) ignores everything.
class HeldInputLedger {
public:
    HeldInputLedger() = default;
    explicit HeldInputLedger(HeldInputShared* shared) : shared_(shared) {}

    bool active() const { return shared_ != nullptr; }

    // Marked before the press goes out and cleared after the release went out: a press that may have reached the
    // system is always on the ledger, and releasing a key that is already up does nothing.
    void KeyDown(unsigned code, uint8_t scan = 0, bool extended = false) {
        if (shared_ == nullptr || code >= shared_->keys.size()) return;
        shared_->scans[code].store(scan, std::memory_order_relaxed);
        shared_->keys[code].store(
            static_cast<uint8_t>(HeldInputShared::kHeld | (extended ? HeldInputShared::kExtended : 0)),
            std::memory_order_release);
    }
    void KeyUp(unsigned code) {
        if (shared_ == nullptr || code >= shared_->keys.size()) return;
        shared_->keys[code].store(0, std::memory_order_release);
    }
    void ButtonDown(unsigned button) {
        if (shared_ == nullptr || button >= shared_->buttons.size()) return;
        shared_->buttons[button].store(HeldInputShared::kHeld, std::memory_order_release);
    }
    void ButtonUp(unsigned button) {
        if (shared_ == nullptr || button >= shared_->buttons.size()) return;
        shared_->buttons[button].store(0, std::memory_order_release);
    }

private:
    HeldInputShared* shared_ = nullptr;
};

} // namespace quillet::platform
