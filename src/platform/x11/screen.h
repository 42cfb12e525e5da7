// Reading the screen: one pixel with XGetImage, rectangles with MIT-SHM (XShmGetImage into a shared segment kept
// between calls of the same size) or, where shared memory cannot be used (a remote display), with XGetImage.
// Uses a connection of its own, so that a large copy never holds up input delivery.
#pragma once

// Before any X header: X.h defines None as a macro.
#include "platform/platform.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/x11/screen_layout.h"
#include "platform/x11/x_display.h"

namespace quillet::platform::x11 {

class X11Screen final : public Screen {
public:
    // useShm false forces the XGetImage path.
    static std::unique_ptr<X11Screen> Open(const std::string& displayName, bool useShm, std::string& error);
    ~X11Screen() override;

    uint32_t Pixel(int32_t x, int32_t y) override;
    // Rectangles wider or taller than this, or larger than kMaxPixels, are refused.
    static constexpr int32_t kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t{64} << 20;
    // Pixels are B, G, R and 0 (the alpha byte is always 0, as a screen bitmap has it); outside the screen 0, 0, 0.
    bool Capture(const ScreenRect& rect, BgraImage& out) override;

    // From the Damage extension on the root window: after a round trip (so that every change the server made before
    // the call is counted) the damaged region is collected and remembered by rectangle, the newest 512 of them;
    // older ones count as changes everywhere. Nothing without the extension.
    std::optional<uint64_t> ChangeStamp(const ScreenRect& rect) override;
    // A connection of its own, every use under one lock.
    bool CaptureFromAnyThread() const override { return true; }

    // True while rectangles are read through shared memory.
    bool usingShm() const { return shmUsable_; }
    // True while changes are tracked with the Damage extension.
    bool tracksChanges() const { return damage_ != 0; }

private:
    X11Screen() = default;
    // Handles the events queued on the connection: screen layout and damage.
    void DrainEvents();
    // Reads the root-window area into `out` at (dx, dy); the area lies inside the root window.
    bool ReadArea(int x, int y, int w, int h, BgraImage& out, int dx, int dy);
    bool EnsureShmImage(int w, int h);
    void ReleaseShmImage();

    std::mutex mutex_;
    DisplayPtr dpy_;
    std::unique_ptr<ScreenLayoutTracker> layout_;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    bool shmUsable_ = false;
    XShmSegmentInfo shmInfo_{};
    XImage* shmImage_ = nullptr;

    // Damage: the newest rectangles (root coordinates) with the count at which each arrived; older ones are
    // summed up in forgotten_, which every rectangle counts as changed at.
    struct Damaged {
        int32_t x, y, w, h;
        uint64_t at;
    };
    static constexpr std::size_t kDamageLog = 512;
    unsigned long damage_ = 0;   // the Damage object, 0 without the extension
    bool damagePending_ = false; // a change was reported and not yet collected
    int damageEventBase_ = -1;
    uint64_t damageCount_ = 1;
    uint64_t forgotten_ = 1;
    std::deque<Damaged> damaged_;
};

// Copies an X image (ZPixmap) area into a BGRA image at (dx, dy).
void ConvertToBgra(const XImage& image, int w, int h, const Visual& visual, BgraImage& out, int dx, int dy);

} // namespace quillet::platform::x11
