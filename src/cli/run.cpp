#include "cli/run.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <ostream>

#include "engine/mm_timer.h"
#include "model/cp949.h"
#include "model/key_table.h"
#include "model/settings.h"
#include "platform/system_platform.h"
#include "session/event_loop.h"
#include "triggers/run_mode.h"

namespace quillet::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 2;

const char* const kRunUsage = "usage: quillet-cli run [LIBRARY]\n";

std::atomic<int> caughtSignal{0};

extern "C" void OnEndSignal(int sig) {
    caughtSignal = sig;
}

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
    caughtSignal = 0;
    const auto previousInt = std::signal(SIGINT, OnEndSignal);
    const auto previousTerm = std::signal(SIGTERM, OnEndSignal);
#ifdef SIGHUP
    const auto previousHup = std::signal(SIGHUP, OnEndSignal);
#endif
    const auto restoreSignals = [&] {
        std::signal(SIGINT, previousInt);
        std::signal(SIGTERM, previousTerm);
#ifdef SIGHUP
        std::signal(SIGHUP, previousHup);
#endif
    };

    std::string error, warning;
    const std::unique_ptr<platform::SystemPlatform> system = platform::OpenSystemPlatform(error, warning);
    if (!system) {
        err << "quillet-cli: " << error << "\n";
        restoreSignals();
        return kExitFailure;
    }
    if (!warning.empty()) err << "quillet-cli: warning: " << warning << "\n";

    ThreadEventLoop loop;
    TimerCounter counter;
    Session session(system->platform(), settings, counter, loop);
    HeadlessRun run(session, out, LocalTimeStamp);

    int code = kExitOk;
    if (run.Begin(library, err)) {
        loop.RunUntil([] { return caughtSignal != 0; });
        run.End();
        err << "quillet-cli: " << SignalName(caughtSignal)
            << ": stopped every macro and released every key and "
               "button they held\n";
    } else {
        code = kExitFailure;
    }
    session.End(HeldInput::Release);
    restoreSignals();
    return code;
}

} // namespace quillet::cli
