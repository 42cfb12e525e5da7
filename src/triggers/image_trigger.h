// The image start condition: a template picture searched for in a rectangle of the screen by normalised
// correlation-coefficient matching in grey levels.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

#include <opencv2/core/mat.hpp>

#include "engine/engine.h"
#include "model/macro.h"
#include "model/settings.h"
#include "platform/platform.h"
#include "triggers/run_mode.h"
#include "triggers/run_view.h"

namespace quillet {

// macroOptions bit: show the match result of every image condition in a window.
inline constexpr int32_t OptionImageResultWindow = 0x1000;

// Largest search rectangle, in pixels, that is copied from the screen (more than an 8K screen); a larger one (a
// damaged record or a huge template) skips the condition instead of allocating gigabytes.
inline constexpr int64_t kMaxImageSearchPixels = int64_t{1} << 26;

// The outcome of matching one macro's template against its screen rectangle.
struct ImageMatch {
    double maxVal = 0.0;         // best correlation, -1..1
    cv::Point maxLoc;            // where, in the result map (column, row)
    cv::Size templateSize;       // tw, th
    platform::ScreenRect search; // the rectangle copied from the screen
    cv::Size resultSize;         // size of the result map
    Point origin;                // centre of the found picture in screen pixels
};

class ImageTrigger final : public ImageConditions {
public:
    ImageTrigger(Engine& engine, const CAppIni& settings, platform::Screen& screen, RunView& view);
    ImageTrigger(const ImageTrigger&) = delete;
    ImageTrigger& operator=(const ImageTrigger&) = delete;

    // Timer 1003, after the colour conditions: in run mode, every macro with the image condition (running or idle)
    // is matched; an idle one is started when the match reaches its threshold (in change-only mode only when the
    // previous evaluation did not match). Nothing in edit mode.
    void EvaluateImageTriggers() override;

    // Matches m's template against its rectangle; nothing when the template cannot be read, the rectangle is empty
    // or too large, or the screen cannot be copied. The result map stays in resultMap() until the next call.
    std::optional<ImageMatch> Match(const Macro& m);
    const cv::Mat& resultMap() const { return result_; }

    // The picture the result window shows for the last match: the correlation map in grey as an 8-bit BGR image
    // (negative values black, 1.0 white), with a red circle and the red text "(x,y) p%" when the match is better
    // than 0.3. Valid until the next call.
    const cv::Mat& RenderResult(const ImageMatch& match);

    // Forgets every decoded template; the next evaluation reads the files again.
    void ClearTemplateCache() { cache_.clear(); }
    // How often a template file was decoded (a changed or new file).
    int templateReads() const { return templateReads_; }
    std::size_t cachedTemplates() const { return cache_.size(); }

private:
    struct CachedTemplate {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        cv::Mat grey; // empty when the file could not be decoded
        bool used = false;
    };
    // The grey template of path, decoded again only when the file's size or modification time changed; null when
    // the file is missing or cannot be decoded.
    const cv::Mat* Template(const std::string& path);

    Engine& engine_;
    const CAppIni& settings_;
    platform::Screen& screen_;
    RunView& view_;

    std::unordered_map<std::string, CachedTemplate> cache_;
    int templateReads_ = 0;
    // Reused from tick to tick so that an evaluation allocates nothing once the sizes settle.
    platform::BgraImage capture_;
    cv::Mat grey_;
    cv::Mat result_;
    cv::Mat picture8_;
    cv::Mat picture_;
};

// match := maxVal × 100 ≥ the threshold in percent (imageOptions bits 0..15). The correlation of an exact copy
// comes out of single-precision arithmetic up to about 1e-6 below 1, so a value within kImageMatchSlackPercent of
// the threshold counts as reaching it; otherwise a threshold of 100 would miss most perfect matches.
inline constexpr double kImageMatchSlackPercent = 1e-3;
bool ImageMatchReaches(double maxVal, int32_t imageOptions);

} // namespace quillet
