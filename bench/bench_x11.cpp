// Costs of the X11 backend under a private Xvfb (1920 x 1080 x 24): injected events, one pixel, a full-screen
// capture through MIT-SHM and through XGetImage.
//   build/bench/bench_x11 --benchmark_min_time=1
#include "platform/platform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/x11/x11_platform.h"
#include "platform/x11/xvfb_server.h"

namespace {

using quillet::platform::BgraImage;
using quillet::platform::ScreenPoint;
using namespace quillet::platform;
using quillet::platform::x11::X11Options;
using quillet::platform::x11::X11Platform;

std::unique_ptr<X11Platform> gShm;
std::unique_ptr<X11Platform> gGetImage;

// A round trip: the server has processed everything sent so far.
void Sync(X11Platform& p) {
    ScreenPoint ignored;
    p.io().CursorPos(ignored);
}

void BM_KeyEvent(benchmark::State& state) {
    auto& io = gShm->io();
    for (auto _ : state) {
        io.SendKeyEvent('A', 0x1E, 0);
        io.SendKeyEvent('A', 0x1E, KEYEVENTF_KEYUP);
    }
    Sync(*gShm);
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_KeyEvent);

// The same while the monitor runs: every event also comes back as a raw event and is filtered.
void BM_KeyEventMonitored(benchmark::State& state) {
    std::size_t delivered = 0;
    gShm->monitor().Start([](std::function<void()> f) { f(); }, [&](const RawInputRecord&) { ++delivered; });
    auto& io = gShm->io();
    for (auto _ : state) {
        io.SendKeyEvent('A', 0x1E, 0);
        io.SendKeyEvent('A', 0x1E, KEYEVENTF_KEYUP);
    }
    Sync(*gShm);
    gShm->monitor().Stop();
    state.SetItemsProcessed(state.iterations() * 2);
    state.counters["delivered"] = static_cast<double>(delivered);
}
BENCHMARK(BM_KeyEventMonitored);

// A shifted character as the engine types it: the presses and releases of Shift ask the server which devices
// hold it.
void BM_ShiftedCharacter(benchmark::State& state) {
    auto& io = gShm->io();
    for (auto _ : state) {
        io.SendKeyEvent(VK_LSHIFT, 0x2A, 0);
        io.SendKeyEvent('A', 0x1E, 0);
        io.SendKeyEvent('A', 0x1E, KEYEVENTF_KEYUP);
        io.SendKeyEvent(VK_LSHIFT, 0x2A, KEYEVENTF_KEYUP);
    }
    Sync(*gShm);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShiftedCharacter);

void BM_MouseMoveAbsolute(benchmark::State& state) {
    auto& io = gShm->io();
    int32_t x = 0;
    for (auto _ : state) {
        io.SendMouseEvent(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, 30000, 0);
        x = (x + 977) & 0xFFFF;
    }
    Sync(*gShm);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MouseMoveAbsolute);

void BM_Pixel(benchmark::State& state) {
    auto& screen = gShm->screen();
    int32_t x = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(screen.Pixel(x, 500));
        x = (x + 13) % 1920;
    }
}
BENCHMARK(BM_Pixel);

void Capture1080p(benchmark::State& state, X11Platform& p) {
    BgraImage image;
    for (auto _ : state) {
        if (!p.screen().Capture({0, 0, 1920, 1080}, image)) state.SkipWithError("capture failed");
        benchmark::DoNotOptimize(image.pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * 1920 * 1080 * 4);
}
void BM_Capture1080pShm(benchmark::State& state) {
    Capture1080p(state, *gShm);
}
void BM_Capture1080pGetImage(benchmark::State& state) {
    Capture1080p(state, *gGetImage);
}
BENCHMARK(BM_Capture1080pShm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Capture1080pGetImage)->Unit(benchmark::kMillisecond);

void BM_Capture200x200Shm(benchmark::State& state) {
    BgraImage image;
    for (auto _ : state) {
        gShm->screen().Capture({800, 400, 200, 200}, image);
        benchmark::DoNotOptimize(image.pixels.data());
    }
}
BENCHMARK(BM_Capture200x200Shm);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string error;
    auto server = quillet::platform::x11::XvfbServer::Start(1920, 1080, error);
    if (!server) {
        std::fprintf(stderr, "bench_x11: %s\n", error.c_str());
        return 1;
    }
    X11Options options;
    options.display = server->display();
    gShm = X11Platform::Open(options, error);
    options.useShm = false;
    gGetImage = X11Platform::Open(options, error);
    if (!gShm || !gGetImage) {
        std::fprintf(stderr, "bench_x11: %s\n", error.c_str());
        return 1;
    }
    if (!gShm->usingShm()) std::fprintf(stderr, "bench_x11: MIT-SHM is not available; both captures use XGetImage\n");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gShm.reset();
    gGetImage.reset();
    return 0;
}
