#include "session/session.h"

#include <algorithm>

#ifdef QUILLET_IMAGE_CONDITIONS
#include "triggers/image_trigger.h"
#endif

namespace quillet {

namespace {

std::unique_ptr<ImageConditions> MakeImageConditions([[maybe_unused]] Engine& engine,
                                                     [[maybe_unused]] CAppIni& settings,
                                                     [[maybe_unused]] platform::Screen& screen,
                                                     [[maybe_unused]] EventLoop& loop,
                                                     ImageTrigger*& trigger) {
#ifdef QUILLET_IMAGE_CONDITIONS
    // Searches run on a worker thread; their results come back through the loop.
    auto image = std::make_unique<ImageTrigger>(
        engine, settings, screen, [&loop](std::function<void()> fn) { loop.Post(std::move(fn)); },
        std::make_unique<ThreadMatchWorker>());
    trigger = image.get();
    return image;
#else
    trigger = nullptr;
    return std::make_unique<NoImageConditions>();
#endif
}

} // namespace

Session::Session(platform::Platform platform, CAppIni& settings, TimerCounter& counter, EventLoop& loop,
                 std::optional<uint32_t> seed)
    : platform_(platform), settings_(settings), loop_(loop), engine_(library_, settings, platform, seed),
      document_(library_, settings, engine_), status_(platform.io, platform.ime), router_(platform.io),
      engineTimer_(platform.clock, counter, [&loop](std::function<void()> fn) { loop.Post(std::move(fn)); }),
      images_(MakeImageConditions(engine_, settings, platform.screen, loop, imageTrigger_)),
      runMode_(engine_, settings, platform.io, platform.screen, platform.clock, engineTimer_, *images_, *this),
      timerCounter_(counter) {
    engine_.lastTickTime = platform_.clock.NowMs();
    engineTimer_.SetOwner([this] { OnEngineTick(); });
    // The core's events go to the observers.
    engine_.SetLogSink([this](const std::string& line) {
        if (logging_) Tell([&](SessionObserver& o) { o.ItemLogged(line); });
    });
    engine_.SetRunSink([this](const Macro& m, Engine::RunEvent event) {
        const std::optional<std::size_t> index = IndexOf(m);
        if (!index) return;
        if (event == Engine::RunEvent::Started)
            Tell([&](SessionObserver& o) { o.MacroStarted(*index, m.originPos); });
        else
            Tell([&](SessionObserver& o) { o.MacroEnded(*index, event == Engine::RunEvent::Finished); });
        runMode_.UpdateTimers();
    });
    runMode_.SetRunModeSink([this](bool on) { Tell([&](SessionObserver& o) { o.RunModeChanged(on); }); });
#ifdef QUILLET_IMAGE_CONDITIONS
    if (imageTrigger_) {
        imageTrigger_->SetMatchSink([this](std::size_t index, Point origin, double score) {
            Tell([&](SessionObserver& o) { o.ImageMatched(index, origin, score); });
        });
        imageTrigger_->SetResultSink([this](std::size_t index, const BgrImageView& picture) {
            Tell([&](SessionObserver& o) { o.ImageResult(index, picture); });
        });
    }
#endif
}

void Session::AddObserver(SessionObserver& observer) {
    if (std::find(observers_.begin(), observers_.end(), &observer) == observers_.end()) observers_.push_back(&observer);
}

void Session::RemoveObserver(SessionObserver& observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), &observer), observers_.end());
}

void Session::Tell(const std::function<void(SessionObserver&)>& event) {
    // A copy: an observer may add or remove observers while it is told.
    const std::vector<SessionObserver*> now = observers_;
    for (SessionObserver* o : now)
        if (std::find(observers_.begin(), observers_.end(), o) != observers_.end()) event(*o);
}

std::optional<std::size_t> Session::IndexOf(const Macro& m) const {
    const std::less<const Macro*> before;
    if (library_.empty() || before(&m, library_.data()) || !before(&m, library_.data() + library_.size()))
        return std::nullopt;
    return static_cast<std::size_t>(&m - library_.data());
}

Session::~Session() {
    End(HeldInput::Release);
}

// --- Library ----------------------------------------------------------------------------------------------------

std::optional<LibraryDocument::LoadReport> Session::OpenLibrary(const std::string& cp949Name) {
    if (!document_.Editable()) return std::nullopt;
    LibraryDocument::LoadReport report = document_.Load(cp949Name);
    engine_.runMode = false;
    engine_.exclusiveCount = 0;
    engine_.sequenceNumber = settings_.sequenceStart;
    settings_.macroFileName = cp949Name;
    return report;
}

// --- Running ----------------------------------------------------------------------------------------------------

void Session::BeginRunMode(std::optional<std::size_t> selected) {
    engine_.lastTickTime = platform_.clock.NowMs();
    runModeBegun_ = true;
    router_.Push(runMode_);
    // Restores run mode when it was on at the last end.
    runMode_.SetSelectedMacro(selected);
    runMode_.Initialise(selected);
}

bool Session::StartInputMonitoring() {
    if (monitoring_ || ended_) return monitoring_;
    router_.keyMouseStatusWindow = &status_;
    monitoring_ = platform_.monitor.Start([this](std::function<void()> fn) { PostInput(std::move(fn)); },
                                          [this](const platform::RawInputRecord& record) {
                                              if (!ended_) router_.OnRawInput(record);
                                          });
    return monitoring_;
}

void Session::PostInput(std::function<void()> fn) {
    // The monitor's thread. The closure that drains is posted once until it has run.
    {
        std::lock_guard lock(inbox_->mutex);
        inbox_->queue.push_back(std::move(fn));
    }
    if (inbox_->drainPosted.exchange(true)) return;
    loop_.Post([this, inbox = std::weak_ptr<Inbox>(inbox_)] {
        // A session that has gone took its inbox with it.
        if (inbox.lock()) DrainInput();
    });
}

void Session::DrainInput() {
    inbox_->drainPosted = false;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(inbox_->mutex);
            if (inbox_->queue.empty()) return;
            fn = std::move(inbox_->queue.front());
            inbox_->queue.pop_front();
        }
        fn();
    }
}

void Session::FlushInput() {
    if (monitoring_) platform_.monitor.Flush();
    DrainInput();
}

void Session::OnEngineTick() {
    // A person's input that has arrived goes before the tick: a stop key ends the macro before its next step.
    DrainInput();
    engine_.OnMacroTimer();
}

void Session::StartEngineTicks() {
    engine_.StartRunMode();
    engine_.lastTickTime = platform_.clock.NowMs();
    // A period of 0 or less (a hand-edited settings file) would ask the system for a timer it refuses.
    engineTimer_.period = settings_.TickPeriodMs();
    engineTimer_.Start();
}

void Session::StartWindowTimer(int id, uint32_t periodMs) {
    loop_.StartTimer(id, periodMs, [this, id] { runMode_.OnWindowTimer(id); });
}

void Session::StartWindowTimers() {
    if (ended_) return;
    windowTimers_ = true;
    runMode_.UpdateTimers();
}

void Session::SetPollTimer(int id, uint32_t periodMs) {
    // Before StartWindowTimers (run mode restored at start-up) nothing runs yet.
    if (!windowTimers_) return;
    if (periodMs == 0)
        loop_.StopTimer(id);
    else if (loop_.TimerInterval(id) != static_cast<int>(periodMs))
        StartWindowTimer(id, periodMs);
}

void Session::End(HeldInput held) {
    if (ended_) return;
    ended_ = true;
    // No input and no timer work from here on: the toggle key must not bring run mode back.
    if (monitoring_) platform_.monitor.Stop();
    monitoring_ = false;
    {
        std::lock_guard lock(inbox_->mutex);
        inbox_->queue.clear();
    }
    router_.Remove(runMode_);
    router_.keyMouseStatusWindow = nullptr;
    if (windowTimers_)
        for (const int id : kPollTimers) loop_.StopTimer(id);
    windowTimers_ = false;
    logging_ = false;

    if (runModeBegun_) runMode_.OnMainWindowDestroyed();
    engine_.StopEverything(held);
    engineTimer_.Stop();
    engineTimer_.SetOwner({});
}

} // namespace quillet
