#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <ostream>

#include "cli/play.h"
#include "engine/engine.h"
#include "engine/mm_timer.h"
#include "input/input_decoder.h"
#include "input/input_router.h"
#include "model/cp949.h"
#include "model/settings.h"
#include "platform/system_platform.h"
#include "session/session.h"
#include "triggers/run_mode.h"

namespace quillet::cli {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) {
    interrupted = true;
}

// Keys and buttons a person presses serve the macro's key waits; nothing else (no toggle key, no hotkeys).
class KeyWaitInput final : public InputConsumer {
public:
    KeyWaitInput(Engine& engine, platform::InputOutput& io) : engine_(engine), io_(io) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override {
        if (e.code != 0) engine_.OnKeyEventForWaits(MakeKeyEventCode(e.code, e.isPress, io_));
    }

private:
    Engine& engine_;
    platform::InputOutput& io_;
};

} // namespace

int PlayReal(const PlayOptions& o, std::ostream& out, std::ostream& err) {
    CAppIni settings(DefaultIniPath(), false);
    ApplyPlayOptions(o, settings);
    MacroLibrary library;
    int index = -1;
    if (!LoadForPlay(o, library, index, err)) return 2;

    std::string error, warning;
    const std::unique_ptr<platform::SystemPlatform> system = platform::OpenSystemPlatform(error, warning);
    if (!system) {
        err << "quillet-cli: " << error << "\n";
        return 2;
    }
    if (!warning.empty()) err << "quillet-cli: " << warning << "\n";
    platform::Platform p = system->platform();

    ThreadEventLoop loop;
    TimerCounter counter;
    Session session(p, settings, counter, loop, o.seed);
    session.library() = std::move(library);
    Engine& engine = session.engine();
    const auto start = p.clock.NowMs();
    engine.SetLogSink([&](const std::string& line) {
        std::string text = Cp949ToUtf8(line);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
        out << (p.clock.NowMs() - start) << " ms " << text << "\n" << std::flush;
    });

    // The macro's own events are dropped as injected.
    KeyWaitInput waits(engine, p.io);
    session.router().Push(waits);
    session.StartInputMonitoring();
    loop.StartTimer(kTimerColor, static_cast<uint32_t>(std::max(settings.colorDelay, 33)),
                    [&] { engine.ServeColorWaits(p.screen); });

    interrupted = false;
    const auto previousHandler = std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    session.StartEngineTicks();
    engine.StartMacro(session.library()[static_cast<std::size_t>(index)], 1);
    loop.RunUntil([&] { return interrupted || !PlayGoesOn(session.library()); });

    // A key faked down by a process that has gone stays down in the X server, so whatever any macro still holds
    // is released now, whatever the setting says.
    session.router().Remove(waits);
    session.End(HeldInput::Release);
    std::signal(SIGINT, previousHandler);
    std::signal(SIGTERM, SIG_DFL);
    if (interrupted) {
        err << "quillet-cli: interrupted; released every key and button the macros held\n";
        return 130;
    }
    return 0;
}

} // namespace quillet::cli
