#include "triggers/image_trigger.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quillet {

namespace fs = std::filesystem;

namespace {

// The matching allocates its scratch buffers (integral images, transforms) afresh at every call. With the C
// library's adaptive thresholds, buffers of that size go back to the system after each tick and are faulted in again
// at the next one, which costs more than the matching itself (three times as much for a full-screen search). Keeping
// up to 64 MB of freed memory in the heap avoids that. The setting is process-wide and made once.
void KeepScratchMemory() {
#if defined(__GLIBC__)
    static const bool done = [] {
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
        return true;
    }();
    (void)done;
#endif
}

} // namespace

bool ImageMatchReaches(double maxVal, int32_t imageOptions) {
    const int threshold = imageOptions & ImageThresholdMask;
    return maxVal * 100.0 >= threshold - kImageMatchSlackPercent;
}

ImageTrigger::ImageTrigger(Engine& engine, const CAppIni& settings, platform::Screen& screen, RunView& view)
    : engine_(engine), settings_(settings), screen_(screen), view_(view) {
    KeepScratchMemory();
}

const cv::Mat* ImageTrigger::Template(const std::string& path) {
    if (path.empty()) return nullptr;
    // The path is CP949 text; std::filesystem and OpenCV take it as the system's narrow encoding (bytes as they are
    // on POSIX, the ANSI code page on Windows).
    const fs::path file(path);
    std::error_code ec;
    // Asking the file system first keeps a missing file from reaching the decoder, which would complain on every
    // tick.
    if (!fs::is_regular_file(file, ec)) {
        cache_.erase(path);
        return nullptr;
    }
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) return nullptr;
    const fs::file_time_type modified = fs::last_write_time(file, ec);
    if (ec) return nullptr;

    auto [it, added] = cache_.try_emplace(path);
    CachedTemplate& entry = it->second;
    entry.used = true;
    if (added || entry.size != size || entry.modified != modified) {
        // Size and time are taken before reading: a file still being written changes them again and is read anew
        // at the next tick.
        entry.size = size;
        entry.modified = modified;
        entry.grey.release();
        ++templateReads_;
        cv::Mat color = cv::imread(path, cv::IMREAD_COLOR);
        if (!color.empty()) cv::cvtColor(color, entry.grey, cv::COLOR_BGR2GRAY);
    }
    return entry.grey.empty() ? nullptr : &entry.grey;
}

std::optional<ImageMatch> ImageTrigger::Match(const Macro& m) {
    const cv::Mat* templ = Template(m.imagePath);
    if (templ == nullptr) return std::nullopt;

    ImageMatch match;
    match.templateSize = templ->size();
    const int64_t tw = templ->cols;
    const int64_t th = templ->rows;
    const int64_t sx = PointX(m.imageRectStart);
    const int64_t sy = PointY(m.imageRectStart);
    const int64_t ex = PointX(m.imageRectEnd);
    const int64_t ey = PointY(m.imageRectEnd);
    // Never smaller than the template: an end left at 0 (or before the start) searches one template-sized area.
    const int64_t w = std::max(ex, sx + tw) - sx;
    const int64_t h = std::max(ey, sy + th) - sy;
    if (w <= 0 || h <= 0 || w * h > kMaxImageSearchPixels) return std::nullopt;
    match.search = {static_cast<int32_t>(sx), static_cast<int32_t>(sy), static_cast<int32_t>(w),
                    static_cast<int32_t>(h)};

    if (!screen_.Capture(match.search, capture_)) return std::nullopt;
    if (capture_.width != match.search.width || capture_.height != match.search.height ||
        capture_.pixels.size() < static_cast<std::size_t>(w * h * 4))
        return std::nullopt;
    // A header over the captured pixels: no copy.
    const cv::Mat bgra(capture_.height, capture_.width, CV_8UC4, capture_.pixels.data());
    cv::cvtColor(bgra, grey_, cv::COLOR_BGRA2GRAY);

    cv::matchTemplate(grey_, *templ, result_, cv::TM_CCOEFF_NORMED);
    cv::minMaxLoc(result_, nullptr, &match.maxVal, nullptr, &match.maxLoc);
    match.resultSize = result_.size();
    match.origin = {static_cast<int32_t>(sx + match.maxLoc.x + tw / 2),
                    static_cast<int32_t>(sy + match.maxLoc.y + th / 2)};
    return match;
}

const cv::Mat& ImageTrigger::RenderResult(const ImageMatch& match) {
    // What a window shows of the floating-point map: values scaled by 255 and saturated.
    result_.convertTo(picture8_, CV_8U, 255.0);
    cv::cvtColor(picture8_, picture_, cv::COLOR_GRAY2BGR);
    if (match.maxVal > 0.3) {
        const cv::Scalar red(0, 0, 255);
        cv::circle(picture_, match.maxLoc, 3, red, 1, cv::LINE_8);
        char text[256];
        std::snprintf(text, sizeof text, "(%d,%d) %d%%", match.search.left + match.maxLoc.x,
                      match.search.top + match.maxLoc.y, static_cast<int>(match.maxVal * 100.0 + 0.5));
        int baseline = 0;
        const cv::Size size = cv::getTextSize(text, cv::FONT_HERSHEY_PLAIN, 1.0, 1, &baseline);
        cv::putText(picture_, text, cv::Point(match.maxLoc.x - size.width / 2, match.maxLoc.y + size.height * 3 / 2),
                    cv::FONT_HERSHEY_PLAIN, 1.0, red, 1, cv::LINE_8, false);
    }
    return picture_;
}

void ImageTrigger::EvaluateImageTriggers() {
    if (!engine_.runMode) return;
    for (auto& entry : cache_) entry.second.used = false;
    MacroLibrary& library = engine_.library();
    for (std::size_t i = 0; i < library.size(); ++i) {
        Macro& m = library[i];
        if ((m.flags & FlagStartImage) == 0) continue;
        const std::optional<ImageMatch> match = Match(m);
        if (!match) continue; // lastImageMatch keeps its value
        if ((settings_.macroOptions & OptionImageResultWindow) != 0) {
            const cv::Mat& picture = RenderResult(*match);
            view_.ShowImageResult(m.name, BgrImageView{picture.cols, picture.rows, picture.step, picture.data});
        }
        const bool matched = ImageMatchReaches(match->maxVal, m.imageOptions);
        const bool fire = (m.flags & FlagImageOnChange) != 0 ? matched && !m.lastImageMatch : matched;
        if (!IsRunning(m) && fire)
            engine_.StartMacroWithOrigin(m, 1, match->origin, (m.imageOptions & ImageMoveMouse) != 0);
        m.lastImageMatch = matched;
    }
    // Templates no condition asked for this time (a macro deleted, a path changed) are let go.
    std::erase_if(cache_, [](const auto& entry) { return !entry.second.used; });
}

} // namespace quillet
