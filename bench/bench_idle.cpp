// How often the programs wake up and how much CPU they take while nothing happens, on a private Xvfb with no input:
//   - quillet in edit mode and in run mode (Quillet.ini's run-mode bit) with a library of macros started and
//     stopped by hotkeys only, counted once the main window is mapped;
//   - quillet-cli run on the same library, counted once it prints that it watches the keyboard and mouse;
//   - bench_bare_dialog, a Qt dialog doing nothing, as the floor Qt itself sets.
// After 2 s of settling, the context switches of every thread (voluntary + involuntary, /proc/PID/task/*/status)
// and the CPU time of the process (utime + stime, /proc/PID/stat) are counted over a fixed window: wake-ups per
// second and CPU in % of one core, for the process and for each thread by name. quillet's guardian, a child
// process, is counted apart.
//
//   build/bench/bench_idle [--seconds N] [--wm] [--macro-options N]
// (default 10 s; --wm: under openbox; --macro-options: Quillet.ini's macroOptions other than the default 136, to see
// what an option costs, e.g. 8 without the tray icon's blinking in run mode)
#include <signal.h>
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
constexpr auto kSettle = 2000ms;

struct Paths {
    std::string app = QUILLET_APP_PATH;
    std::string cli = QUILLET_CLI_PATH;
    std::string guardian = QUILLET_GUARDIAN_PATH;
    std::string bare = BARE_DIALOG_PATH;
};

enum class Kind { QuilletEdit, QuilletRun, CliRun, Bare };

struct ThreadFigures {
    pid_t tid = 0;
    std::string name;
    double wakeups = 0; // per second
    double cpu = 0;     // % of one core, from the scheduler's nanoseconds (else the clock ticks)
    bool born = false;  // started during the window
    std::string waitsIn;
};

struct ProcessFigures {
    std::string name;
    pid_t pid = 0;
    double wakeups = 0, cpu = 0; // cpu from utime + stime of /proc/PID/stat
    double threadCpu = -1;       // the threads' scheduler nanoseconds summed, -1 when the kernel has none
    int threads = 0, threadsEnded = 0;
    std::vector<ThreadFigures> perThread;
};

std::string Fixed(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", v);
    return buffer;
}

struct Snapshot {
    std::vector<ThreadSample> threads;
    unsigned long long ticks = 0;
};

Snapshot Take(pid_t pid) {
    return {SampleThreads(pid), ProcessTicks(pid)};
}

ProcessFigures Compare(const std::string& name, pid_t pid, const Snapshot& from, const Snapshot& to, double seconds) {
    ProcessFigures f;
    f.name = name;
    f.pid = pid;
    const double tick = 100.0 / static_cast<double>(TicksPerSecond()) / seconds;
    f.cpu = static_cast<double>(to.ticks - from.ticks) * tick;
    std::map<pid_t, const ThreadSample*> before;
    for (const ThreadSample& t : from.threads) before[t.tid] = &t;
    unsigned long long switches = 0;
    long long runNs = 0;
    bool haveRunNs = true;
    for (const ThreadSample& t : to.threads) {
        const auto it = before.find(t.tid);
        ThreadFigures tf;
        tf.tid = t.tid;
        tf.name = t.name;
        tf.born = it == before.end();
        const unsigned long long s0 = tf.born ? 0 : it->second->switches, c0 = tf.born ? 0 : it->second->ticks;
        tf.wakeups = static_cast<double>(t.switches - s0) / seconds;
        tf.waitsIn = t.waitsIn;
        const long long n0 = tf.born ? 0 : it->second->runNs;
        if (t.runNs >= 0 && n0 >= 0) {
            tf.cpu = static_cast<double>(t.runNs - n0) / 1e7 / seconds;
            runNs += t.runNs - n0;
        } else {
            tf.cpu = static_cast<double>(t.ticks - c0) * tick;
            haveRunNs = false;
        }
        switches += t.switches - s0;
        f.perThread.push_back(tf);
        if (!tf.born) before.erase(it);
    }
    f.threads = static_cast<int>(to.threads.size());
    f.threadsEnded = static_cast<int>(before.size()); // their last switches are not counted
    f.wakeups = static_cast<double>(switches) / seconds;
    if (haveRunNs) f.threadCpu = static_cast<double>(runNs) / 1e7 / seconds;
    std::stable_sort(f.perThread.begin(), f.perThread.end(),
                     [](const ThreadFigures& a, const ThreadFigures& b) { return a.wakeups > b.wakeups; });
    return f;
}

struct CaseResult {
    std::string name;
    std::string problem;
    std::vector<ProcessFigures> processes;
};

CaseResult Measure(Kind kind, const std::string& display, MapWatcher& watcher, const Paths& paths, double seconds,
                   int macroOptions) {
    CaseResult result;
    result.name = kind == Kind::QuilletEdit  ? "quillet, edit mode"
                  : kind == Kind::QuilletRun ? "quillet, run mode"
                  : kind == Kind::CliRun     ? "quillet-cli run"
                                             : "bare dialog";
    TempFolder folder;
    std::string error;
    if (!PrepareQuilletFolder(folder.path(), kind == Kind::QuilletRun, error, macroOptions)) {
        result.problem = error;
        return result;
    }
    const std::vector<std::string> env = {
        "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE",
        "XDG_RUNTIME_DIR=" + (folder.path() / "runtime").string(), "QUILLET_GUARDIAN=" + paths.guardian,
        // no input method or accessibility bus of a session behind this display
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder.path() / "no-bus").string(), "AT_SPI_BUS_ADDRESS"};
    const std::vector<std::string> argv = kind == Kind::CliRun ? std::vector<std::string>{paths.cli, "run"}
                                          : kind == Kind::Bare ? std::vector<std::string>{paths.bare}
                                                               : std::vector<std::string>{paths.app};
    watcher.Drain();
    Child child;
    if (!child.Start(argv, folder.path(), env, folder.path() / "err.log", kind == Kind::CliRun, error)) {
        result.problem = error;
        return result;
    }
    if (kind == Kind::CliRun) {
        if (!child.WaitForLine("watching the keyboard and mouse", kStartTimeout)) {
            result.problem = "it did not start watching:\n" + child.Output();
            return result;
        }
    } else {
        const std::string instance = std::filesystem::path(argv[0]).filename().string();
        if (!watcher.WaitForWindow(child.pid(), instance, child.started() + kStartTimeout,
                                   [&] { return !child.Ended(); })) {
            result.problem = "no window came up:\n" + child.Output();
            return result;
        }
    }
    // Settling, then the measuring window itself; either ends early only when the program does.
    if (const std::optional<int> status = child.Wait(kSettle)) {
        result.problem = "ended while settling (" + Child::DescribeStatus(*status) + "):\n" + child.Output();
        return result;
    }
    std::vector<pid_t> guardians;
    for (const pid_t c : Children(child.pid()))
        if (ProcessName(c).rfind("quillet-guard", 0) == 0) guardians.push_back(c);
    const Snapshot main0 = Take(child.pid());
    std::vector<Snapshot> guard0;
    for (const pid_t g : guardians) guard0.push_back(Take(g));
    const Clock::time_point from = Clock::now();
    if (const std::optional<int> status =
            child.Wait(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)))) {
        result.problem = "ended while measured (" + Child::DescribeStatus(*status) + "):\n" + child.Output();
        return result;
    }
    const Snapshot main1 = Take(child.pid());
    std::vector<Snapshot> guard1;
    for (const pid_t g : guardians) guard1.push_back(Take(g));
    const double measured = Ms(Clock::now() - from) / 1000;

    result.processes.push_back(Compare(ProcessName(child.pid()), child.pid(), main0, main1, measured));
    for (std::size_t i = 0; i < guardians.size(); ++i)
        result.processes.push_back(
            Compare(ProcessName(guardians[i]) + " (child)", guardians[i], guard0[i], guard1[i], measured));

    child.Signal(SIGTERM);
    if (!child.Wait(20s)) result.problem = "still running 20 s after SIGTERM";
    return result;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    double seconds = 10;
    bool windowManager = false;
    int macroOptions = kDefaultMacroOptions;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--macro-options") == 0 && i + 1 < argc)
            macroOptions = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1.0, std::atof(argv[++i]));
        else if (std::strcmp(argv[i], "--wm") == 0)
            windowManager = true;
        else {
            std::fprintf(stderr, "usage: bench_idle [--seconds N] [--wm] [--macro-options N]\n");
            return 2;
        }
    }
    std::string error;
    const std::unique_ptr<Desk> desk = Desk::Start(windowManager, error);
    if (!desk) {
        std::fprintf(stderr, "bench_idle: %s\n", error.c_str());
        return 1;
    }
    MapWatcher watcher(desk->display());
    if (!watcher.ok()) {
        std::fprintf(stderr, "bench_idle: cannot open %s\n", desk->display().c_str());
        return 1;
    }
    const Paths paths;
    std::printf("quillet: %s\nquillet-cli: %s\n", DescribeProgram(paths.app).c_str(),
                DescribeProgram(paths.cli).c_str());
    std::printf("idle on %s, %.0f s counted after %.0f s of settling; no input; macroOptions %d\n",
                windowManager ? "Xvfb with openbox" : "Xvfb, no window manager", seconds,
                std::chrono::duration<double>(kSettle).count(), macroOptions);
    std::printf("CPU in %% of one core: of a process from utime + stime (clock ticks of %.0f ms), and in brackets "
                "from the scheduler's run time of its threads; of a thread from the scheduler's run time.\n",
                1000.0 / static_cast<double>(TicksPerSecond()));
    std::printf("%-20s %-26s %10s %8s %9s %8s  %s\n", "case", "process / thread", "wakeups/s", "CPU %", "(sched)",
                "threads", "sleeps in");
    int failures = 0;
    for (const Kind kind : {Kind::QuilletEdit, Kind::QuilletRun, Kind::CliRun, Kind::Bare}) {
        const CaseResult r = Measure(kind, desk->display(), watcher, paths, seconds, macroOptions);
        for (std::size_t p = 0; p < r.processes.size(); ++p) {
            const ProcessFigures& f = r.processes[p];
            std::printf("%-20s %-26s %10.1f %8.2f %9s %8d%s\n", p == 0 ? r.name.c_str() : "", f.name.c_str(), f.wakeups,
                        f.cpu, f.threadCpu < 0 ? "" : ("(" + Fixed(f.threadCpu) + ")").c_str(), f.threads,
                        f.threadsEnded > 0 ? (" (" + std::to_string(f.threadsEnded) + " ended meanwhile)").c_str()
                                           : "");
            for (const ThreadFigures& t : f.perThread)
                std::printf("%-20s   %-24s %10.1f %8.2f %9s %8s  %s%s\n", "",
                            (t.name + " " + std::to_string(t.tid)).c_str(), t.wakeups, t.cpu, "", "", t.waitsIn.c_str(),
                            t.born ? " (started meanwhile)" : "");
        }
        if (!r.problem.empty()) {
            ++failures;
            std::fprintf(stderr, "bench_idle: %s: %s\n", r.name.c_str(), r.problem.c_str());
        }
    }
    return failures == 0 ? 0 : 1;
}
