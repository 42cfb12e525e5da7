#include "triggers/image_trigger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include <opencv2/imgproc.hpp>

#include "imagefile/image_file.h"
#include "imagefile/image_mat.h"

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

ThreadMatchWorker::ThreadMatchWorker() {
    thread_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr; // what it holds goes on this thread, not under the lock
            lock.lock();
        }
    });
}

ThreadMatchWorker::~ThreadMatchWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    ready_.notify_one();
    thread_.join();
}

void ThreadMatchWorker::Submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
}

ImageTrigger::ImageTrigger(Engine& engine, const CAppIni& settings, platform::Screen& screen)
    : ImageTrigger(engine, settings, screen, nullptr, nullptr) {}

ImageTrigger::ImageTrigger(Engine& engine, const CAppIni& settings, platform::Screen& screen, platform::Poster post,
                           std::unique_ptr<MatchWorker> worker)
    : engine_(engine), settings_(settings), screen_(screen), post_(std::move(post)),
      worker_(std::move(worker)), self_(std::make_shared<ImageTrigger*>(this)) {
    if (!post_) post_ = [](std::function<void()> fn) { fn(); };
    if (!worker_) worker_ = std::make_unique<InlineMatchWorker>();
    KeepScratchMemory();
}

ImageTrigger::~ImageTrigger() {
    self_.reset();   // results still on their way find nobody
    worker_.reset(); // waits for the search in hand
}

int ImageTrigger::inFlight() const {
    int n = 0;
    for (const Condition& c : conditions_) n += c.inFlight ? 1 : 0;
    return n;
}

std::optional<ImageMatch> ImageTrigger::LastResult(std::size_t index) const {
    if (index >= conditions_.size() || !conditions_[index].last) return std::nullopt;
    return conditions_[index].last->match;
}

void ImageTrigger::Cancel() {
    ++epoch_;
    conditions_.clear();
}

const ImageTrigger::CachedTemplate* ImageTrigger::Template(const std::string& path) {
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
        entry.generation = ++templateGenerations_;
        ++templateReads_;
        ReadTemplateGrey(path, entry.grey);
    }
    return entry.grey.empty() ? nullptr : &entry;
}

namespace {

std::optional<platform::ScreenRect> SearchRect(const Macro& m, int64_t tw, int64_t th) {
    return ImageSearchRect(PointX(m.imageRectStart), PointY(m.imageRectStart), PointX(m.imageRectEnd),
                           PointY(m.imageRectEnd), tw, th);
}

bool CaptureFits(const platform::BgraImage& capture, const platform::ScreenRect& search) {
    return capture.width == search.width && capture.height == search.height &&
           capture.pixels.size() >= static_cast<std::size_t>(search.width) * search.height * 4;
}

bool SameBytes(const cv::Mat& a, const cv::Mat& b) {
    if (a.size() != b.size() || a.type() != b.type()) return false;
    const std::size_t row = static_cast<std::size_t>(a.cols) * a.elemSize();
    for (int r = 0; r < a.rows; ++r)
        if (std::memcmp(a.ptr(r), b.ptr(r), row) != 0) return false;
    return true;
}

} // namespace

std::optional<ImageMatch> ImageTrigger::Match(const Macro& m) {
    const CachedTemplate* t = Template(m.imagePath);
    if (t == nullptr) return std::nullopt;
    const cv::Mat& templ = t->grey;
    const std::optional<platform::ScreenRect> search = SearchRect(m, templ.cols, templ.rows);
    if (!search) return std::nullopt;
    if (!screen_.Capture(*search, capture_) || !CaptureFits(capture_, *search)) return std::nullopt;
    // A header over the captured pixels: no copy.
    const cv::Mat bgra(capture_.height, capture_.width, CV_8UC4, capture_.pixels.data());
    cv::cvtColor(bgra, grey_, cv::COLOR_BGRA2GRAY);

    ImageMatch match;
    match.templateSize = templ.size();
    match.search = *search;
    match.maxVal = MatchGrey(grey_, templ, result_, match.maxLoc);
    match.resultSize = result_.size();
    match.origin = {search->left + match.maxLoc.x + templ.cols / 2, search->top + match.maxLoc.y + templ.rows / 2};
    return match;
}

std::shared_ptr<ImageTrigger::Outcome> ImageTrigger::CopyAndSearch(platform::Screen& screen, platform::BgraImage buffer,
                                                                   const cv::Mat& templ,
                                                                   const platform::ScreenRect& search,
                                                                   std::shared_ptr<const Outcome> previous) {
    if (!screen.Capture(search, buffer) || !CaptureFits(buffer, search)) {
        auto failed = std::make_shared<Outcome>();
        failed->copied = false;
        failed->buffer = std::move(buffer);
        return failed;
    }
    return Search(std::move(buffer), templ, search, std::move(previous));
}

std::shared_ptr<ImageTrigger::Outcome> ImageTrigger::Search(platform::BgraImage capture, const cv::Mat& templ,
                                                            const platform::ScreenRect& search,
                                                            std::shared_ptr<const Outcome> previous) {
    auto out = std::make_shared<Outcome>();
    const cv::Mat bgra(capture.height, capture.width, CV_8UC4, capture.pixels.data());
    // The previous outcome's grey copy is never written again (outcomes are shared read-only), so it can be compared
    // here while the evaluating thread holds it.
    cv::cvtColor(bgra, out->grey, cv::COLOR_BGRA2GRAY);
    out->buffer = std::move(capture);
    if (previous && previous->match.search == search && SameBytes(previous->grey, out->grey)) {
        // The same pixels and (the caller made sure) the same template: the same answer.
        out->match = previous->match;
        out->map = previous->map;
        out->reused = true;
        return out;
    }
    ImageMatch& match = out->match;
    match.templateSize = templ.size();
    match.search = search;
    match.maxVal = MatchGrey(out->grey, templ, out->map, match.maxLoc);
    match.resultSize = out->map.size();
    match.origin = {search.left + match.maxLoc.x + templ.cols / 2, search.top + match.maxLoc.y + templ.rows / 2};
    return out;
}

const cv::Mat& ImageTrigger::RenderResult(const ImageMatch& match) {
    return RenderResult(match, result_);
}

const cv::Mat& ImageTrigger::RenderResult(const ImageMatch& match, const cv::Mat& map) {
    // What a window shows of the floating-point map: values scaled by 255 and saturated.
    map.convertTo(picture8_, CV_8U, 255.0);
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
    conditions_.resize(library.size());
    for (std::size_t i = 0; i < library.size(); ++i) {
        Macro& m = library[i];
        Condition& c = conditions_[i];
        if ((m.flags & FlagStartImage) == 0) {
            if (!c.inFlight) c = Condition{};
            continue;
        }
        if (c.inFlight) {
            // Its result is on its way; Template() below would otherwise let its template go.
            if (auto it = cache_.find(m.imagePath); it != cache_.end()) it->second.used = true;
            ++counters_.skippedInFlight;
            continue;
        }
        const CachedTemplate* t = Template(m.imagePath);
        if (t == nullptr) continue; // lastImageMatch keeps its value
        const std::optional<platform::ScreenRect> search = SearchRect(m, t->grey.cols, t->grey.rows);
        if (!search) continue;
        const bool sameSetup =
            c.last && c.path == m.imagePath && c.templateGeneration == t->generation && c.search == *search;
        if (!sameSetup) c.last.reset();
        // Taken before the copy: a change after it shows as a new stamp next time.
        const std::optional<uint64_t> stamp = screen_.ChangeStamp(*search);
        if (sameSetup && stamp && c.stamp == stamp) {
            ++counters_.unchangedAreas;
            Apply(m, *c.last);
            continue;
        }
        platform::BgraImage capture = std::move(c.spare);
        const bool copyHere = !screen_.CaptureFromAnyThread();
        if (copyHere) {
            if (!screen_.Capture(*search, capture) || !CaptureFits(capture, *search)) {
                c.spare = std::move(capture);
                continue;
            }
            ++counters_.captures;
        }
        c.inFlight = true;
        std::weak_ptr<ImageTrigger*> self = self_;
        // Shallow copies: the cache replaces a template, it never writes into one. The screen outlives the trigger,
        // whose destruction waits for the worker.
        worker_->Submit([self, post = post_, &screen = screen_, copyHere, capture = std::move(capture), templ = t->grey,
                         search = *search, previous = c.last, index = i, epoch = epoch_, stamp, path = m.imagePath,
                         generation = t->generation]() mutable {
            std::shared_ptr<Outcome> outcome =
                copyHere ? Search(std::move(capture), templ, search, std::move(previous))
                         : CopyAndSearch(screen, std::move(capture), templ, search, std::move(previous));
            post([self, outcome = std::move(outcome), index, epoch, stamp, path = std::move(path), generation] {
                if (const auto alive = self.lock()) (*alive)->Finish(index, epoch, outcome, stamp, path, generation);
            });
        });
    }
    // Templates no condition asked for this time (a macro deleted, a path changed) are let go.
    std::erase_if(cache_, [](const auto& entry) { return !entry.second.used; });
}

void ImageTrigger::Finish(std::size_t index, uint64_t epoch, std::shared_ptr<Outcome> outcome,
                          std::optional<uint64_t> stamp, const std::string& path, uint64_t generation) {
    if (epoch != epoch_ || index >= conditions_.size() || !engine_.runMode) {
        ++counters_.dropped;
        return;
    }
    Condition& c = conditions_[index];
    c.inFlight = false;
    c.spare = std::move(outcome->buffer);
    if (!outcome->copied) return; // lastImageMatch keeps its value, as when the copy fails at once
    if (screen_.CaptureFromAnyThread()) ++counters_.captures;
    ++(outcome->reused ? counters_.reusedCopies : counters_.searches);
    c.path = path;
    c.templateGeneration = generation;
    c.search = outcome->match.search;
    c.stamp = stamp;
    c.last = outcome;
    MacroLibrary& library = engine_.library();
    if (index < library.size() && (library[index].flags & FlagStartImage) != 0) Apply(library[index], *outcome);
}

void ImageTrigger::Apply(Macro& m, const Outcome& outcome) {
    const ImageMatch& match = outcome.match;
    const auto index = static_cast<std::size_t>(&m - engine_.library().data());
    if ((settings_.macroOptions & OptionImageResultWindow) != 0 && resultSink_) {
        const cv::Mat& picture = RenderResult(match, outcome.map);
        resultSink_(index, BgrImageView{picture.cols, picture.rows, picture.step, picture.data});
    }
    const bool matched = ImageMatchReaches(match.maxVal, m.imageOptions);
    if (matched && matchSink_) matchSink_(index, match.origin, match.maxVal);
    const bool fire = (m.flags & FlagImageOnChange) != 0 ? matched && !m.lastImageMatch : matched;
    if (!IsRunning(m) && fire) engine_.StartMacroWithOrigin(m, 1, match.origin, (m.imageOptions & ImageMoveMouse) != 0);
    m.lastImageMatch = matched;
}

bool ReadTemplateGrey(const std::string& cp949Path, cv::Mat& grey, std::string* problem) {
    const ImageDecodeResult decoded = DecodeImageFile(cp949Path);
    if (!decoded.ok()) {
        if (problem) *problem = decoded.problem;
        grey.release();
        return false;
    }
    cv::cvtColor(BgrMatView(decoded.image.picture), grey, cv::COLOR_BGR2GRAY);
    return true;
}

std::optional<platform::ScreenRect> ImageSearchRect(int32_t sx, int32_t sy, int32_t ex, int32_t ey, int64_t tw,
                                                    int64_t th) {
    const int64_t w = std::max(int64_t{ex}, int64_t{sx} + tw) - sx;
    const int64_t h = std::max(int64_t{ey}, int64_t{sy} + th) - sy;
    if (w <= 0 || h <= 0 || w * h > kMaxImageSearchPixels) return std::nullopt;
    return platform::ScreenRect{sx, sy, static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

double MatchGrey(const cv::Mat& grey, const cv::Mat& templ, cv::Mat& map, cv::Point& best) {
    double score = 0.0;
    cv::matchTemplate(grey, templ, map, cv::TM_CCOEFF_NORMED);
    cv::minMaxLoc(map, nullptr, &score, nullptr, &best);
    return score;
}

} // namespace quillet
