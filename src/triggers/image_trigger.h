// The image start condition: a template picture searched for in a rectangle of the screen by normalised
// correlation-coefficient matching in grey levels.
//
// Cost. The search itself runs on a worker (MatchWorker), never on the thread that evaluates the conditions: that
// thread only copies the screen rectangle and hands the copy over (or, where the screen allows copies from any
// thread, leaves the copy to the worker too); the result is applied on it later, through the Poster, as soon as the
// search is done. At most one search per condition is in flight; a condition whose search
// is still running is left out of the evaluation until its result has been applied. An area that has not changed
// gives the same answer without a search: the worker compares the new grey copy with the last one, byte for byte,
// and reuses the last result when both the copy and the template are the same (exact by construction). Where the
// screen says what changed (Screen::ChangeStamp, X11 Damage), an area with no change since the last copy is not
// even copied. Leaving run mode (Cancel) drops what is in flight: results that arrive afterwards are ignored.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "engine/engine.h"
#include "model/macro.h"
#include "model/option_bits.h"
#include "model/settings.h"
#include "platform/platform.h"
#include "triggers/run_mode.h"

namespace quillet {

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

// Where searches run. Submit may be called from the evaluating thread only; jobs must not touch the trigger.
class MatchWorker {
public:
    virtual ~MatchWorker() = default;
    virtual void Submit(std::function<void()> job) = 0;
};

// Runs each job at once on the caller's thread: the evaluation is then synchronous (tests, tools).
class InlineMatchWorker final : public MatchWorker {
public:
    void Submit(std::function<void()> job) override { job(); }
};

// One background thread, jobs in submission order. Destruction waits for the job in hand and drops the others.
class ThreadMatchWorker final : public MatchWorker {
public:
    ThreadMatchWorker();
    ~ThreadMatchWorker() override;
    void Submit(std::function<void()> job) override;

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

class ImageTrigger final : public ImageConditions {
public:
    // Synchronous: searches run inline and their results are applied before EvaluateImageTriggers returns.
    ImageTrigger(Engine& engine, const CAppIni& settings, platform::Screen& screen);
    // Searches run on `worker`; their results come back through `post` (which runs a closure on this object's
    // thread). The worker goes with the trigger.
    ImageTrigger(Engine& engine, const CAppIni& settings, platform::Screen& screen,
                 platform::Poster post, std::unique_ptr<MatchWorker> worker);
    ~ImageTrigger() override;
    ImageTrigger(const ImageTrigger&) = delete;
    ImageTrigger& operator=(const ImageTrigger&) = delete;

    // Timer 1003, after the colour conditions: in run mode, every macro with the image condition (running or idle)
    // is matched; an idle one is started when the match reaches its threshold (in change-only mode only when the
    // previous evaluation did not match). Nothing in edit mode.
    void EvaluateImageTriggers() override;
    // Run mode ends: searches in flight are forgotten, their results never applied.
    void Cancel() override;

    // What the evaluations did, for tests and benchmarks.
    struct Counters {
        int captures = 0;        // screen rectangles copied
        int searches = 0;        // template searches run
        int reusedCopies = 0;    // a copy equal to the last one: its result reused
        int unchangedAreas = 0;  // the screen said nothing changed: neither copied nor searched
        int skippedInFlight = 0; // left out because its search was still running
        int dropped = 0;         // results that arrived after Cancel
    };
    const Counters& counters() const { return counters_; }
    // Searches handed to the worker whose results have not been applied (or dropped) yet.
    int inFlight() const;
    // The result last applied for the macro at a library index, if any.
    std::optional<ImageMatch> LastResult(std::size_t index) const;

    // The plain search, synchronous and without any reuse: matches m's template against its rectangle; nothing when the
    // template cannot be read, the rectangle is empty or too large, or the screen cannot be copied. The result map
    // stays in resultMap() until the next call.
    std::optional<ImageMatch> Match(const Macro& m);
    const cv::Mat& resultMap() const { return result_; }

    // The picture the result window shows for the last match: the correlation map in grey as an 8-bit BGR image
    // (negative values black, 1.0 white), with a red circle and the red text "(x,y) p%" when the match is better
    // than 0.3. Valid until the next call.
    const cv::Mat& RenderResult(const ImageMatch& match);
    // The same for a given correlation map.
    const cv::Mat& RenderResult(const ImageMatch& match, const cv::Mat& map);

    // Told of every condition that found its picture (the score reached the macro's threshold): the library index,
    // the picture's centre and the score. Empty = not told.
    using MatchSink = std::function<void(std::size_t index, Point origin, double score)>;
    void SetMatchSink(MatchSink sink) { matchSink_ = std::move(sink); }
    // Told of every search's result picture (RenderResult) while macroOptions asks for the result window: the
    // library index and the picture, valid only during the call. Empty = not told (and nothing is drawn).
    using ResultSink = std::function<void(std::size_t index, const BgrImageView& picture)>;
    void SetResultSink(ResultSink sink) { resultSink_ = std::move(sink); }

    // Forgets every decoded template; the next evaluation reads the files again.
    void ClearTemplateCache() { cache_.clear(); }
    // How often a template file was decoded (a changed or new file).
    int templateReads() const { return templateReads_; }
    std::size_t cachedTemplates() const { return cache_.size(); }

private:
    struct CachedTemplate {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        cv::Mat grey;            // empty when the file could not be decoded; replaced, never changed in place
        uint64_t generation = 0; // a new number at every decode
        bool used = false;
    };
    // The grey template of path, decoded again only when the file's size or modification time changed; null when
    // the file is missing or cannot be decoded.
    const CachedTemplate* Template(const std::string& path);

    // What the worker hands back for one condition.
    struct Outcome {
        ImageMatch match;
        cv::Mat map;                // the correlation map
        cv::Mat grey;               // the grey copy it was searched in
        platform::BgraImage buffer; // the copy's buffer, for the next copy
        bool reused = false;
        bool copied = true; // false: the screen could not be copied (nothing to apply)
    };
    // Per macro (by library index), what the last search saw and found.
    struct Condition {
        bool inFlight = false;
        std::string path;
        uint64_t templateGeneration = 0;
        platform::ScreenRect search;
        std::optional<uint64_t> stamp; // the screen's change stamp taken before the copy
        std::shared_ptr<const Outcome> last;
        platform::BgraImage spare; // a buffer for the next copy
    };
    void Finish(std::size_t index, uint64_t epoch, std::shared_ptr<Outcome> outcome, std::optional<uint64_t> stamp,
                const std::string& path, uint64_t generation);
    void Apply(Macro& m, const Outcome& outcome);
    static std::shared_ptr<Outcome> Search(platform::BgraImage capture, const cv::Mat& templ,
                                           const platform::ScreenRect& search, std::shared_ptr<const Outcome> previous);
    // Copies the area where the worker runs (screens that allow it), then searches.
    static std::shared_ptr<Outcome> CopyAndSearch(platform::Screen& screen, platform::BgraImage buffer,
                                                  const cv::Mat& templ, const platform::ScreenRect& search,
                                                  std::shared_ptr<const Outcome> previous);

    Engine& engine_;
    const CAppIni& settings_;
    platform::Screen& screen_;
    MatchSink matchSink_;
    ResultSink resultSink_;

    platform::Poster post_;
    std::unique_ptr<MatchWorker> worker_;
    // Closures posted by the worker hold a weak reference: those that arrive after the trigger is gone do nothing.
    std::shared_ptr<ImageTrigger*> self_;
    uint64_t epoch_ = 0; // grows at every Cancel
    std::vector<Condition> conditions_;
    Counters counters_;
    uint64_t templateGenerations_ = 0;

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

// The pieces of the image condition that quillet-cli match uses too, so that it finds what the condition finds.
// The template as the condition reads it: the picture file decoded (PNG, JPEG, BMP, GIF) and made grey. False, with
// the reason in problem when given, when it cannot be decoded.
bool ReadTemplateGrey(const std::string& cp949Path, cv::Mat& grey, std::string* problem = nullptr);
// The search rectangle from the start corner (sx, sy) to the end corner (ex, ey) for a template of tw x th: never
// smaller than the template (an end left at 0, or before the start, searches one template-sized area). Nothing
// when it is empty or larger than kMaxImageSearchPixels.
std::optional<platform::ScreenRect> ImageSearchRect(int32_t sx, int32_t sy, int32_t ex, int32_t ey, int64_t tw,
                                                    int64_t th);
// The search: the correlation map of the grey template over the grey picture (TM_CCOEFF_NORMED) into map, and its
// best score with the top-left corner of the best place.
double MatchGrey(const cv::Mat& grey, const cv::Mat& templ, cv::Mat& map, cv::Point& best);

} // namespace quillet
