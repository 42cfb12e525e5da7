// The image condition on synthetic screens: noise pictures painted into the fake screen, templates written as PNG
// files under a temporary directory.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "model/cp949.h"
#include "trigger_fixture.h"

namespace quillet::triggertest {
namespace {

namespace fs = std::filesystem;

constexpr int kScreenW = 320;
constexpr int kScreenH = 240;
constexpr int kTw = 24;
constexpr int kTh = 20;

cv::Mat Noise(int w, int h, uint64_t seed) {
    cv::Mat m(h, w, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

class ImageTest : public TriggerTest {
protected:
    ImageTest() {
        static int serial = 0;
        dir = fs::temp_directory_path() /
              ("quillet-image-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               std::to_string(serial++) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(dir);
        fake.SetPrimaryScreenSize(kScreenW, kScreenH);
        Paint(Noise(kScreenW, kScreenH, 1), 0, 0);
        templ = Noise(kTw, kTh, 2);
    }
    ~ImageTest() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Paints a BGR picture into the fake screen with its top-left corner at (x, y).
    void Paint(const cv::Mat& bgr, int x, int y) {
        for (int r = 0; r < bgr.rows; ++r)
            for (int c = 0; c < bgr.cols; ++c) {
                const cv::Vec3b p = bgr.at<cv::Vec3b>(r, c);
                fake.SetPixel(x + c, y + r, static_cast<uint32_t>(MakeColor(p[2], p[1], p[0])));
            }
    }
    std::string Write(const std::string& name, const cv::Mat& picture) {
        const std::string path = (dir / name).string();
        EXPECT_TRUE(cv::imwrite(path, picture));
        return path;
    }
    std::size_t AddImage(const std::string& path, Point start, Point end, int32_t options = 95, int32_t flags = 0,
                         bool shortRun = false) {
        const std::size_t m = Add("image", FlagStartImage | flags, shortRun);
        M(m).imagePath = path;
        M(m).imageRectStart = PackPoint(start);
        M(m).imageRectEnd = PackPoint(end);
        M(m).imageOptions = options;
        return m;
    }
    std::optional<ImageMatch> MatchOf(std::size_t m) { return image.Match(M(m)); }
    void ImageTick() { image.EvaluateImageTriggers(); }

    fs::path dir;
    cv::Mat templ;
};

// Holds the jobs until the test runs them; results come back through a queue the test drains.
class HeldWorker final : public MatchWorker {
public:
    void Submit(std::function<void()> job) override { jobs.push_back(std::move(job)); }
    void RunAll() {
        while (!jobs.empty()) {
            auto job = std::move(jobs.front());
            jobs.erase(jobs.begin());
            job();
        }
    }
    std::vector<std::function<void()>> jobs;
};

// The image condition as the session runs it: searches on a worker, results posted back.
class AsyncImageTest : public ImageTest {
protected:
    AsyncImageTest() {
        auto w = std::make_unique<HeldWorker>();
        worker = w.get();
        async = std::make_unique<ImageTrigger>(
            engine, settings, fake, [this](std::function<void()> fn) { posted.push_back(std::move(fn)); },
            std::move(w));
    }
    void DrainPosted() {
        while (!posted.empty()) {
            auto fn = std::move(posted.front());
            posted.erase(posted.begin());
            fn();
        }
    }
    // One period: the evaluation, then the worker, then the results on this thread.
    void Period() {
        async->EvaluateImageTriggers();
        worker->RunAll();
        DrainPosted();
    }

    HeldWorker* worker = nullptr;
    std::vector<std::function<void()>> posted;
    std::unique_ptr<ImageTrigger> async;
};

TEST_F(AsyncImageTest, ResultsAreThoseOfThePlainSearch) {
    // Found, found partly off the screen, not found, exactly at the threshold, and a one-value map.
    Paint(templ, 100, 60);
    Paint(templ, kScreenW - kTw / 2, 5); // half of it shows
    const std::string path = Write("t.png", templ);
    const std::string other = Write("o.png", Noise(kTw, kTh, 9));
    std::vector<std::size_t> macros = {
        AddImage(path, {0, 0}, {kScreenW, kScreenH}),  AddImage(path, {kScreenW - 60, -10}, {kScreenW + 40, 50}),
        AddImage(other, {0, 0}, {kScreenW, kScreenH}), AddImage(path, {100, 60}, {0, 0}, 100),
        AddImage(path, {90, 50}, {200, 100}, 50),
    };
    engine.runMode = true;
    Period();
    for (std::size_t m : macros) {
        SCOPED_TRACE("macro " + std::to_string(m));
        const std::optional<ImageMatch> plain = MatchOf(m), got = async->LastResult(m);
        ASSERT_TRUE(plain && got);
        EXPECT_EQ(got->maxVal, plain->maxVal);
        EXPECT_EQ(got->maxLoc, plain->maxLoc);
        EXPECT_EQ(got->origin, plain->origin);
        EXPECT_EQ(got->resultSize, plain->resultSize);
        EXPECT_EQ(M(m).lastImageMatch, ImageMatchReaches(plain->maxVal, M(m).imageOptions));
    }
    EXPECT_TRUE(Running(macros[0]));
    EXPECT_FALSE(Running(macros[2]));
    EXPECT_TRUE(Running(macros[3])); // an exact copy reaches 100
    EXPECT_EQ(async->counters().searches, 5);
}

TEST_F(AsyncImageTest, AnUnchangedAreaIsNotSearchedAgainAndAChangeIsFoundAtTheNextPeriod) {
    for (const bool tracked : {false, true}) {
        SCOPED_TRACE(tracked ? "the screen reports changes" : "copies compared");
        fake.SetTracksChanges(tracked);
        library.clear();
        async->Cancel();
        Paint(Noise(kScreenW, kScreenH, 1), 0, 0);
        const std::size_t m =
            AddImage(Write("t.png", templ), {0, 0}, {kScreenW, kScreenH}, 95, FlagImageOnChange, true);
        engine.runMode = true;
        const ImageTrigger::Counters before = async->counters();
        const int capturesBefore = fake.captures();
        for (int i = 0; i < 5; ++i) Period();
        EXPECT_FALSE(Running(m));
        EXPECT_EQ(async->counters().searches - before.searches, 1);
        if (tracked) {
            EXPECT_EQ(fake.captures() - capturesBefore, 1);
            EXPECT_EQ(async->counters().unchangedAreas - before.unchangedAreas, 4);
        } else {
            EXPECT_EQ(async->counters().reusedCopies - before.reusedCopies, 4);
        }
        Paint(templ, 200, 100);
        Period();
        EXPECT_TRUE(Running(m));
        EXPECT_EQ(async->LastResult(m)->origin, (Point{200 + kTw / 2, 100 + kTh / 2}));
        EXPECT_EQ(async->counters().searches - before.searches, 2);
        engine.StopAllMacros(HeldInput::AsSettingSays);
    }
}

TEST_F(AsyncImageTest, OneSearchInFlightPerConditionAndNothingAppliedAfterRunModeEnds) {
    Paint(templ, 30, 40);
    const std::size_t m = AddImage(Write("t.png", templ), {0, 0}, {kScreenW, kScreenH});
    engine.runMode = true;
    async->EvaluateImageTriggers();
    async->EvaluateImageTriggers(); // its search has not run yet: left out
    EXPECT_EQ(worker->jobs.size(), 1u);
    EXPECT_EQ(async->inFlight(), 1);
    EXPECT_EQ(async->counters().skippedInFlight, 1);
    EXPECT_FALSE(Running(m));

    async->Cancel(); // run mode ends with the search in flight
    engine.runMode = false;
    worker->RunAll();
    DrainPosted();
    EXPECT_FALSE(Running(m));
    EXPECT_FALSE(M(m).lastImageMatch);
    EXPECT_EQ(async->inFlight(), 0);
    EXPECT_EQ(async->counters().dropped, 1);

    // Back in run mode it searches afresh.
    engine.runMode = true;
    Period();
    EXPECT_TRUE(Running(m));
}

TEST_F(ImageTest, ATriggerGoneWhileItsSearchRunsAppliesNothing) {
    Paint(templ, 30, 40);
    const std::size_t m = AddImage(Write("t.png", templ), {0, 0}, {kScreenW, kScreenH});
    engine.runMode = true;
    std::vector<std::function<void()>> posted;
    std::mutex mutex;
    {
        ImageTrigger threaded(
            engine, settings, fake,
            [&](std::function<void()> fn) {
                std::lock_guard lock(mutex);
                posted.push_back(std::move(fn));
            },
            std::make_unique<ThreadMatchWorker>());
        threaded.EvaluateImageTriggers();
    } // waits for the search in hand
    std::lock_guard lock(mutex);
    for (auto& fn : posted) fn(); // the result of a search that did finish finds nobody
    EXPECT_FALSE(Running(m));
    EXPECT_FALSE(M(m).lastImageMatch);
}

TEST(ImageThreshold, PercentWithSlackForSinglePrecision) {
    EXPECT_TRUE(ImageMatchReaches(1.0, 100));
    EXPECT_TRUE(ImageMatchReaches(0.9999995, 100));
    EXPECT_FALSE(ImageMatchReaches(0.9999, 100));
    EXPECT_TRUE(ImageMatchReaches(0.95, 95 | ImageMoveMouse));
    EXPECT_FALSE(ImageMatchReaches(0.9499, 95));
    EXPECT_FALSE(ImageMatchReaches(1.0, 101));
}

TEST_F(ImageTest, FindsTheTemplateAtKnownPlacesIncludingEdges) {
    const std::string path = Write("t.png", templ);
    const std::size_t m = AddImage(path, {0, 0}, {kScreenW, kScreenH});
    struct Place {
        int x, y;
    };
    for (const Place p :
         {Place{100, 50}, Place{0, 0}, Place{kScreenW - kTw, kScreenH - kTh}, Place{0, kScreenH - kTh}}) {
        Paint(Noise(kScreenW, kScreenH, 10 + p.x), 0, 0);
        Paint(templ, p.x, p.y);
        const auto match = MatchOf(m);
        ASSERT_TRUE(match) << p.x << "," << p.y;
        EXPECT_EQ(match->maxLoc, cv::Point(p.x, p.y));
        EXPECT_GT(match->maxVal, 0.99999);
        EXPECT_EQ(match->origin, (Point{p.x + kTw / 2, p.y + kTh / 2}));
        EXPECT_EQ(match->resultSize, cv::Size(kScreenW - kTw + 1, kScreenH - kTh + 1));
    }

    // A rectangle that reaches past the screen's bottom-right corner: the copy is black there.
    Paint(templ, kScreenW - kTw, kScreenH - kTh);
    M(m).imageRectStart = PackPoint(280, 200);
    M(m).imageRectEnd = PackPoint(400, 300);
    const auto off = MatchOf(m);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->maxLoc, cv::Point(kScreenW - kTw - 280, kScreenH - kTh - 200));
    EXPECT_EQ(off->origin, (Point{kScreenW - kTw + kTw / 2, kScreenH - kTh + kTh / 2}));
}

TEST_F(ImageTest, TheRectangleIsNeverSmallerThanTheTemplate) {
    const std::string path = Write("t.png", templ);
    Paint(templ, 100, 50);
    // End left at 0, end before the start, end inside the template's area: one template-sized search at the start.
    for (const Point end : {Point{0, 0}, Point{20, 10}, Point{100 + kTw - 1, 50 + kTh}}) {
        const std::size_t m = AddImage(path, {100, 50}, end);
        const auto match = MatchOf(m);
        ASSERT_TRUE(match);
        EXPECT_EQ(match->search, (platform::ScreenRect{100, 50, kTw, kTh}));
        EXPECT_EQ(match->resultSize, cv::Size(1, 1));
        EXPECT_EQ(match->maxLoc, cv::Point(0, 0));
        EXPECT_EQ(match->origin, (Point{100 + kTw / 2, 50 + kTh / 2}));
        EXPECT_GT(match->maxVal, 0.99999);
    }
    // Shifted by one pixel the single place no longer holds the picture.
    const std::size_t shifted = AddImage(path, {101, 50}, {0, 0});
    EXPECT_LT(MatchOf(shifted)->maxVal, 0.5);
}

TEST_F(ImageTest, StartsTheMacroAtTheCentreAndMovesTheMouseOnRequest) {
    const std::string path = Write("t.png", templ);
    Paint(templ, 200, 120);
    const std::size_t still = AddImage(path, {150, 100}, {300, 200});
    const std::size_t moving = AddImage(path, {150, 100}, {300, 200}, 90 | ImageMoveMouse);
    fake.SetCursor(5, 6);
    ImageTick();
    EXPECT_FALSE(Running(still)) << "edit mode";
    EnterRun();
    ImageTick();
    ASSERT_TRUE(Running(still));
    ASSERT_TRUE(Running(moving));
    const Point centre{200 + kTw / 2, 120 + kTh / 2};
    EXPECT_EQ(M(still).originPos, centre);
    EXPECT_EQ(M(still).startPos, (Point{5, 6}));
    EXPECT_EQ(M(moving).originPos, centre);
    const auto moves = fake.MouseEvents();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].flags, platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_ABSOLUTE);
    EXPECT_EQ(moves[0].x, engine.synth().ToAbsoluteX(centre.x));
    EXPECT_EQ(moves[0].y, engine.synth().ToAbsoluteY(centre.y));
}

TEST_F(ImageTest, ThresholdHundredNeedsAnExactCopy) {
    // With a template of this size the correlation of an exact copy comes out just below 1 at most places.
    const cv::Mat big = Noise(50, 50, 3);
    const std::string path = Write("big.png", big);
    const std::size_t exact = AddImage(path, {0, 0}, {kScreenW, kScreenH}, 100);
    EnterRun();
    for (int i = 0; i < 6; ++i) {
        const cv::Point at(13 + 41 * i, 7 + 31 * i);
        Paint(big, at.x, at.y);
        ImageTick();
        EXPECT_TRUE(Running(exact)) << i;
        engine.StopMacro(M(exact), HeldInput::AsSettingSays);
        Paint(Noise(50, 50, 100 + i), at.x, at.y);
    }

    // A picture that differs a little reaches 95 but not 100.
    cv::Mat close = big.clone();
    close(cv::Rect(0, 0, 2, 2)) += cv::Scalar(40, 40, 40);
    Paint(close, 60, 60);
    const std::size_t loose = AddImage(path, {0, 0}, {kScreenW, kScreenH}, 95);
    const auto match = MatchOf(loose);
    ASSERT_TRUE(match);
    EXPECT_GT(match->maxVal, 0.95);
    EXPECT_LT(match->maxVal, 0.9999);
    ImageTick();
    EXPECT_FALSE(Running(exact));
    EXPECT_TRUE(Running(loose));
}

TEST_F(ImageTest, LevelModeRestartsAndChangeOnlyStartsOncePerAppearance) {
    const std::string path = Write("t.png", templ);
    const std::size_t level = AddImage(path, {0, 0}, {kScreenW, kScreenH}, 95, 0, true);
    const std::size_t once = AddImage(path, {0, 0}, {kScreenW, kScreenH}, 95, FlagImageOnChange, true);
    EnterRun();
    Paint(templ, 30, 40);
    ImageTick();
    EXPECT_TRUE(Running(level));
    EXPECT_TRUE(Running(once));
    EngineTick(); // both end while the picture stays
    ASSERT_FALSE(Running(level));
    ASSERT_FALSE(Running(once));
    ImageTick();
    EXPECT_TRUE(Running(level));
    EXPECT_FALSE(Running(once));
    EXPECT_TRUE(M(once).lastImageMatch);

    Paint(Noise(kTw, kTh, 5), 30, 40); // gone for one tick
    ImageTick();
    EXPECT_FALSE(M(once).lastImageMatch);
    Paint(templ, 30, 40);
    ImageTick();
    EXPECT_TRUE(Running(once));
}

TEST_F(ImageTest, RunningMacrosAreMatchedButNeitherRestartedNorStopped) {
    const std::string path = Write("t.png", templ);
    const std::size_t m = AddImage(path, {0, 0}, {kScreenW, kScreenH}, 95, FlagImageOnChange);
    const std::size_t level = AddImage(path, {0, 0}, {kScreenW, kScreenH});
    M(level).items.insert(M(level).items.begin() + 1, MakeKeyItem('A', ActionPress | ActionRelease));
    EnterRun();
    engine.StartMacro(M(m), 1);
    ImageTick();
    EXPECT_FALSE(M(m).lastImageMatch);
    Paint(templ, 0, 0);
    ImageTick();
    EXPECT_TRUE(M(m).lastImageMatch) << "evaluated while running";
    EXPECT_TRUE(Running(m));
    engine.StopMacro(M(m), HeldInput::AsSettingSays);
    ImageTick();
    EXPECT_FALSE(Running(m)) << "the appearance was already seen while the macro ran";

    ASSERT_TRUE(Running(level));
    EngineTick();
    ASSERT_EQ(M(level).runPos, 2);
    ImageTick();
    EXPECT_EQ(M(level).runPos, 2) << "not restarted";
}

TEST_F(ImageTest, MissingOrUndecodableFilesNeverStartAndAreNotDecodedAgainUntilChanged) {
    settings.macroOptions |= OptionImageResultWindow;
    Paint(templ, 0, 0);
    const std::size_t missing = AddImage((dir / "nothing.png").string(), {0, 0}, {0, 0}, 1);
    const std::size_t empty = AddImage("", {0, 0}, {0, 0}, 1);
    const std::string junkPath = (dir / "junk.png").string();
    std::ofstream(junkPath) << "not a picture";
    const std::size_t junk = AddImage(junkPath, {0, 0}, {0, 0}, 1);
    M(junk).lastImageMatch = true; // an unreadable template leaves the memory alone
    const std::size_t dirAsFile = AddImage(dir.string(), {0, 0}, {0, 0}, 1);
    EnterRun();
    for (int i = 0; i < 3; ++i) ImageTick();
    EXPECT_FALSE(Running(missing));
    EXPECT_FALSE(Running(empty));
    EXPECT_FALSE(Running(junk));
    EXPECT_FALSE(Running(dirAsFile));
    EXPECT_TRUE(M(junk).lastImageMatch);
    EXPECT_TRUE(images.empty()) << "no result window for a template that cannot be read";
    EXPECT_EQ(image.templateReads(), 1) << "the undecodable file is tried once";

    // The missing file appears: it takes effect at the next tick.
    Write("nothing.png", templ);
    ImageTick();
    EXPECT_TRUE(Running(missing));
}

TEST_F(ImageTest, AChangedFileTakesEffectAtTheNextTickAndAnUnchangedOneIsNotReadAgain) {
    const std::string path = Write("t.png", Noise(kTw, kTh, 77));
    Paint(templ, 10, 10);
    const std::size_t m = AddImage(path, {0, 0}, {kScreenW, kScreenH});
    EnterRun();
    ImageTick();
    ImageTick();
    EXPECT_FALSE(Running(m));
    EXPECT_EQ(image.templateReads(), 1);

    const auto before = fs::last_write_time(path);
    Write("t.png", templ);
    // Make the change visible even on a file system with coarse time stamps (the size may be equal).
    fs::last_write_time(path, before + std::chrono::seconds(2));
    ImageTick();
    EXPECT_TRUE(Running(m));
    EXPECT_EQ(image.templateReads(), 2);

    // Templates no longer asked for are let go.
    M(m).flags &= ~FlagStartImage;
    ImageTick();
    EXPECT_EQ(image.cachedTemplates(), 0u);
}

TEST_F(ImageTest, ResultWindowShowsTheMapWithCircleAndTextOnlyForAGoodMatch) {
    const std::string path = Write("t.png", templ);
    Paint(templ, 100, 60);
    const std::size_t m = AddImage(path, {40, 30}, {240, 180});
    M(m).name = Utf8ToCp949("그림");
    EnterRun();
    ImageTick();
    EXPECT_TRUE(images.empty()) << "option off";

    settings.macroOptions |= OptionImageResultWindow;
    ImageTick();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].title, M(m).name);
    const cv::Mat& shown = images[0].image;
    ASSERT_EQ(shown.type(), CV_8UC3);
    EXPECT_EQ(shown.size(), cv::Size(200 - kTw + 1, 150 - kTh + 1));
    const cv::Point at(60, 30); // (100, 60) in the rectangle from (40, 30)
    EXPECT_EQ(shown.at<cv::Vec3b>(at.y, at.x + 3), cv::Vec3b(0, 0, 255)) << "circle of radius 3";
    // Red text below the circle.
    const cv::Mat below = shown(cv::Rect(0, at.y + 4, shown.cols, shown.rows - at.y - 4));
    std::vector<cv::Mat> channels;
    cv::split(below, channels);
    EXPECT_GT(cv::countNonZero((channels[2] == 255) & (channels[1] == 0)), 20);

    // A screen without any structure correlates with nothing: the plain map, no circle, no text.
    fake.FillRect({0, 0, kScreenW, kScreenH}, 0x808080);
    ImageTick();
    ASSERT_EQ(images.size(), 2u);
    std::vector<cv::Mat> flat;
    cv::split(images[1].image, flat);
    EXPECT_EQ(cv::countNonZero(flat[2] != flat[0]), 0) << "grey only";
}

TEST_F(ImageTest, HugeOrUnreadableRectanglesAreSkipped) {
    const std::string path = Write("t.png", templ);
    Paint(templ, 0, 0);
    const std::size_t huge = AddImage(path, {-32768, -32768}, {32767, 32767}, 1);
    const std::size_t offScreen = AddImage(path, {1000, 1000}, {0, 0}, 1);
    EnterRun();
    EXPECT_FALSE(MatchOf(huge));
    ImageTick();
    EXPECT_FALSE(Running(huge));
    EXPECT_FALSE(Running(offScreen));
    fake.SetCaptureFails(true);
    M(huge).imageRectStart = M(huge).imageRectEnd = 0;
    ImageTick();
    EXPECT_FALSE(Running(huge));
}

TEST_F(ImageTest, AKoreanPathIsPassedAsItsBytes) {
    const fs::path korean = dir / Utf8ToCp949("이미지");
    fs::create_directories(korean);
    const std::string path = (korean / "t.png").string();
    ASSERT_TRUE(cv::imwrite(path, templ));
    Paint(templ, 50, 50);
    const std::size_t m = AddImage(path, {0, 0}, {kScreenW, kScreenH});
    EnterRun();
    ImageTick();
    EXPECT_TRUE(Running(m));
}

} // namespace
} // namespace quillet::triggertest
