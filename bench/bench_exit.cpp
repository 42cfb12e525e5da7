// How long the desktop program takes to end when no dialog is open: from SIGTERM to the end of the process, and
// from a click on its exit button "종료" to the end of the process, in edit mode and in run mode (input watched,
// window timers running). Every try starts a fresh quillet in a fresh temporary folder (first start: the demo
// library) on a private Xvfb, waits until its main window is up, painted and its event loop answers, then ends it
// and waits for the process with a process descriptor. The click is a
// person's: the pointer moved onto the button through XTest and the left button pressed and let go; the time runs
// from the release, which is what the button acts on.
//
// The button is found on the screen, not from the program's insides: the exit button is the last of the column of
// buttons right of the macro list, its bottom level with the list's. The list is the white area of the window.
//
//   build/bench/bench_exit [tries]        (default 20 of each)
// Prints p50, p90 and the maximum of each way, the median of its phases as seen from outside (settings file saved,
// lock file released just before Qt is taken down, process gone), and each try's time in milliseconds. The tries of the
// four ways take turns, so that all see the same machine.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "model/settings.h"
#include "platform/x11/xvfb_server.h"

namespace {

using namespace std::chrono_literals;
using quillet::e2e::ChildProcess;
using quillet::e2e::TempDir;
using quillet::e2e::WindowWatcher;
using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = 60s;
constexpr auto kEndTimeout = 20s;
const std::string kMainTitle = "Quillet V2.3";
constexpr int32_t kDefaultMacroOptions = 136, kRunMode = 0x2;

// A running quillet in a folder of its own.
struct Run {
    TempDir dir;
    ChildProcess app;
    Window window = 0;
};

bool StartQuillet(const std::string& display, WindowWatcher& watcher, bool runMode, Run& run, std::string& error) {
    if (run.dir.path().empty()) {
        error = "no temporary folder";
        return false;
    }
    {
        quillet::CIni settings("Property", (run.dir.path() / "Quillet.ini").string());
        settings.WriteInt("macroOptions", kDefaultMacroOptions | (runMode ? kRunMode : 0));
        if (settings.TakeWriteFailure()) {
            error = "cannot write Quillet.ini";
            return false;
        }
    }
    const std::filesystem::path runtime = run.dir.path() / "runtime";
    mkdir(runtime.c_str(), 0700);
    if (!run.app.Start({QUILLET_APP_PATH}, run.dir.path(),
                       {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY",
                        "XDG_RUNTIME_DIR=" + runtime.string(),
                        // no input method of a session behind this display
                        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (run.dir.path() / "no-bus").string()},
                       run.dir.path() / "quillet.log", error))
        return false;
    run.window = watcher.WaitForWindow(kMainTitle, kStartTimeout, [&] { return !run.app.Ended(); });
    if (run.window == 0 || !watcher.Ping(run.window, kStartTimeout)) {
        error = "the main window did not come up:\n" + run.app.Log();
        return false;
    }
    return true;
}

// The centre of the exit button in root coordinates, from the window's pixels.
std::optional<std::pair<int, int>> FindExitButton(WindowWatcher& watcher, Window window) {
    int x = 0, y = 0, width = 0, height = 0;
    if (!watcher.Geometry(window, x, y, width, height) || width < 100 || height < 100) return std::nullopt;
    XImage* image = XGetImage(watcher.dpy(), window, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return std::nullopt;
    const auto white = [&](int px, int py) { return (XGetPixel(image, px, py) & 0xFFFFFF) == 0xFFFFFF; };
    // Up from the bottom, near the left edge: the labels under the list are text on grey; the list's inside is
    // the first tall white run.
    const int column = 20;
    int listBottom = -1;
    for (int py = height - 1, run = 0; py >= 0 && listBottom < 0; --py) {
        run = white(column, py) ? run + 1 : 0;
        if (run == 8) listBottom = py + 7;
    }
    int listRight = -1;
    if (listBottom > 0)
        for (int px = column; px < width && listRight < 0; ++px)
            if (!white(px, listBottom - 3)) listRight = px;
    XDestroyImage(image);
    if (listBottom < 0 || listRight < 0 || listRight > width - 40) return std::nullopt;
    // The button column fills the space right of the list; its last button ends where the list does.
    return std::make_pair(x + (listRight + width) / 2, y + listBottom - 8);
}

// What can be seen from outside while the program ends: Quillet.ini renamed into place (the settings saved), the
// lock file removed (main() is done with the application and about to take Qt down), and the process gone.
struct Outcome {
    bool ok = false;
    std::string problem;
    double savedMs = -1, releasedMs = -1, goneMs = -1; // from the trigger; -1 when not seen
};

class EndWatch {
public:
    EndWatch(const std::filesystem::path& folder, pid_t pid) {
        inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (inotify_ >= 0) inotify_add_watch(inotify_, folder.c_str(), IN_MOVED_TO | IN_DELETE);
        pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    }
    ~EndWatch() {
        if (inotify_ >= 0) close(inotify_);
        if (pidFd_ >= 0) close(pidFd_);
    }
    bool ok() const { return inotify_ >= 0 && pidFd_ >= 0; }

    // Records the three moments after `from`, until the process has ended or the time is up.
    void Wait(Clock::time_point from, Outcome& out) {
        const auto since = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - from).count(); };
        const Clock::time_point until = from + kEndTimeout;
        while (out.goneMs < 0 && Clock::now() < until) {
            pollfd fds[2] = {{pidFd_, POLLIN, 0}, {inotify_, POLLIN, 0}};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (poll(fds, 2, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
            const double now = since();
            if ((fds[1].revents & POLLIN) != 0) {
                alignas(inotify_event) char buffer[4096];
                const ssize_t got = read(inotify_, buffer, sizeof buffer);
                for (ssize_t at = 0; at < got;) {
                    const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
                    const std::string name = ev->len > 0 ? ev->name : "";
                    if ((ev->mask & IN_MOVED_TO) != 0 && name == "Quillet.ini" && out.savedMs < 0) out.savedMs = now;
                    if ((ev->mask & IN_DELETE) != 0 && name == "Quillet.lock" && out.releasedMs < 0)
                        out.releasedMs = now;
                    at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                }
            }
            if ((fds[0].revents & POLLIN) != 0) out.goneMs = now;
        }
    }

private:
    int inotify_ = -1;
    int pidFd_ = -1;
};

// Ends the program with `trigger` and follows its end; the exit status must be 0.
Outcome FollowEnd(Run& run, const std::function<Clock::time_point()>& trigger) {
    Outcome out;
    EndWatch watch(run.dir.path(), run.app.pid());
    if (!watch.ok()) {
        out.problem = "cannot watch the folder or the process";
        return out;
    }
    watch.Wait(trigger(), out);
    const std::optional<int> status = run.app.Wait(out.goneMs < 0 ? 0ms : kEndTimeout);
    out.ok = out.goneMs >= 0 && status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    if (!out.ok)
        out.problem = status ? ChildProcess::DescribeStatus(*status)
                             : "still running " + std::to_string(kEndTimeout.count()) + " s later";
    return out;
}

Outcome EndBySignal(WindowWatcher&, Run& run) {
    return FollowEnd(run, [&] {
        const Clock::time_point from = Clock::now();
        run.app.Signal(SIGTERM);
        return from;
    });
}

Outcome EndByExitButton(WindowWatcher& watcher, Run& run) {
    // The window may not be painted yet when its event loop first answers: look again after each round of it.
    std::optional<std::pair<int, int>> at;
    for (const Clock::time_point until = Clock::now() + 10s; !at && Clock::now() < until;) {
        at = FindExitButton(watcher, run.window);
        if (!at && !watcher.Ping(run.window, kEndTimeout)) break;
    }
    if (!at) {
        Outcome out;
        out.problem = "exit button not found in the window";
        return out;
    }
    Outcome out = FollowEnd(run, [&] {
        Display* dpy = watcher.dpy();
        XTestFakeMotionEvent(dpy, DefaultScreen(dpy), at->first, at->second, CurrentTime);
        XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
        XSync(dpy, False);
        // The press has been handled by the program's event loop before the release is timed.
        watcher.Ping(run.window, kEndTimeout);
        XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
        XSync(dpy, False);
        return Clock::now();
    });
    if (!out.ok) out.problem += " (click at " + std::to_string(at->first) + "," + std::to_string(at->second) + ")";
    return out;
}

struct Figures {
    std::vector<double> gone, saved, released, tail;
    int failures = 0;
};

void Report(const char* what, const Figures& f) {
    if (f.gone.empty()) {
        std::printf("%-24s no successful try (%d failed)\n", what, f.failures);
        return;
    }
    const auto pct = [](std::vector<double> v, double p) {
        if (v.empty()) return -1.0;
        std::sort(v.begin(), v.end());
        return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
    };
    std::printf("%-24s %zu tries: p50 %.1f ms, p90 %.1f ms, max %.1f ms, min %.1f ms%s\n", what, f.gone.size(),
                pct(f.gone, 0.5), pct(f.gone, 0.9), pct(f.gone, 1.0), pct(f.gone, 0.0),
                f.failures > 0 ? (", " + std::to_string(f.failures) + " failed").c_str() : "");
    std::printf("%-24s settings saved %.1f ms, lock released %.1f ms; from there to the end %.1f ms (max %.1f)\n",
                "  p50 of the phases:", pct(f.saved, 0.5), pct(f.released, 0.5), pct(f.tail, 0.5), pct(f.tail, 1.0));
    std::printf("%-24s", "  each:");
    for (double v : f.gone) std::printf(" %.0f", v);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int tries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::string error;
    const std::unique_ptr<quillet::platform::x11::XvfbServer> server =
        quillet::platform::x11::XvfbServer::Start(1280, 1024, error);
    if (!server) {
        std::fprintf(stderr, "bench_exit: %s\n", error.c_str());
        return 1;
    }
    WindowWatcher watcher(server->display());
    if (watcher.dpy() == nullptr) {
        std::fprintf(stderr, "bench_exit: cannot open %s\n", server->display().c_str());
        return 1;
    }

    struct Way {
        const char* name;
        bool runMode;
        Outcome (*end)(WindowWatcher&, Run&);
        Figures figures;
    };
    Way ways[] = {{"edit mode, SIGTERM", false, EndBySignal, {}},
                  {"edit mode, exit button", false, EndByExitButton, {}},
                  {"run mode, SIGTERM", true, EndBySignal, {}},
                  {"run mode, exit button", true, EndByExitButton, {}}};
    for (int i = 0; i < tries; ++i) {
        for (Way& way : ways) {
            Run run;
            if (!StartQuillet(server->display(), watcher, way.runMode, run, error)) {
                std::fprintf(stderr, "bench_exit: %s\n", error.c_str());
                return 1;
            }
            const Outcome out = way.end(watcher, run);
            Figures& f = way.figures;
            if (out.ok) {
                f.gone.push_back(out.goneMs);
                if (out.savedMs >= 0) f.saved.push_back(out.savedMs);
                if (out.releasedMs >= 0) {
                    f.released.push_back(out.releasedMs);
                    f.tail.push_back(out.goneMs - out.releasedMs);
                }
            } else {
                ++f.failures;
                std::fprintf(stderr, "bench_exit: %s, try %d: %s\n%s", way.name, i + 1, out.problem.c_str(),
                             run.app.Log().c_str());
            }
        }
    }
    std::printf("time from SIGTERM, or from the release of the click, to the end of the process:\n");
    for (const Way& way : ways) Report(way.name, way.figures);
    return 0;
}
