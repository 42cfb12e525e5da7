#include "e2e_support.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace quillet::e2e {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quillet-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const fs::path& cwd, const std::vector<std::string>& env,
                         const fs::path& log, std::string& error, const fs::path& errLog) {
    if (argv.empty()) {
        error = "nothing to start";
        return false;
    }
    // The environment: ours with the given entries set or removed.
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const std::string& entry : env) {
        const auto eq = entry.find('=');
        if (eq == std::string::npos)
            vars.erase(entry);
        else
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : vars) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& s : args) argp.push_back(s.data());
    argp.push_back(nullptr);
    const std::string dir = cwd.string();

    log_ = log;
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (logFd < 0) {
        error = "cannot create " + log.string();
        return false;
    }
    const int errFd = errLog.empty() ? logFd : open(errLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (errFd < 0) {
        close(logFd);
        error = "cannot create " + errLog.string();
        return false;
    }
    const auto closeLogs = [&] {
        close(logFd);
        if (errFd != logFd) close(errFd);
    };
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        closeLogs();
        error = "fork failed";
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test program
        if (getppid() != parent) _exit(126);
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, STDIN_FILENO);
        dup2(logFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    closeLogs();
    pid_ = pid;
    return true;
}

ChildProcess::~ChildProcess() {
    Kill();
}

void ChildProcess::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

bool ChildProcess::Signal(int sig) const {
    return pid_ > 0 && kill(pid_, sig) == 0;
}

bool ChildProcess::Ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    status_ = status;
    pid_ = -1;
    return true;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A process descriptor becomes readable when the process ends, so the wait needs no polling interval.
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    for (;;) {
        if (Ended()) {
            if (pidFd >= 0) close(pidFd);
            return status_;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (pidFd >= 0) close(pidFd);
            return std::nullopt;
        }
        if (pidFd >= 0) {
            pollfd p{pidFd, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left.count()));
        } else {
            // Kernels without process descriptors: look again shortly.
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
        }
    }
}

std::string ChildProcess::Log() const {
    std::ifstream in(log_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ChildProcess::DescribeStatus(int status) {
    if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

WindowWatcher::WindowWatcher(const std::string& display) {
    dpy_ = XOpenDisplay(display.c_str());
    if (dpy_ == nullptr) return;
    // New top-level windows arrive as substructure events; Qt sends its answers to pings to the root window for
    // structure (and redirect) listeners.
    XSelectInput(dpy_, DefaultRootWindow(dpy_), SubstructureNotifyMask | StructureNotifyMask);
    XSync(dpy_, False);
}

WindowWatcher::~WindowWatcher() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
}

namespace {

// The next event of the connection; false when none came before the deadline.
bool WaitForEvent(Display* dpy, XEvent& ev, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (XPending(dpy) > 0) {
            XNextEvent(dpy, &ev);
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
}

} // namespace

std::string WindowWatcher::Title(Window window) {
    const Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
    const Atom netName = XInternAtom(dpy_, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(dpy_, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
        if (!title.empty()) return title;
    }
    char* name = nullptr;
    if (XFetchName(dpy_, window, &name) && name != nullptr) {
        title = name;
        XFree(name);
    }
    return title;
}

Window WindowWatcher::WaitForWindow(const std::string& title, std::chrono::milliseconds timeout,
                                    const std::function<bool()>& alive) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A top-level window is a child of the root, or, under a window manager, inside the frame it was put in.
    const std::function<Window(Window, int)> search = [&](Window under, int depth) -> Window {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (!XQueryTree(dpy_, under, &root, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && found == 0; ++i) {
            XWindowAttributes attrs;
            if (!XGetWindowAttributes(dpy_, children[i], &attrs) || attrs.map_state != IsViewable) continue;
            if (Title(children[i]) == title)
                found = children[i];
            else if (depth > 1)
                found = search(children[i], depth - 1);
        }
        if (children != nullptr) XFree(children);
        return found;
    };
    for (;;) {
        const Window found = search(DefaultRootWindow(dpy_), 3);
        if (found != 0) return found;
        if (!alive()) return 0;
        // The title may be set after the window is mapped, and the program may end without a window: look again
        // at every event and at least every 100 ms.
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return 0;
        XEvent ev;
        WaitForEvent(dpy_, ev, std::min(deadline, now + 100ms));
    }
}

bool WindowWatcher::Ping(Window window, std::chrono::milliseconds timeout) {
    const Atom protocols = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(dpy_, "_NET_WM_PING", False);
    const long stamp = ++pingStamp_;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = protocols;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(ping);
    ev.xclient.data.l[1] = stamp;
    ev.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(dpy_, window, False, NoEventMask, &ev);
    XFlush(dpy_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (WaitForEvent(dpy_, ev, deadline)) {
        if (ev.type == ClientMessage && ev.xclient.message_type == protocols &&
            static_cast<Atom>(ev.xclient.data.l[0]) == ping && ev.xclient.data.l[1] == stamp)
            return true;
    }
    return false;
}

bool WindowWatcher::Geometry(Window window, int& x, int& y, int& width, int& height) {
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy_, window, &attrs)) return false;
    Window child = 0;
    XTranslateCoordinates(dpy_, window, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child);
    width = attrs.width;
    height = attrs.height;
    return true;
}

namespace {

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

#ifdef QUILLET_A11Y_DRIVER
constexpr const char* kA11yDriver = QUILLET_A11Y_DRIVER;
#else
constexpr const char* kA11yDriver = "";
#endif
// Debian's interpreter, which has python3-pyatspi; a python3 earlier on PATH (pyenv, a virtual environment) lacks it.
constexpr const char* kSystemPython = "/usr/bin/python3";

} // namespace

bool A11yBus::Start(const fs::path& folder, std::string& error) {
    if (*kA11yDriver == '\0') {
        error = "built without the accessibility driver (QUILLET_A11Y_DRIVER)";
        return false;
    }
    folder_ = folder;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) {
        error = "cannot create " + folder_.string() + ": " + ec.message();
        return false;
    }
    if (!bus_.Start({kSystemPython, kA11yDriver, "bus", folder_.string()}, folder_, DriverEnvironment(),
                    folder_ / "bus.log", error))
        return false;
    // A cold start of the launcher, the bus and the registry on a loaded machine.
    const Result ready = Run({"wait-bus"}, 60s);
    if (!ready.ok) {
        error = "the accessibility bus did not start: " + ready.error + "\n" + bus_.Log();
        return false;
    }
    return true;
}

A11yBus::~A11yBus() {
    if (!bus_.running()) return;
    // The bus process ends what the buses started before it ends itself; killing it would orphan them.
    bus_.Signal(SIGTERM);
    if (!bus_.Wait(10s)) bus_.Kill();
}

std::vector<std::string> A11yBus::AppEnvironment() const {
    return {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder_ / "bus").string(),
            // Qt would otherwise wait for a screen reader to ask for its accessibility tree.
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "AT_SPI_BUS_ADDRESS"};
}

std::vector<std::string> A11yBus::DriverEnvironment() const {
    // Without a display: libatspi would take the accessibility bus published on its root window first.
    return {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder_ / "bus").string(),
            "XDG_RUNTIME_DIR=" + (folder_ / "runtime").string(),
            "DISPLAY",
            "WAYLAND_DISPLAY",
            "AT_SPI_BUS_ADDRESS",
            "PYTHONPATH",
            "PYTHONHOME"};
}

A11yBus::Result A11yBus::Run(const std::vector<std::string>& command, std::chrono::milliseconds timeout) {
    Result result;
    const std::string n = std::to_string(++calls_);
    const fs::path out = folder_ / ("driver-" + n + ".out");
    const fs::path err = folder_ / ("driver-" + n + ".err");
    std::vector<std::string> argv = {kSystemPython, kA11yDriver, "--timeout",
                                     std::to_string(static_cast<double>(timeout.count()) / 1000.0)};
    argv.insert(argv.end(), command.begin(), command.end());
    ChildProcess driver;
    if (!driver.Start(argv, folder_, DriverEnvironment(), out, result.error, err)) return result;
    // The driver keeps its own time limit; this one only covers starting Python and a hung bus.
    const std::optional<int> status = driver.Wait(timeout + 30s);
    result.output = ReadFile(out);
    result.error = ReadFile(err);
    if (!status) {
        driver.Kill();
        result.error += "the driver did not end";
        return result;
    }
    result.ok = WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    if (!result.ok && !(WIFEXITED(*status) && WEXITSTATUS(*status) == 1))
        result.error += "the driver ended with " + ChildProcess::DescribeStatus(*status);
    return result;
}

bool WaitForFolderChange(const fs::path& folder, const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return done();
    // Watching starts before the first look, so that no change between the two is missed.
    inotify_add_watch(fd, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MODIFY);
    bool ok = false;
    for (;;) {
        if (done()) {
            ok = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
        char events[4096];
        while (read(fd, events, sizeof events) > 0) {
        }
    }
    close(fd);
    return ok;
}

bool NoKeyDown(Display* dpy) {
    char keys[32] = {};
    XQueryKeymap(dpy, keys);
    for (char k : keys)
        if (k != 0) return false;
    return true;
}

std::string KeysDown(Display* dpy) {
    char keys[32] = {};
    XQueryKeymap(dpy, keys);
    std::string names;
    for (int kc = 0; kc < 256; ++kc) {
        if ((keys[kc / 8] & (1 << (kc % 8))) == 0) continue;
        const KeySym sym = XkbKeycodeToKeysym(dpy, static_cast<KeyCode>(kc), 0, 0);
        const char* name = sym != NoSymbol ? XKeysymToString(sym) : nullptr;
        names += (names.empty() ? "" : " ") + std::string(name != nullptr ? name : std::to_string(kc));
    }
    return names.empty() ? "(none)" : names;
}

void RestoreInput(Display* dpy) {
    char keys[32] = {};
    XQueryKeymap(dpy, keys);
    for (unsigned kc = 8; kc < 256; ++kc)
        if ((keys[kc / 8] & (1 << (kc % 8))) != 0) XTestFakeKeyEvent(dpy, kc, False, CurrentTime);
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask);
    for (unsigned b = 1; b <= 5; ++b)
        if ((mask & (Button1Mask << (b - 1))) != 0) XTestFakeButtonEvent(dpy, b, False, CurrentTime);
    XAutoRepeatOn(dpy);
    XSync(dpy, False);
}

std::vector<std::pair<std::string, std::string>> IniKeys(const fs::path& file, const std::string& section) {
    std::vector<std::pair<std::string, std::string>> keys;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inSection = line == "[" + section + "]";
            continue;
        }
        const auto eq = line.find('=');
        if (inSection && eq != std::string::npos) keys.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return keys;
}

bool StartProgramOnBus(const std::string& program, const std::string& display, const std::filesystem::path& folder,
                       A11yBus& bus, ChildProcess& app, std::string& error, const std::vector<std::string>& extraEnv) {
    if (!bus.Start(folder / "a11y", error)) return false;
    const std::filesystem::path runtime = folder / "runtime";
    std::error_code ec;
    std::filesystem::create_directories(runtime, ec);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, ec);
    if (ec) {
        error = "cannot make the runtime folder " + runtime.string() + ": " + ec.message();
        return false;
    }
    std::vector<std::string> env = {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY",
                                    "XDG_RUNTIME_DIR=" + runtime.string()};
    for (const std::string& e : bus.AppEnvironment()) env.push_back(e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return app.Start({program}, folder, env, folder / "quillet.log", error);
}

} // namespace quillet::e2e
