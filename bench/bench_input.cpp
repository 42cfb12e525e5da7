// Live input: one raw record decoded and handed to its consumer, with the key/mouse status model updated as the
// status window needs it. The decoders run for every mouse movement of the whole desktop, so this is the cost of
// each of them; the consumer at the end is a stand-in that only counts (hotkey evaluation is measured elsewhere).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "editing/recorder_dialog.h"
#include "input/input_router.h"
#include "input/key_mouse_status.h"
#include "model/macro.h"
#include "platform/fake/fake_platform.h"
#include "recorder/recorder.h"

namespace {

using quillet::platform::RawInputRecord;

class CountingMain final : public quillet::InputConsumer {
public:
    quillet::InputKinds kinds() const override { return quillet::InputKinds::Both; }
    void OnInput(const quillet::InputEvent& e) override {
        sum += e.code + (e.isPress ? 1 : 0);
        benchmark::DoNotOptimize(sum);
    }
    int64_t sum = 0;
};

struct Setup {
    quillet::platform::FakePlatform fake;
    quillet::CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    quillet::InputRouter router{fake};
    quillet::KeyMouseStatus status{fake, fake};
    CountingMain main;
    Setup() {
        router.Push(main);
        router.keyMouseStatusWindow = &status;
        fake.SetCursor(812, 433);
    }
};

RawInputRecord Mouse(uint16_t flags, int32_t dx, int32_t dy, int16_t data = 0) {
    RawInputRecord r;
    r.device = RawInputRecord::Device::Mouse;
    r.buttonFlags = flags;
    r.buttonData = data;
    r.lastX = dx;
    r.lastY = dy;
    return r;
}

RawInputRecord Key(uint16_t vk, uint32_t message) {
    RawInputRecord r;
    r.device = RawInputRecord::Device::Keyboard;
    r.vkey = vk;
    r.makeCode = 0x1E;
    r.message = message;
    return r;
}

// A bare movement to the main window: the most frequent event there is.
void BM_MouseMoveToMain(benchmark::State& state) {
    Setup s;
    const RawInputRecord r = Mouse(0, 3, -2);
    for (auto _ : state) s.router.OnRawInput(r);
}
BENCHMARK(BM_MouseMoveToMain);

void BM_MouseButtonToMain(benchmark::State& state) {
    Setup s;
    const RawInputRecord down = Mouse(quillet::platform::RI_MOUSE_LEFT_BUTTON_DOWN, 0, 0);
    const RawInputRecord up = Mouse(quillet::platform::RI_MOUSE_LEFT_BUTTON_UP, 0, 0);
    bool press = false;
    for (auto _ : state) {
        s.router.OnRawInput(press ? down : up);
        press = !press;
    }
}
BENCHMARK(BM_MouseButtonToMain);

void BM_KeyToMain(benchmark::State& state) {
    Setup s;
    const RawInputRecord down = Key(0x41, quillet::platform::WM_KEYDOWN);
    const RawInputRecord up = Key(0x41, quillet::platform::WM_KEYUP);
    bool press = false;
    for (auto _ : state) {
        s.router.OnRawInput(press ? down : up);
        press = !press;
    }
}
BENCHMARK(BM_KeyToMain);

void BM_InjectedDropped(benchmark::State& state) {
    Setup s;
    RawInputRecord r = Mouse(0, 3, -2);
    r.injected = true;
    for (auto _ : state) s.router.OnRawInput(r);
}
BENCHMARK(BM_InjectedDropped);

// Movement into a recording recorder, below the distance threshold (no item): the recorder's common case.
void BM_MouseMoveToRecorder(benchmark::State& state) {
    Setup s;
    quillet::Macro macro;
    quillet::MacroLibrary library;
    quillet::Point last{812, 433};
    s.settings.recOptions = 0xB7 & ~quillet::RecAbsolute; // relative movement
    quillet::MacroRecorder rec(macro, library, s.settings, s.fake, s.fake, last);
    rec.ToggleRecording(true);
    quillet::RecorderCapture capture(rec, s.router, s.settings, s.fake);
    s.router.Push(capture);
    const RawInputRecord r = Mouse(0, 1, 0);
    for (auto _ : state) s.router.OnRawInput(r);
    state.counters["items"] = static_cast<double>(macro.itemCount());
}
BENCHMARK(BM_MouseMoveToRecorder);

// Key presses recorded and their releases merged into them (the virtual clock stands still: no pause items).
void BM_KeyToRecorder(benchmark::State& state) {
    Setup s;
    quillet::Macro macro;
    quillet::MacroLibrary library;
    quillet::Point last;
    quillet::MacroRecorder rec(macro, library, s.settings, s.fake, s.fake, last);
    rec.ToggleRecording(true);
    quillet::RecorderCapture capture(rec, s.router, s.settings, s.fake);
    s.router.Push(capture);
    const RawInputRecord down = Key(0x41, quillet::platform::WM_KEYDOWN);
    const RawInputRecord up = Key(0x41, quillet::platform::WM_KEYUP);
    int64_t n = 0;
    for (auto _ : state) {
        s.router.OnRawInput((n & 1) ? up : down);
        if ((++n & 0xFFFF) == 0) {
            state.PauseTiming();
            macro.items.resize(1); // keep the macro small
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_KeyToRecorder);

} // namespace

BENCHMARK_MAIN();
