#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <mutex>
#include <ostream>

#include "cli/play.h"
#include "engine/engine.h"
#include "engine/mm_timer.h"
#include "model/cp949.h"
#include "model/settings.h"
#include "platform/system_platform.h"
#include "triggers/input_decoder.h"

namespace quillet::cli {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted = true; }

// Closures posted from the timer and monitor threads, run one by one on the main thread.
class EventQueue {
public:
    void Post(std::function<void()> fn) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(fn));
        }
        ready_.notify_one();
    }
    // Runs what is queued, waiting at most timeout for something to arrive.
    void RunFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
        while (!queue_.empty()) {
            std::function<void()> fn = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            fn();
            lock.lock();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
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

    EventQueue queue;
    const platform::Poster post = [&queue](std::function<void()> fn) { queue.Post(std::move(fn)); };
    Engine engine(library, settings, p);
    const auto start = p.clock.NowMs();
    engine.SetLogSink([&](const std::string& line) {
        std::string text = Cp949ToUtf8(line);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
        out << (p.clock.NowMs() - start) << " ms " << text << "\n" << std::flush;
    });

    // Keys and buttons a person presses serve the macro's key waits; its own events are dropped as injected.
    platform::ScreenPoint lastCursor;
    p.monitor.Start(post, [&](const platform::RawInputRecord& record) {
        const auto event = record.device == platform::RawInputRecord::Device::Keyboard
                               ? DecodeKeyboard(record)
                               : DecodeMouse(record, p.io, lastCursor);
        if (!event || event->code == 0) return;
        engine.OnKeyEventForWaits(MakeKeyEventCode(event->code, event->isPress, p.io));
    });

    TimerCounter counter;
    CMmtMacros ticks(p.clock, counter, post);
    CMmtMacros colorTicks(p.clock, counter, post);
    bool done = false;
    ticks.SetOwner([&] {
        engine.OnMacroTimer();
        if (!IsRunning(library[index])) done = true;
    });
    colorTicks.SetOwner([&] { engine.ServeColorWaits(p.screen); });

    interrupted = false;
    const auto previousHandler = std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    engine.StartRunMode();
    engine.lastTickTime = p.clock.NowMs();
    engine.StartMacro(library[index], 1);
    ticks.period = static_cast<uint32_t>(settings.eventDelay);
    ticks.Start();
    colorTicks.period = static_cast<uint32_t>(settings.colorDelay < 33 ? 33 : settings.colorDelay);
    colorTicks.Start();
    while (!done && !interrupted) queue.RunFor(std::chrono::milliseconds(50));
    ticks.Stop();
    colorTicks.Stop();
    p.monitor.Stop();

    // A key faked down by a process that has gone stays down in the X server, so whatever any macro still holds
    // is released now, whatever the setting says. When the setting was on, stopped macros have released already.
    const bool releasedOnStop = (settings.macroOptions & 0x800) != 0;
    settings.macroOptions |= 0x800;
    for (Macro& m : library) {
        const bool holds = std::any_of(m.heldInputs.begin(), m.heldInputs.end(), [](uint8_t h) { return h != 0; });
        if (IsRunning(m) || (holds && !releasedOnStop)) engine.StopMacro(m);
    }
    std::signal(SIGINT, previousHandler);
    std::signal(SIGTERM, SIG_DFL);
    if (interrupted) {
        err << "quillet-cli: interrupted; released every key and button the macro held\n";
        return 130;
    }
    return 0;
}

} // namespace quillet::cli
