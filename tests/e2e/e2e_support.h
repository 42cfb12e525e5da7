// End-to-end helpers: a temporary working folder, a child program with its output kept in a log, the program's
// top-level window found by its title, and a round trip through that window's event loop.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Xlib's display type without Xlib's macros, so that this header goes with any other.
typedef struct _XDisplay Display;

namespace quillet::e2e {

using namespace std::chrono_literals;
using XWindow = unsigned long; // Xlib's Window

// A fresh folder under the system's temporary directory, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A program started in a folder with some environment variables replaced; stdout and stderr go to a log file
// (stderr to a file of its own when errLog is given). The destructor kills a program that is still running.
class ChildProcess {
public:
    // env entries are "NAME=value" (set) or "NAME" (removed). False with a message when fork or exec fails.
    bool Start(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
               const std::vector<std::string>& env, const std::filesystem::path& log, std::string& error,
               const std::filesystem::path& errLog = {});
    ~ChildProcess();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool Signal(int sig) const;
    // SIGKILL and reap, when still running.
    void Kill();
    // Waits for the program to end; the wait status, or nothing when it is still running after timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // True once the program has ended on its own (reaps it; never blocks).
    bool Ended();
    // The log so far, for failure messages.
    std::string Log() const;
    // "exit code N" / "killed by signal N".
    static std::string DescribeStatus(int status);

private:
    pid_t pid_ = -1;
    int status_ = 0;
    std::filesystem::path log_;
};

// Watches the root window of a display for new top-level windows and talks to them.
class WindowWatcher {
public:
    explicit WindowWatcher(const std::string& display);
    ~WindowWatcher();
    WindowWatcher(const WindowWatcher&) = delete;
    WindowWatcher& operator=(const WindowWatcher&) = delete;

    Display* dpy() const { return dpy_; }
    // A viewable top-level window whose title is `title`; 0 when none appears within timeout or `alive` turns false.
    XWindow WaitForWindow(const std::string& title, std::chrono::milliseconds timeout,
                          const std::function<bool()>& alive);
    // Sends a _NET_WM_PING to the window and waits for the answer its event loop sends back to the root window:
    // once it is back, the event loop has handled everything that was handed to it before the ping arrived.
    bool Ping(XWindow window, std::chrono::milliseconds timeout);
    // The window's title (_NET_WM_NAME, else WM_NAME), UTF-8.
    std::string Title(XWindow window);
    // Top-left corner of the window in root coordinates and its size.
    bool Geometry(XWindow window, int& x, int& y, int& width, int& height);

private:
    Display* dpy_ = nullptr;
    long pingStamp_ = 0;
};

// The accessibility bus of one test, for driving a program's windows as a screen-reader user does: a private
// session bus on which the accessibility bus and its registry start (tests/e2e/a11y_driver.py, under Debian's
// /usr/bin/python3 with python3-pyatspi), all in a folder of the test's own. Nothing of the desktop session the
// tests run in is used or seen: the display, the session bus and an accessibility bus named in the environment are
// kept away from the program and from the driver.
class A11yBus {
public:
    struct Result {
        bool ok = false;    // the command did what it was asked to within its time limit
        std::string output; // what it printed (rows, text)
        std::string error;  // why not, and what the window held instead
    };

    // Starts the buses in `folder` (created) and waits until the registry answers. False with a message.
    bool Start(const std::filesystem::path& folder, std::string& error);
    // Ends the buses and everything they started, waiting up to a few seconds.
    ~A11yBus();

    // What a Qt program's environment needs to show its windows on this bus.
    std::vector<std::string> AppEnvironment() const;
    // One command of the driver, e.g. {"press", "Quillet V2.3", "저장"}; the driver waits up to `timeout` for the
    // window and control. Every call has a log of its own in the folder.
    Result Run(const std::vector<std::string>& command, std::chrono::milliseconds timeout = 10s);

private:
    std::vector<std::string> DriverEnvironment() const;
    std::filesystem::path folder_;
    ChildProcess bus_;
    int calls_ = 0;
};

// Starts the accessibility bus in folder/a11y and the desktop program `program` in `folder` on `display`, with a
// private runtime folder and the bus in its environment, plus extraEnv ("NAME=value"); stdout and stderr go to
// folder/quillet.log. False with a message.
bool StartProgramOnBus(const std::string& program, const std::string& display, const std::filesystem::path& folder,
                       A11yBus& bus, ChildProcess& app, std::string& error,
                       const std::vector<std::string>& extraEnv = {});

// Waits until `done` holds, looking again whenever something in `folder` changes (a file written, renamed over,
// removed); false when the time ran out first. For files a program writes, such as a saved library.
bool WaitForFolderChange(const std::filesystem::path& folder, const std::function<bool()>& done,
                         std::chrono::milliseconds timeout);

// True when no key of the display is down.
bool NoKeyDown(Display* dpy);
// The names of the keys down, for failure messages.
std::string KeysDown(Display* dpy);
// Lets every key and button that is down go (through XTest) and turns keyboard auto-repeat back on, so that one
// test's leftovers do not reach the next.
void RestoreInput(Display* dpy);

// The keys of a section of an INI file, in file order, with their raw values.
std::vector<std::pair<std::string, std::string>> IniKeys(const std::filesystem::path& file, const std::string& section);

} // namespace quillet::e2e
