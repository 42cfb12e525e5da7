#include "triggers/pixel_batch.h"

#include <algorithm>

namespace quillet {

namespace {

bool Inside(const platform::ScreenRect& r, int64_t x, int64_t y) {
    return x >= r.left && y >= r.top && x < int64_t{r.left} + r.width && y < int64_t{r.top} + r.height;
}

} // namespace

PixelBatch::PixelBatch(platform::Screen& screen, const platform::ScreenRect& virtualScreen,
                       const std::vector<platform::ScreenPoint>& points)
    : screen_(screen) {
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    int count = 0;
    for (const platform::ScreenPoint& p : points) {
        if (!Inside(virtualScreen, p.x, p.y)) continue; // read one by one: the screen says what lies off it
        left = std::min<int64_t>(left, p.x);
        top = std::min<int64_t>(top, p.y);
        right = std::max<int64_t>(right, int64_t{p.x} + 1);
        bottom = std::max<int64_t>(bottom, int64_t{p.y} + 1);
        ++count;
    }
    if (count < 2 || (right - left) * (bottom - top) > kMaxBatchPixels) return;
    rect_ = {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
             static_cast<int32_t>(bottom - top)};
    batched_ = screen_.Capture(rect_, copy_) && copy_.width == rect_.width && copy_.height == rect_.height &&
               copy_.pixels.size() >= static_cast<std::size_t>(rect_.width) * rect_.height * 4;
}

uint32_t PixelBatch::Pixel(int32_t x, int32_t y) {
    if (!batched_ || !Inside(rect_, x, y)) return screen_.Pixel(x, y);
    const uint8_t* p = copy_.row(y - rect_.top) + static_cast<std::size_t>(x - rect_.left) * 4;
    return uint32_t{p[2]} | uint32_t{p[1]} << 8 | uint32_t{p[0]} << 16;
}

} // namespace quillet
