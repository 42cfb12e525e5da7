#include "cli/run.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#endif

#include "engine/mm_timer.h"
#include "model/cp949.h"
#include "model/key_table.h"
#include "model/settings.h"
#include "platform/system_platform.h"
#include "remote/remote_commands.h"
#include "remote/remote_server.h"
#include "session/event_loop.h"
#include "triggers/run_mode.h"

namespace quillet::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 2;

const char* const kRunUsage = "usage: quillet-cli run [LIBRARY]\n";

std::atomic<int> caughtSignal{0};

#ifdef _WIN32
extern "C" void OnEndSignal(int sig) {
    caughtSignal = sig;
}
#endif

// The end signals (SIGINT, SIGTERM, SIGHUP) for the length of a run. POSIX: they are blocked in this thread (and so
// in every thread started after it) and taken by a thread of their own in sigwait, which wakes the loop: the loop
// sleeps until there is work instead of looking for a flag every few milliseconds. Windows: a handler sets the
// flag, and the loop looks at it every 50 ms.
class EndSignals {
public:
    explicit EndSignals(ThreadEventLoop& loop) : loop_(loop) {
        caughtSignal = 0;
#ifdef _WIN32
        previousInt_ = std::signal(SIGINT, OnEndSignal);
        previousTerm_ = std::signal(SIGTERM, OnEndSignal);
#else
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set_, &previousMask_);
        waiter_ = std::thread([this] {
            for (;;) {
                int sig = 0;
                if (sigwait(&set_, &sig) != 0) continue;
                if (stopping_) return;
                caughtSignal = sig;
                loop_.Post([] {}); // wakes the loop, which then sees the flag
            }
        });
#endif
    }
    ~EndSignals() {
#ifdef _WIN32
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
#else
        stopping_ = true;
        pthread_kill(waiter_.native_handle(), SIGTERM);
        waiter_.join();
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
#endif
    }
    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

    // How long the loop may sleep without work before it looks at the flag.
    static std::chrono::milliseconds PollPeriod() {
#ifdef _WIN32
        return std::chrono::milliseconds(50);
#else
        return std::chrono::hours(1);
#endif
    }

private:
    ThreadEventLoop& loop_;
#ifdef _WIN32
    void (*previousInt_)(int) = nullptr;
    void (*previousTerm_)(int) = nullptr;
#else
    sigset_t set_{};
    sigset_t previousMask_{};
    std::atomic<bool> stopping_{false};
    std::thread waiter_;
#endif
};

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

const char* SignalName(int sig) {
    switch (sig) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
        return "SIGHUP";
#endif
    default:
        return "a signal";
    }
}

} // namespace

std::string LocalTimeStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

HeadlessRun::HeadlessRun(Session& session, std::ostream& out, std::function<std::string()> now)
    : session_(session), out_(out), now_(std::move(now)) {}

HeadlessRun::~HeadlessRun() {
    End();
    // The session may outlive this object.
    session_.RemoveObserver(*this);
}

void HeadlessRun::Line(const std::string& utf8) {
    out_ << now_() << " " << utf8 << "\n" << std::flush;
}

bool HeadlessRun::Begin(const std::string& cp949Library, std::ostream& err) {
    if (begun_) return true;
    const std::string shown = Cp949ToUtf8(cp949Library);
    const std::optional<LibraryDocument::LoadReport> report = session_.OpenLibrary(cp949Library);
    if (!report) return false;
    switch (report->kind) {
    case LibraryDocument::LoadReport::Loaded:
        break;
    case LibraryDocument::LoadReport::New:
        err << "quillet-cli: " << shown << ": no such library\n";
        return false;
    case LibraryDocument::LoadReport::Damaged:
    case LibraryDocument::LoadReport::Unopenable:
        err << "quillet-cli: " << shown << ": " << report->problem << "\n";
        return false;
    }
    begun_ = true;
    Line("library " + shown + ": " + std::to_string(session_.library().size()) + " macros");

    // Told by the session as it happens, not read from the 33 ms display poll, so that a run that starts and ends
    // between two polls is printed too, and in its place among the item lines.
    session_.AddObserver(*this);
    // As the program at a start after it ended in run mode.
    session_.settings().macroOptions |= OptionRunModeOn;
    session_.BeginRunMode(Selection());
    const bool watching = session_.StartInputMonitoring();
    if (!watching)
        err << "quillet-cli: warning: the keyboard and mouse cannot be watched: hotkeys and the toggle key do not "
               "work\n";
    session_.StartWindowTimers();
    Line(watching ? "watching the keyboard and mouse" : "not watching the keyboard and mouse");
    return true;
}

void HeadlessRun::End() {
    if (!begun_ || ended_) return;
    ended_ = true;
    // A toggle or stop key pressed just before the end is handled first, as in the program.
    session_.FlushInput();
    session_.End(HeldInput::Release);
}

void HeadlessRun::RunModeChanged(bool on) {
    const std::string key = KeyLongName(session_.settings().keyMacroRun);
    Line(on ? "run mode on (" + key + " switches it off)" : "run mode off (" + key + " switches it on)");
    if (on)
        for (const std::string& line : RunListLines(session_.library())) Line("  " + Cp949ToUtf8(line));
}

void HeadlessRun::MacroStarted(std::size_t index, Point) {
    Line("started '" + Cp949ToUtf8(session_.library()[index].name) + "'");
}

void HeadlessRun::MacroEnded(std::size_t index, bool) {
    Line("ended '" + Cp949ToUtf8(session_.library()[index].name) + "'");
}

void HeadlessRun::ItemLogged(const std::string& cp949Line) {
    Line(WithoutLineEnd(Cp949ToUtf8(cp949Line)));
}

std::optional<std::size_t> HeadlessRun::Selection() const {
    const int sel = session_.settings().macroSel;
    if (sel < 0 || static_cast<std::size_t>(sel) >= session_.library().size()) return std::nullopt;
    return static_cast<std::size_t>(sel);
}

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() > 2 || (args.size() == 2 && (args[1].empty() || args[1][0] == '-'))) {
        err << kRunUsage;
        return kExitFailure;
    }
    CAppIni settings(DefaultIniPath(), false);
    std::string library = settings.macroFileName;
    if (args.size() == 2) {
        library = Utf8ToCp949(args[1]);
        if (Cp949ToUtf8(library) != args[1]) {
            err << "quillet-cli: " << args[1] << ": the name cannot be kept in CP949\n";
            return kExitFailure;
        }
    }

    // From here on a signal ends the run where it is (also while the backend opens).
    ThreadEventLoop loop;
    const EndSignals signals(loop);

    std::string error, warning;
    const std::unique_ptr<platform::SystemPlatform> system = platform::OpenSystemPlatform(error, warning);
    if (!system) {
        err << "quillet-cli: " << error << "\n";
        return kExitFailure;
    }
    if (!warning.empty()) err << "quillet-cli: warning: " << warning << "\n";

    TimerCounter counter;
    Session session(system->platform(), settings, counter, loop);
    HeadlessRun run(session, out, LocalTimeStamp);

    int code = kExitOk;
    if (run.Begin(library, err)) {
        // quillet-cli start/stop/status/mode reach this run as they reach the desktop program.
        remote::RemoteCommands commands(session);
        std::optional<remote::RemoteServer> server;
        std::string problem;
        std::error_code noFolder;
        if (auto endpoint = remote::EndpointForFolder(std::filesystem::current_path(noFolder), problem))
            server.emplace(*endpoint, loop, [&commands](const remote::Request& r) { return commands.Execute(r); });
        if (server && !server->listening()) problem = server->problem();
        if (!server || !server->listening())
            err << "quillet-cli: warning: quillet-cli start/stop/status/mode cannot reach this run: " << problem << "\n";
        loop.RunUntil([] { return caughtSignal != 0; }, EndSignals::PollPeriod());
        server.reset();
        run.End();
        err << "quillet-cli: " << SignalName(caughtSignal)
            << ": stopped every macro and released every key and "
               "button they held\n";
    } else {
        code = kExitFailure;
    }
    session.End(HeldInput::Release);
    return code;
}

} // namespace quillet::cli
