// The pixels one colour poll reads, taken with one copy of the screen where that is cheaper than reading them one
// by one. On X11 one pixel costs a round trip (about 50 µs under Xvfb) and a 200 x 200 copy through shared memory
// about as much as 1.5 pixels, so a poll of two or more pixels that lie within a modest rectangle reads them from
// one copy; pixels scattered over the screen are still read one by one.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace quillet {

class PixelBatch final : public platform::Screen {
public:
    // Largest copy, in pixels, taken for a batch.
    static constexpr int64_t kMaxBatchPixels = 256 * 256;

    // Copies the bounding rectangle of the points (those on the virtual screen) when there are two or more and the
    // rectangle is small enough; otherwise every Pixel call goes to the screen.
    PixelBatch(platform::Screen& screen, const platform::ScreenRect& virtualScreen,
               const std::vector<platform::ScreenPoint>& points);

    // The same value the screen's Pixel gives: from the copy inside it, from the screen elsewhere.
    uint32_t Pixel(int32_t x, int32_t y) override;
    bool Capture(const platform::ScreenRect& rect, platform::BgraImage& out) override {
        return screen_.Capture(rect, out);
    }
    bool batched() const { return batched_; }

private:
    platform::Screen& screen_;
    platform::ScreenRect rect_;
    platform::BgraImage copy_;
    bool batched_ = false;
};

} // namespace quillet
