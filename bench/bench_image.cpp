// One evaluation of an image condition (grey matching of a 50 x 50 template) over a 400 x 300 and a 1920 x 1080
// search area: with the decoded template kept between ticks, and with the file read and decoded every time.
//
// The screen is a 1920 x 1080 noise picture held in memory; its copy is a row-by-row memcpy, about what a
// shared-memory screen grab costs, so the figures are the work of this program rather than of the display server.
// The template is placed inside the area, so every evaluation also finds it (the macro is kept running so that
// nothing but the evaluation is timed).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/engine.h"
#include "platform/fake/fake_platform.h"
#include "triggers/image_trigger.h"

namespace {

using namespace quillet;

constexpr int kScreenW = 1920;
constexpr int kScreenH = 1080;
constexpr int kTemplate = 50;

class MemoryScreen final : public platform::Screen {
public:
    explicit MemoryScreen(const cv::Mat& bgra) : image_(bgra) {}
    uint32_t Pixel(int32_t x, int32_t y) override {
        if (x < 0 || y < 0 || x >= image_.cols || y >= image_.rows) return platform::CLR_INVALID;
        const cv::Vec4b p = image_.at<cv::Vec4b>(y, x);
        return static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[0]) << 16;
    }
    bool Capture(const platform::ScreenRect& rect, platform::BgraImage& out) override {
        if (rect.width <= 0 || rect.height <= 0) return false;
        out.width = rect.width;
        out.height = rect.height;
        out.pixels.resize(static_cast<std::size_t>(rect.width) * rect.height * 4);
        const int x0 = std::max(rect.left, 0);
        const int x1 = std::min(rect.left + rect.width, image_.cols);
        for (int r = 0; r < rect.height; ++r) {
            uint8_t* row = out.row(r);
            const int y = rect.top + r;
            if (y < 0 || y >= image_.rows || x0 >= x1) {
                std::memset(row, 0, static_cast<std::size_t>(rect.width) * 4);
                continue;
            }
            std::memcpy(row + (x0 - rect.left) * 4, image_.ptr<uint8_t>(y) + x0 * 4,
                        static_cast<std::size_t>(x1 - x0) * 4);
        }
        return true;
    }

private:
    cv::Mat image_;
};

struct Scene {
    Scene() {
        cv::Mat screen(kScreenH, kScreenW, CV_8UC4);
        cv::RNG rng(42);
        rng.fill(screen, cv::RNG::UNIFORM, 0, 256);
        cv::Mat templ(kTemplate, kTemplate, CV_8UC3);
        rng.fill(templ, cv::RNG::UNIFORM, 0, 256);
        // The template also appears on the screen (at 200, 150: inside both search areas).
        cv::Mat placed;
        cv::cvtColor(templ, placed, cv::COLOR_BGR2BGRA);
        placed.copyTo(screen(cv::Rect(200, 150, kTemplate, kTemplate)));
        screenImage = std::make_unique<MemoryScreen>(screen);

        dir = std::filesystem::temp_directory_path() / "quillet-bench-image";
        std::filesystem::create_directories(dir);
        path = (dir / "template.png").string();
        cv::imwrite(path, templ);

        settings.macroOptions = 0;
        engine.StartRunMode();
        Macro m = MakeNewMacro("image");
        m.flags = FlagStartImage;
        m.items.push_back(MakeDelayItem(1000000, DelayTime));
        m.imagePath = path;
        library.push_back(std::move(m));
        engine.StartMacro(library[0], 1);
    }
    ~Scene() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    void SetArea(int w, int h) {
        library[0].imageRectStart = PackPoint(0, 0);
        library[0].imageRectEnd = PackPoint(w, h);
    }

    platform::FakePlatform fake;
    std::unique_ptr<MemoryScreen> screenImage;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    MacroLibrary library;
    Engine engine{library, settings, fake.platform(), 1u};
    std::unique_ptr<ImageTrigger> trigger;
    std::filesystem::path dir;
    std::string path;
};

Scene& TheScene() {
    static Scene scene;
    if (!scene.trigger)
        scene.trigger = std::make_unique<ImageTrigger>(scene.engine, scene.settings, *scene.screenImage);
    return scene;
}

void Evaluate(benchmark::State& state, bool cached) {
    Scene& scene = TheScene();
    scene.SetArea(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    ImageTrigger& trigger = *scene.trigger;
    trigger.ClearTemplateCache();
    trigger.EvaluateImageTriggers(); // sizes the reused buffers
    const auto match = trigger.Match(scene.library[0]);
    if (!match || !scene.library[0].lastImageMatch) state.SkipWithError("template not found");
    const int readsBefore = trigger.templateReads();
    for (auto _ : state) {
        if (!cached) trigger.ClearTemplateCache();
        trigger.EvaluateImageTriggers();
    }
    state.counters["templateReads"] = trigger.templateReads() - readsBefore;
    state.SetLabel(cached ? "cached" : "file read each time");
}

void BM_ImageCached(benchmark::State& state) {
    Evaluate(state, true);
}
void BM_ImageUncached(benchmark::State& state) {
    Evaluate(state, false);
}

BENCHMARK(BM_ImageCached)->Args({400, 300})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageUncached)->Args({400, 300})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
