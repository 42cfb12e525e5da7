// Start time, memory and shared objects of the desktop program beside a bare Qt dialog, and of the quillet-cli
// commands that need no display, on a private Xvfb.
//
// Window programs: every run starts quillet in a fresh folder holding Quillet.ini and a small library macro.m (its
// working folder, as a person starts it), and bench_bare_dialog in a folder of its own, taking turns. The time runs
// from just before fork until the X server reports the map of the program's first top-level window (its
// _NET_WM_PID), seen through SubstructureNotify on the root window and StructureNotify on each new top-level window,
// so that a window put into a frame by a window manager is seen too. Resident memory (VmRSS, and the pages no other
// process shares) is read from /proc when the window is mapped and 1 s later; then the program gets SIGTERM and its
// peak (wait4's ru_maxrss) and its time to end are taken. quillet's guardian (a child process) is counted apart.
//
// Commands: quillet-cli dump, check, settings and export on the same library, each timed from fork to the end of
// the process, with its peak resident memory from wait4. The shared objects of quillet-cli are counted in
// `quillet-cli run` (same executable), which stays up watching the keyboard and mouse.
//
//   build/bench/bench_start [--runs N] [--wm]       (default 10 runs; --wm: again under openbox)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "desktop_bench.h"

namespace {

using namespace quillet::bench;

constexpr auto kStartTimeout = 60s;
constexpr auto kEndTimeout = 20s;

struct Paths {
    std::string app = QUILLET_APP_PATH;
    std::string cli = QUILLET_CLI_PATH;
    std::string guardian = QUILLET_GUARDIAN_PATH;
    std::string bare = BARE_DIALOG_PATH;
};

std::vector<std::string> ProgramEnvironment(const std::string& display, const TempFolder& folder, const Paths& paths) {
    return {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE",
            "XDG_RUNTIME_DIR=" + (folder.path() / "runtime").string(), "QUILLET_GUARDIAN=" + paths.guardian,
            // no input method or accessibility bus of a session behind this display
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder.path() / "no-bus").string(), "AT_SPI_BUS_ADDRESS"};
}

// One start of a window program.
struct WindowRun {
    bool ok = false;
    std::string problem;
    double createdMs = 0, mappedMs = 0, endMs = 0;
    Memory atMap, later;
    long guardianRssKb = -1;
    long peakKb = -1;
    int sharedObjects = 0;
    std::string title, before, endStatus;
};

WindowRun StartWindowProgram(const std::string& display, MapWatcher& watcher, const Paths& paths, bool quillet) {
    WindowRun run;
    TempFolder folder;
    std::string error;
    if (folder.path().empty()) {
        run.problem = "no temporary folder";
        return run;
    }
    if (quillet ? !PrepareQuilletFolder(folder.path(), false, error)
                : !std::filesystem::create_directory(folder.path() / "runtime")) {
        run.problem = error.empty() ? "cannot prepare the folder" : error;
        return run;
    }
    std::filesystem::permissions(folder.path() / "runtime", std::filesystem::perms::owner_all);
    watcher.Drain();
    Child child;
    const std::string program = quillet ? paths.app : paths.bare;
    if (!child.Start({program}, folder.path(), ProgramEnvironment(display, folder, paths), folder.path() / "out.log",
                     false, error)) {
        run.problem = error;
        return run;
    }
    const std::string instance = std::filesystem::path(program).filename().string();
    const std::optional<MapWatcher::Mapped> mapped =
        watcher.WaitForWindow(child.pid(), instance, child.started() + kStartTimeout, [&] { return !child.Ended(); });
    if (!mapped) {
        const std::optional<int> status = child.Wait(0ms);
        run.problem = "no window came up (" + (status ? Child::DescribeStatus(*status) : "still running") + "):\n" +
                      child.Output();
        return run;
    }
    run.atMap = ReadMemory(child.pid());
    run.sharedObjects = CountSharedObjects(child.pid());
    run.mappedMs = Ms(mapped->mapped - child.started());
    run.createdMs = Ms(mapped->created - child.started());
    run.title = mapped->title;
    for (const std::string& b : mapped->before) run.before += (run.before.empty() ? "" : "; ") + b;

    // A fixed second after the map: the memory once the first paint and what the program does after its start
    // are done. The process descriptor ends the wait early when the program crashes meanwhile.
    if (const std::optional<int> status = child.Wait(1000ms)) {
        run.problem = "ended within 1 s of its window (" + Child::DescribeStatus(*status) + "):\n" + child.Output();
        return run;
    }
    run.later = ReadMemory(child.pid());
    for (const pid_t c : Children(child.pid()))
        if (ProcessName(c).rfind("quillet-guard", 0) == 0) run.guardianRssKb = ReadMemory(c).rssKb;

    const Clock::time_point term = Clock::now();
    child.Signal(SIGTERM);
    rusage usage{};
    const std::optional<int> status = child.Wait(kEndTimeout, &usage);
    if (!status) {
        run.problem = "still running " + std::to_string(kEndTimeout.count()) + " s after SIGTERM";
        return run;
    }
    run.endMs = Ms(Clock::now() - term);
    run.peakKb = usage.ru_maxrss;
    run.endStatus = Child::DescribeStatus(*status);
    // The desktop program ends in order on SIGTERM; the bare dialog is ended by it.
    const bool expected = quillet ? WIFEXITED(*status) && WEXITSTATUS(*status) == 0
                                  : WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM;
    if (!expected) {
        run.problem = "ended with " + run.endStatus + ":\n" + child.Output();
        return run;
    }
    run.ok = true;
    return run;
}

struct CommandRun {
    bool ok = false;
    std::string problem;
    double wallMs = 0;
    long peakKb = 0;
};

CommandRun RunCommand(const Paths& paths, const TempFolder& folder, const std::vector<std::string>& args) {
    CommandRun run;
    std::vector<std::string> argv = {paths.cli};
    argv.insert(argv.end(), args.begin(), args.end());
    Child child;
    std::string error;
    // No display at all: these commands must not need one.
    if (!child.Start(argv, folder.path(), {"DISPLAY", "WAYLAND_DISPLAY"}, folder.path() / "cli.log", false, error)) {
        run.problem = error;
        return run;
    }
    rusage usage{};
    const std::optional<int> status = child.Wait(kEndTimeout, &usage);
    const Clock::time_point end = Clock::now();
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        run.problem = (status ? Child::DescribeStatus(*status) : "still running") + ":\n" + child.Output();
        return run;
    }
    run.wallMs = Ms(end - child.started());
    run.peakKb = usage.ru_maxrss;
    run.ok = true;
    return run;
}

// Shared objects and memory of quillet-cli run once it watches the keyboard and mouse.
struct CliRunFigures {
    int sharedObjects = -1;
    Memory memory;
    double watchingMs = 0;
    std::string problem;
};

CliRunFigures MeasureCliRun(const std::string& display, const Paths& paths) {
    CliRunFigures f;
    TempFolder folder;
    std::string error;
    if (!PrepareQuilletFolder(folder.path(), false, error)) {
        f.problem = error;
        return f;
    }
    Child child;
    if (!child.Start({paths.cli, "run"}, folder.path(), ProgramEnvironment(display, folder, paths),
                     folder.path() / "run.err", true, error)) {
        f.problem = error;
        return f;
    }
    if (!child.WaitForLine("watching the keyboard and mouse", kStartTimeout)) {
        f.problem = "quillet-cli run did not start watching:\n" + child.Output();
        return f;
    }
    f.watchingMs = Ms(Clock::now() - child.started());
    f.sharedObjects = CountSharedObjects(child.pid());
    f.memory = ReadMemory(child.pid());
    child.Signal(SIGTERM);
    child.Wait(kEndTimeout);
    return f;
}

std::string Row(const std::vector<double>& values, const char* format) {
    const Summary s = Summarise(values);
    if (s.n == 0) return "   (no data)";
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, s.median, s.min, s.max);
    return buffer;
}

void Each(const char* label, const std::vector<double>& values) {
    std::printf("      %-14s", label);
    for (const double v : values) std::printf(" %.0f", v);
    std::printf("\n");
}

bool MeasureDesk(bool windowManager, int runs, const Paths& paths) {
    std::string error;
    const std::unique_ptr<Desk> desk = Desk::Start(windowManager, error);
    if (!desk) {
        std::fprintf(stderr, "bench_start: %s\n", error.c_str());
        return false;
    }
    MapWatcher watcher(desk->display());
    if (!watcher.ok()) {
        std::fprintf(stderr, "bench_start: cannot open %s\n", desk->display().c_str());
        return false;
    }
    std::printf("\n== %s, %d runs each ==\n", windowManager ? "Xvfb with openbox" : "Xvfb, no window manager", runs);

    struct Figures {
        Figures(const char* n, bool q) : name(n), quillet(q) {}
        const char* name;
        bool quillet;
        std::vector<double> created, mapped, rssMap, rssLater, privLater, peak, guardian, end, shared;
        std::map<std::string, int> titles, before;
        int failures = 0;
    };
    Figures programs[] = {{"quillet", true}, {"bare dialog", false}};
    for (int i = 0; i < runs; ++i) {
        for (Figures& f : programs) {
            const WindowRun run = StartWindowProgram(desk->display(), watcher, paths, f.quillet);
            if (!run.ok) {
                ++f.failures;
                std::fprintf(stderr, "bench_start: %s, run %d: %s\n", f.name, i + 1, run.problem.c_str());
                continue;
            }
            f.created.push_back(run.createdMs);
            f.mapped.push_back(run.mappedMs);
            f.rssMap.push_back(static_cast<double>(run.atMap.rssKb) / 1024);
            f.rssLater.push_back(static_cast<double>(run.later.rssKb) / 1024);
            f.privLater.push_back(static_cast<double>(run.later.privateKb) / 1024);
            f.peak.push_back(static_cast<double>(run.peakKb) / 1024);
            if (run.guardianRssKb >= 0) f.guardian.push_back(static_cast<double>(run.guardianRssKb) / 1024);
            f.end.push_back(run.endMs);
            f.shared.push_back(run.sharedObjects);
            ++f.titles["'" + run.title + "'"];
            if (!run.before.empty()) ++f.before[run.before];
        }
    }

    std::printf("window mapped, ms from fork          median    min    max\n");
    for (const Figures& f : programs) {
        std::printf("  %-34s%s%s\n", f.name, Row(f.mapped, "%7.1f %6.1f %6.1f").c_str(),
                    f.failures > 0 ? ("   (" + std::to_string(f.failures) + " runs failed)").c_str() : "");
        std::printf("    %-32s%s\n", "its window created", Row(f.created, "%7.1f %6.1f %6.1f").c_str());
        Each("each map:", f.mapped);
        for (const auto& [title, n] : f.titles) std::printf("      window %s in %d runs\n", title.c_str(), n);
        for (const auto& [what, n] : f.before)
            std::printf("      mapped before it: %s (in %d runs)\n", what.c_str(), n);
    }
    const Summary q = Summarise(programs[0].mapped), b = Summarise(programs[1].mapped);
    if (q.n > 0 && b.n > 0) std::printf("  ratio quillet / bare dialog (medians): %.2f\n", q.median / b.median);

    std::printf("memory, MiB                          median    min    max\n");
    for (const Figures& f : programs) {
        std::printf("  %s\n", f.name);
        std::printf("    %-32s%s\n", "RSS when mapped", Row(f.rssMap, "%7.1f %6.1f %6.1f").c_str());
        std::printf("    %-32s%s\n", "RSS 1 s later", Row(f.rssLater, "%7.1f %6.1f %6.1f").c_str());
        std::printf("    %-32s%s\n", "private (unshared) 1 s later", Row(f.privLater, "%7.1f %6.1f %6.1f").c_str());
        std::printf("    %-32s%s\n", "peak RSS (wait4)", Row(f.peak, "%7.1f %6.1f %6.1f").c_str());
        if (!f.guardian.empty())
            std::printf("    %-32s%s\n", "guardian RSS 1 s later", Row(f.guardian, "%7.1f %6.1f %6.1f").c_str());
    }
    const Summary qm = Summarise(programs[0].rssLater), bm = Summarise(programs[1].rssLater);
    if (qm.n > 0 && bm.n > 0)
        std::printf("  ratio quillet / bare dialog, RSS 1 s later (medians): %.2f\n", qm.median / bm.median);

    std::printf("end after SIGTERM, ms                median    min    max\n");
    for (const Figures& f : programs) std::printf("  %-34s%s\n", f.name, Row(f.end, "%7.1f %6.1f %6.1f").c_str());

    const CliRunFigures cliRun = MeasureCliRun(desk->display(), paths);
    std::printf("shared objects mapped (distinct .so files in /proc/PID/maps)\n");
    for (const Figures& f : programs)
        std::printf("  %-34s%s\n", (std::string(f.name) + ", window up").c_str(),
                    Row(f.shared, "%7.0f %6.0f %6.0f").c_str());
    if (cliRun.problem.empty())
        std::printf("  %-34s%7d   (RSS %.1f MiB, watching %.1f ms after fork)\n", "quillet-cli run, watching",
                    cliRun.sharedObjects, static_cast<double>(cliRun.memory.rssKb) / 1024, cliRun.watchingMs);
    else
        std::fprintf(stderr, "bench_start: %s\n", cliRun.problem.c_str());
    return true;
}

void MeasureCommands(int runs, const Paths& paths) {
    TempFolder folder;
    std::string error;
    if (!PrepareQuilletFolder(folder.path(), false, error)) {
        std::fprintf(stderr, "bench_start: %s\n", error.c_str());
        return;
    }
    const std::vector<std::vector<std::string>> commands = {
        {"dump", "macro.m"}, {"check", "macro.m"}, {"settings"}, {"export", "macro.m"}};
    std::vector<std::vector<double>> wall(commands.size()), peak(commands.size());
    std::vector<int> failures(commands.size());
    for (int i = 0; i < runs; ++i) {
        for (std::size_t c = 0; c < commands.size(); ++c) {
            const CommandRun run = RunCommand(paths, folder, commands[c]);
            if (!run.ok) {
                ++failures[c];
                std::fprintf(stderr, "bench_start: quillet-cli %s, run %d: %s\n", commands[c][0].c_str(), i + 1,
                             run.problem.c_str());
                continue;
            }
            wall[c].push_back(run.wallMs);
            peak[c].push_back(static_cast<double>(run.peakKb) / 1024);
        }
    }
    std::printf("\n== quillet-cli without a display, %d runs each (8 macros) ==\n", runs);
    std::printf("                            wall ms: median    min    max   peak RSS MiB: median    min    max\n");
    for (std::size_t c = 0; c < commands.size(); ++c) {
        std::string name = "quillet-cli";
        for (const std::string& a : commands[c]) name += " " + a;
        std::printf("  %-34s%s   %21s%s\n", name.c_str(), Row(wall[c], "%7.1f %6.1f %6.1f").c_str(), "",
                    Row(peak[c], "%7.1f %6.1f %6.1f").c_str());
        if (failures[c] > 0) std::printf("    (%d runs failed)\n", failures[c]);
    }
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int runs = 10;
    bool windowManager = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--wm") == 0)
            windowManager = true;
        else {
            std::fprintf(stderr, "usage: bench_start [--runs N] [--wm]\n");
            return 2;
        }
    }
    const Paths paths;
    if (windowManager && access("/usr/bin/openbox", X_OK) != 0) {
        std::fprintf(stderr, "bench_start: --wm needs openbox (/usr/bin/openbox), which is not installed\n");
        return 1;
    }
    std::printf("quillet: %s\nbare dialog: %s\nquillet-cli: %s\n", DescribeProgram(paths.app).c_str(),
                DescribeProgram(paths.bare).c_str(), DescribeProgram(paths.cli).c_str());
    if (!MeasureDesk(false, runs, paths)) return 1;
    if (windowManager && !MeasureDesk(true, runs, paths)) return 1;
    MeasureCommands(runs, paths);
    return 0;
}
