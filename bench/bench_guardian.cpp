// What the guardian costs and how fast it acts, under a private Xvfb:
// - the cost it adds to one injected key event: the ledger's writes alone, and the backend's key event with and
//   without a guardian (the difference is within the noise of the X request itself);
// - the time from SIGKILL of a process holding Shift, Ctrl and the left button to the moment the server shows
//   nothing down (XQueryKeymap and the pointer's buttons polled back to back), over many kills.
//   build/bench/bench_guardian --benchmark_min_time=1
#include "platform/platform.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/guardian.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/xvfb_server.h"

namespace {

using namespace quillet::platform;
using quillet::platform::x11::X11Options;
using quillet::platform::x11::X11Platform;
using Clock = std::chrono::steady_clock;

std::string gDisplay;
std::unique_ptr<X11Platform> gPlain;
std::unique_ptr<X11Platform> gGuarded;

void Sync(X11Platform& p) {
    ScreenPoint ignored;
    p.io().CursorPos(ignored);
}

void BM_LedgerKeyDownUp(benchmark::State& state) {
    std::string error;
    std::unique_ptr<Guardian> guardian = StartGuardian(GuardianOptions{{}, gDisplay, 5000}, error);
    if (!guardian) {
        state.SkipWithError(error.c_str());
        return;
    }
    HeldInputLedger ledger = guardian->ledger();
    unsigned code = 38;
    for (auto _ : state) {
        ledger.KeyDown(code);
        ledger.KeyUp(code);
        benchmark::ClobberMemory();
        code = code == 38 ? 50 : 38;
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_LedgerKeyDownUp);

void KeyEvents(benchmark::State& state, X11Platform& p) {
    auto& io = p.io();
    for (auto _ : state) {
        io.SendKeyEvent('A', 0x1E, 0);
        io.SendKeyEvent('A', 0x1E, KEYEVENTF_KEYUP);
    }
    Sync(p);
    state.SetItemsProcessed(state.iterations() * 2);
}
void BM_KeyEventWithoutGuardian(benchmark::State& state) {
    KeyEvents(state, *gPlain);
}
void BM_KeyEventWithGuardian(benchmark::State& state) {
    KeyEvents(state, *gGuarded);
}
BENCHMARK(BM_KeyEventWithoutGuardian);
BENCHMARK(BM_KeyEventWithGuardian);
BENCHMARK(BM_KeyEventWithoutGuardian);
BENCHMARK(BM_KeyEventWithGuardian);

bool NothingDown(Display* d) {
    char keys[32] = {};
    XQueryKeymap(d, keys);
    for (char k : keys)
        if (k != 0) return false;
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return (mask & (Button1Mask | Button2Mask | Button3Mask)) == 0;
}

// A child that opens the backend with a guardian, holds Shift, Ctrl and the left button, says so and waits to die.
pid_t StartHolder() {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        X11Options options;
        options.display = gDisplay;
        options.guardian = true;
        std::string error;
        std::unique_ptr<X11Platform> p = X11Platform::Open(options, error);
        if (!p || p->guardian() == nullptr) _exit(1);
        p->io().SendKeyEvent(0xA0, 0x2A, 0); // left Shift
        p->io().SendKeyEvent(0xA2, 0x1D, 0); // left Ctrl
        p->io().SendMouseEvent(MOUSEEVENTF_LEFTDOWN, 0, 0, 0);
        Sync(*p);
        (void)!write(ready[1], "x", 1);
        for (;;) pause();
    }
    close(ready[1]);
    char c = 0;
    const bool ok = pid > 0 && read(ready[0], &c, 1) == 1;
    close(ready[0]);
    if (!ok && pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

void MeasureKillToRelease(int tries) {
    Display* d = XOpenDisplay(gDisplay.c_str());
    if (d == nullptr) return;
    std::vector<double> ms;
    for (int i = 0; i < tries; ++i) {
        const pid_t holder = StartHolder();
        if (holder < 0) {
            std::fprintf(stderr, "bench_guardian: the holding process did not start\n");
            break;
        }
        if (NothingDown(d)) {
            std::fprintf(stderr, "bench_guardian: nothing is held\n");
            break;
        }
        const auto killed = Clock::now();
        kill(holder, SIGKILL);
        while (!NothingDown(d)) {
            if (Clock::now() - killed > std::chrono::seconds(5)) {
                std::fprintf(stderr, "bench_guardian: still held 5 s after the kill\n");
                break;
            }
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - killed).count());
        waitpid(holder, nullptr, 0);
    }
    XCloseDisplay(d);
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<std::size_t>(q * ms.size()))]; };
    std::printf("SIGKILL to nothing down (%zu kills): p50 %.2f ms, p90 %.2f ms, max %.2f ms (goal < 50 ms)\n",
                ms.size(), at(0.5), at(0.9), ms.back());
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string error;
    auto server = quillet::platform::x11::XvfbServer::Start(1280, 1024, error);
    if (!server) {
        std::fprintf(stderr, "bench_guardian: %s\n", error.c_str());
        return 1;
    }
    gDisplay = server->display();
    // Kills first, while this process has no other threads (the holders are forked from it).
    MeasureKillToRelease(40);

    X11Options options;
    options.display = gDisplay;
    gPlain = X11Platform::Open(options, error);
    options.guardian = true;
    gGuarded = X11Platform::Open(options, error);
    if (!gPlain || !gGuarded || gGuarded->guardian() == nullptr) {
        std::fprintf(stderr, "bench_guardian: %s%s\n", error.c_str(),
                     gGuarded ? gGuarded->guardianProblem().c_str() : "");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gGuarded.reset();
    gPlain.reset();
    return 0;
}
