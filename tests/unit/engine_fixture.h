// Shared set-up of the engine tests: a fake platform, default settings, a library and an engine on virtual time.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "platform/fake/fake_platform.h"

namespace quillet::enginetest {

using platform::FakeEvent;
using platform::FakePlatform;

class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        settings.macroOptions = 0; // no IME following, no release at stop unless a test asks
        engine.StartRunMode();
        engine.SetLogSink([this](const std::string& line) { log.push_back(line); });
    }

    // Adds a macro with a start item followed by items; returns its library index.
    std::size_t Add(const std::string& name, const std::vector<MacroItem>& items, int repeat = 1) {
        Macro m = MakeNewMacro(name);
        m.flags = 0;
        m.setRepeatCount(repeat);
        m.items.insert(m.items.end(), items.begin(), items.end());
        library.push_back(std::move(m));
        return library.size() - 1;
    }
    Macro& M(std::size_t i) { return library[i]; }
    void Start(std::size_t i, int32_t pos = 1) { engine.StartMacro(library[i], pos); }

    // One scheduler tick after ms of virtual time; events sent in it carry the tick number.
    void Tick(uint32_t ms = 33) {
        fake.AdvanceMs(ms);
        fake.SetTick(++tickNo);
        engine.OnMacroTimer();
    }
    void Ticks(int n, uint32_t ms = 33) {
        for (int i = 0; i < n; ++i) Tick(ms);
    }

    // Expected events, stamped with a tick; the scan code is the fake's for the key.
    FakeEvent Key(uint8_t vk, uint32_t flags, uint64_t tick) {
        return FakeEvent::Key(vk, fake.ScanCodeOf(vk), flags, tick);
    }
    static FakeEvent Mouse(uint32_t flags, int32_t x, int32_t y, int32_t data, uint64_t tick) {
        return FakeEvent::Mouse(flags, x, y, data, tick);
    }
    // The key-down and key-up of a plain keystroke item.
    std::vector<FakeEvent> StrokeEvents(uint8_t vk, uint64_t tick) { return {Key(vk, 0, tick), Key(vk, 2, tick)}; }
    // Plain keystrokes at the given ticks, in order.
    std::vector<FakeEvent> StrokesAt(std::initializer_list<std::pair<uint8_t, uint64_t>> strokes) {
        std::vector<FakeEvent> out;
        for (const auto& [vk, tick] : strokes)
            for (const FakeEvent& e : StrokeEvents(vk, tick)) out.push_back(e);
        return out;
    }
    // Virtual keys typed as text (the down events only).
    std::vector<uint8_t> TypedKeys() const {
        std::vector<uint8_t> out;
        for (const FakeEvent& e : fake.events())
            if (e.kind == FakeEvent::Kind::Key && e.flags == 1) out.push_back(e.vk);
        return out;
    }

    FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    MacroLibrary library;
    Engine engine{library, settings, fake.platform(), 12345u};
    std::vector<std::string> log;
    uint64_t tickNo = 0;
};

inline MacroItem KeyStroke(uint8_t vk) {
    return MakeKeyItem(vk, ActionPress | ActionRelease);
}
inline MacroItem Wait(int32_t ms) {
    return MakeDelayItem(ms, DelayTime);
}

} // namespace quillet::enginetest
