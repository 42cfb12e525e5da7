// The image condition against the plain search, on the X11 backend under a private Xvfb (1920 x 1080): a noise
// picture on the screen, a 50 x 50 template cut from it, a search area of the whole screen.
//   - unchanged screen: time per evaluation, with change stamps (X11 Damage) and with copies compared;
//   - screen changed before every evaluation (one pixel inside the area): time per evaluation;
//   - with the search on a worker thread, the longest time one evaluation holds the evaluating thread.
// Each figure is the median (and for the hold time also the maximum) of many evaluations; the plain search is
// measured in the same run. Prints the figures and the machine's load average.
//   build/bench/bench_image_conditions [evaluations]
#include "platform/platform.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/engine.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/xvfb_server.h"
#include "triggers/image_trigger.h"
#include "triggers/pixel_batch.h"

// X headers last.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace quillet;
using Clock = std::chrono::steady_clock;
constexpr int kW = 1920, kH = 1080, kT = 50;

// The screen without change stamps: the trigger then compares copies.
class NoStamps final : public platform::Screen {
public:
    explicit NoStamps(platform::Screen& s) : s_(s) {}
    uint32_t Pixel(int32_t x, int32_t y) override { return s_.Pixel(x, y); }
    bool Capture(const platform::ScreenRect& r, platform::BgraImage& out) override { return s_.Capture(r, out); }

private:
    platform::Screen& s_;
};

// Another program drawing on the screen.
class Painter {
public:
    explicit Painter(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {}
    ~Painter() {
        if (dpy_ != nullptr) XCloseDisplay(dpy_);
    }
    bool ok() const { return dpy_ != nullptr; }
    void Put(const cv::Mat& bgra) {
        XImage* image = XCreateImage(dpy_, DefaultVisual(dpy_, 0), 24, ZPixmap, 0,
                                     reinterpret_cast<char*>(const_cast<uint8_t*>(bgra.data)), bgra.cols, bgra.rows, 32,
                                     static_cast<int>(bgra.step));
        XPutImage(dpy_, DefaultRootWindow(dpy_), DefaultGC(dpy_, 0), image, 0, 0, 0, 0, bgra.cols, bgra.rows);
        image->data = nullptr;
        XDestroyImage(image);
        XSync(dpy_, False);
    }
    // One pixel inside the area, a different colour each time.
    void Touch() {
        XSetForeground(dpy_, DefaultGC(dpy_, 0), static_cast<unsigned long>(++n_ * 2654435761u) & 0xFFFFFF);
        XDrawPoint(dpy_, DefaultRootWindow(dpy_), DefaultGC(dpy_, 0), 1500, 900);
        XSync(dpy_, False);
    }

private:
    Display* dpy_;
    unsigned n_ = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> std::vector<double> TimeEach(int n, F&& f, const std::function<void()>& before = {}) {
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        if (before) before();
        const auto t0 = Clock::now();
        f();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(3, std::atoi(argv[1])) : 25;
    std::string error;
    auto xvfb = platform::x11::XvfbServer::Start(kW, kH, error);
    if (!xvfb) {
        std::fprintf(stderr, "bench_image_conditions: %s\n", error.c_str());
        return 1;
    }
    platform::x11::X11Options options;
    options.display = xvfb->display();
    auto x11 = platform::x11::X11Platform::Open(options, error);
    Painter painter(xvfb->display());
    if (!x11 || !painter.ok()) {
        std::fprintf(stderr, "bench_image_conditions: %s\n", error.c_str());
        return 1;
    }
    cv::Mat screen(kH, kW, CV_8UC4);
    cv::RNG rng(42);
    rng.fill(screen, cv::RNG::UNIFORM, 0, 256);
    painter.Put(screen);
    cv::Mat templ;
    cv::cvtColor(screen(cv::Rect(200, 150, kT, kT)), templ, cv::COLOR_BGRA2BGR);
    const auto dir = std::filesystem::temp_directory_path() / ("quillet-bench-conditions-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "t.png").string();
    cv::imwrite(path, templ);

    CAppIni settings("/nonexistent-quillet-dir/Quillet.ini", false);
    settings.macroOptions = 0;
    MacroLibrary library;
    Engine engine(library, settings, x11->platform(), 1u);
    engine.StartRunMode();
    Macro m = MakeNewMacro("image");
    m.flags = FlagStartImage;
    m.items.push_back(MakeDelayItem(1000000, DelayTime));
    m.imagePath = path;
    m.imageRectStart = PackPoint(0, 0);
    m.imageRectEnd = PackPoint(kW, kH);
    library.push_back(std::move(m));
    engine.StartMacro(library[0], 1); // kept running: only the evaluation is timed
    NoStamps noStamps(x11->screen());

    ImageTrigger plain(engine, settings, x11->screen());
    ImageTrigger damage(engine, settings, x11->screen());
    ImageTrigger compare(engine, settings, noStamps);
    if (!plain.Match(library[0])) {
        std::fprintf(stderr, "bench_image_conditions: the search found nothing to search\n");
        return 1;
    }
    damage.EvaluateImageTriggers();
    compare.EvaluateImageTriggers();

    const double plainUnchanged = Median(TimeEach(n, [&] { plain.Match(library[0]); }));
    const double damageUnchanged = Median(TimeEach(n * 20, [&] { damage.EvaluateImageTriggers(); }));
    const double compareUnchanged = Median(TimeEach(n, [&] { compare.EvaluateImageTriggers(); }));
    const auto touch = [&] { painter.Touch(); };
    // Interleaved, so that a change in the machine's load falls on all three alike.
    std::vector<double> plainMs, damageMs, compareMs;
    for (int i = 0; i < n; ++i) {
        plainMs.push_back(TimeEach(
            1, [&] { plain.Match(library[0]); }, touch)[0]);
        damageMs.push_back(TimeEach(
            1, [&] { damage.EvaluateImageTriggers(); }, touch)[0]);
        compareMs.push_back(TimeEach(
            1, [&] { compare.EvaluateImageTriggers(); }, touch)[0]);
    }
    const double plainChanged = Median(plainMs), damageChanged = Median(damageMs), compareChanged = Median(compareMs);

    // The session's arrangement: searches on a worker, results posted back to this thread.
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::function<void()>> posted;
    ImageTrigger threaded(
        engine, settings, x11->screen(),
        [&](std::function<void()> fn) {
            {
                std::lock_guard lock(mutex);
                posted.push_back(std::move(fn));
            }
            cv.notify_one();
        },
        std::make_unique<ThreadMatchWorker>());
    const auto awaitResult = [&] {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return !posted.empty(); });
        auto fn = std::move(posted.front());
        posted.pop_front();
        lock.unlock();
        fn();
    };
    std::vector<double> hold;
    for (int i = 0; i < n; ++i) {
        painter.Touch();
        const auto t0 = Clock::now();
        threaded.EvaluateImageTriggers();
        hold.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        awaitResult();
    }

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("1920 x 1080 area, 50 x 50 template, X11 backend under Xvfb, load average %.2f %.2f %.2f\n", load[0],
                load[1], load[2]);
    std::printf("  plain search (copy, grey, match):        unchanged %7.2f ms   changed %7.2f ms\n", plainUnchanged,
                plainChanged);
    std::printf("  condition, change stamps (X11 Damage):   unchanged %7.3f ms   changed %7.2f ms\n", damageUnchanged,
                damageChanged);
    std::printf("  condition, copies compared:              unchanged %7.2f ms   changed %7.2f ms\n", compareUnchanged,
                compareChanged);
    std::printf("  unchanged screen: %.0f x faster with change stamps, %.1f x with copies compared (goal >= 20 x)\n",
                plainUnchanged / damageUnchanged, plainUnchanged / compareUnchanged);
    std::printf("  changed screen: ratio to the plain search %.3f with change stamps, %.3f with copies compared "
                "(goal <= 1.05)\n",
                damageChanged / plainChanged, compareChanged / plainChanged);
    std::printf("  evaluating thread held by one evaluation (search on a worker, screen changed each time): median "
                "%.2f ms, max %.2f ms (goal <= 5 ms)\n",
                Median(hold), *std::max_element(hold.begin(), hold.end()));
    // The colour poll: n pixels within 100 x 100 read one by one, and from one copy.
    for (int count : {2, 4, 8}) {
        std::vector<platform::ScreenPoint> points;
        for (int i = 0; i < count; ++i) points.push_back({300 + i * 11, 200 + i * 13});
        uint32_t sink = 0;
        const double single = Median(TimeEach(n * 20, [&] {
            for (const auto& p : points) sink += x11->screen().Pixel(p.x, p.y);
        }));
        const double batched = Median(TimeEach(n * 20, [&] {
            PixelBatch batch(x11->screen(), x11->io().VirtualScreen(), points);
            for (const auto& p : points) sink += batch.Pixel(p.x, p.y);
        }));
        std::printf("  colour poll of %d pixels: one by one %.3f ms, one copy %.3f ms%s\n", count, single, batched,
                    sink == 1 ? " " : "");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
