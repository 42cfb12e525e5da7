// What bench_start and bench_idle share: a private X server (optionally with a window manager), a folder prepared
// as a person's Quillet folder, child programs started with fork/exec and reaped with wait4 (for their peak memory),
// the moment a program's top-level window is mapped, and the figures the kernel keeps about a process in /proc.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Xlib's display type without Xlib's macros.
typedef struct _XDisplay Display;

namespace quillet::platform::x11 {
class XvfbServer;
}

namespace quillet::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d);

// A fresh folder under the system's temporary directory, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline constexpr int kDefaultMacroOptions = 136;

// Makes `folder` what a person's Quillet folder holds: Quillet.ini with `macroOptions` (the default ones unless
// given; plus the run-mode bit when runMode), and the library macro.m with a few macros started and stopped by hotkeys
// only (no clock, colour or image condition), each typing a short text. A runtime folder of mode 0700 goes in
// folder/runtime.
bool PrepareQuilletFolder(const std::filesystem::path& folder, bool runMode, std::string& error,
                          int macroOptions = kDefaultMacroOptions);

// A program started with fork/exec. stdin is /dev/null; stdout goes to a pipe (for WaitForLine) or to `log`, stderr
// to `log`. The destructor kills and reaps a program that is still running.
class Child {
public:
    // env entries are "NAME=value" (set) or "NAME" (removed) on top of this process's environment.
    bool Start(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
               const std::vector<std::string>& env, const std::filesystem::path& log, bool pipeStdout,
               std::string& error);
    ~Child();
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    // The moment just before fork.
    Clock::time_point started() const { return started_; }
    bool Signal(int sig) const;
    // Waits (on a process descriptor, no polling interval) for the end and reaps it with wait4: the wait status and
    // the rusage (ru_maxrss: peak resident memory in KiB). Nothing when still running after timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout, rusage* usage = nullptr);
    // True once the program has ended (reaps it; never blocks).
    bool Ended();
    // Reads the piped stdout until a line contains `text`; false when the program ends or the time is up first.
    bool WaitForLine(const std::string& text, std::chrono::milliseconds timeout);
    // The log so far (and what came through the pipe), for failure messages.
    std::string Output() const;
    void Kill();
    static std::string DescribeStatus(int status);

private:
    pid_t pid_ = -1;
    int pidFd_ = -1;
    int outFd_ = -1;
    int status_ = 0;
    Clock::time_point started_{};
    std::filesystem::path log_;
    std::string piped_;
};

// A private Xvfb, and with `windowManager` openbox on it (ready once it has announced itself on the root window).
class Desk {
public:
    static std::unique_ptr<Desk> Start(bool windowManager, std::string& error);
    ~Desk();
    const std::string& display() const { return display_; }
    bool windowManager() const { return wm_ != nullptr; }

private:
    Desk() = default;
    std::unique_ptr<platform::x11::XvfbServer> server_;
    std::string display_;
    std::unique_ptr<TempFolder> wmHome_;
    std::unique_ptr<Child> wm_;
};

// Watches the X server for top-level windows being mapped. Each new child of the root window is followed from its
// creation, so that its map is seen also when a window manager has put it into a frame.
class MapWatcher {
public:
    explicit MapWatcher(const std::string& display);
    ~MapWatcher();
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;
    bool ok() const { return dpy_ != nullptr; }

    struct Mapped {
        Clock::time_point created{}; // when the window's CreateNotify came in
        Clock::time_point mapped{};  // when its MapNotify came in
        std::string title;
        std::vector<std::string> before; // the process's other windows mapped earlier (menus, tool windows, ...)
    };
    // The first window of process `pid` (by _NET_WM_PID, else by WM_CLASS instance `instance`) that is mapped and
    // not override-redirect. Nothing when `alive` turns false or the time is up first.
    std::optional<Mapped> WaitForWindow(pid_t pid, const std::string& instance, Clock::time_point deadline,
                                        const std::function<bool()>& alive);
    // Reads and forgets what the server sent, without waiting.
    void Drain();

private:
    std::string Title(unsigned long window);
    long WindowPid(unsigned long window);
    std::string Instance(unsigned long window);

    Display* dpy_ = nullptr;
    std::vector<std::pair<unsigned long, Clock::time_point>> created_; // root children and when they came
};

// /proc figures.
struct Memory {
    long rssKb = -1;     // VmRSS
    long hwmKb = -1;     // VmHWM, the peak so far
    long privateKb = -1; // Private_Clean + Private_Dirty of smaps_rollup: pages no other process shares
};
Memory ReadMemory(pid_t pid);
// Distinct shared objects (file names with ".so" in them) mapped into the process.
int CountSharedObjects(pid_t pid);
// The direct children of a process (all its threads').
std::vector<pid_t> Children(pid_t pid);
std::string ProcessName(pid_t pid);
// "PATH (modified YYYY-MM-DD HH:MM:SS)": which build of a program was measured.
std::string DescribeProgram(const std::string& path);

struct ThreadSample {
    pid_t tid = 0;
    std::string name;            // /proc/PID/task/TID/comm
    unsigned long long switches; // voluntary + nonvoluntary context switches
    unsigned long long ticks;    // utime + stime in clock ticks
    long long runNs = -1;        // time on a CPU from /proc/PID/task/TID/schedstat, finer than the ticks; -1: none
    std::string waitsIn;         // /proc/PID/task/TID/wchan: the kernel function it sleeps in
};
std::vector<ThreadSample> SampleThreads(pid_t pid);
// utime + stime of the whole process (ended threads included), in clock ticks.
unsigned long long ProcessTicks(pid_t pid);
long TicksPerSecond();

// Median, minimum and maximum of a set of figures.
struct Summary {
    double median = 0, min = 0, max = 0;
    std::size_t n = 0;
};
Summary Summarise(std::vector<double> values);

} // namespace quillet::bench
