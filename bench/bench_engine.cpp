// Scheduler speed: one pass over 10,000 running macros (key, mouse, delay and string items) on the fake platform,
// with the time per pass and the heap allocations per pass. Allocations are counted by replacing the global
// operator new below; the fake's event log is cleared between passes (it keeps its capacity, so it stops growing).
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>

#include "engine/engine.h"
#include "platform/fake/fake_platform.h"


namespace {

using namespace quillet;

constexpr int kMacros = 10000;

struct Bench {
    platform::FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-bench/Quillet.ini", false};
    MacroLibrary library;
    Engine engine{library, settings, fake.platform(), 1u};
    std::size_t lines = 0;

    explicit Bench(bool withLog) {
        settings.macroOptions = 0x88; // the defaults: no IME following for key items, no release at stop
        library.reserve(kMacros);
        for (int i = 0; i < kMacros; ++i) {
            Macro m = MakeNewMacro("Macro " + std::to_string(i));
            m.setRepeatCount(0);
            m.items.push_back(MakeKeyItem('A' + i % 26, ActionPress | ActionRelease));
            m.items.push_back(MakeMouseItem(100 + i % 500, 200 + i % 300, MouseMove | MouseAbsolute));
            m.items.push_back(MakeDelayItem(100, DelayTime, i % 3));
            m.items.push_back(MakeStringItem("ab$C", TextSequence));
            m.items.push_back(MakeKeyItem(0x10, ActionPress));
            m.items.push_back(MakeMouseItem(3, -2, MouseMove | MouseLeftDown | MouseLeftUp));
            m.items.push_back(MakeKeyItem(0x10, ActionRelease));
            m.items.push_back(MakeDelayItem(50, DelayTime));
            library.push_back(std::move(m));
        }
        engine.StartRunMode();
        for (int i = 0; i < kMacros; ++i) {
            engine.StartMacro(library[static_cast<std::size_t>(i)], 1);
            library[static_cast<std::size_t>(i)].runPos = 1 + i % (library[0].itemCount() - 1);
        }
        // Warm up: let every macro reach a steady mix and the event log its capacity.
        for (int i = 0; i < 50; ++i) Pass();
        if (withLog) engine.SetLogSink([this](const std::string& line) { lines += line.size() != 0; });
    }

    void Pass() {
        fake.ClearEvents();
        fake.AdvanceMs(33);
        engine.OnMacroTimer();
    }
};

void RunPasses(benchmark::State& state, bool withLog) {
    Bench b(withLog);
    std::size_t events = 0;
    const std::size_t before = quillet::bench::Allocs().allocations.load();
    for (auto _ : state) {
        b.Pass();
        events += b.fake.events().size();
    }
    const auto passes = static_cast<double>(state.iterations());
    state.counters["allocs/pass"] = static_cast<double>(quillet::bench::Allocs().allocations.load() - before) / passes;
    state.counters["events/pass"] = static_cast<double>(events) / passes;
    state.counters["lines/pass"] = static_cast<double>(b.lines) / passes;
    state.counters["macros"] = kMacros;
}

void BM_SchedulerPass(benchmark::State& state) {
    RunPasses(state, false);
}
void BM_SchedulerPassWithLog(benchmark::State& state) {
    RunPasses(state, true);
}

BENCHMARK(BM_SchedulerPass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SchedulerPassWithLog)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
