#include "desktop_bench.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "model/library_file.h"
#include "model/macro.h"
#include "model/settings.h"
#include "platform/x11/xvfb_server.h"

// X headers last: they define KeyRelease, None, Status, ...
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace quillet::bench {

namespace fs = std::filesystem;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

namespace {

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Windows go away while they are looked at (a dialog closing, a program ending): their errors are expected.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillet-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool PrepareQuilletFolder(const fs::path& folder, bool runMode, std::string& error, int macroOptions) {
    constexpr int32_t kRunMode = 0x2;
    constexpr int VK_RETURN = 0x0D;
    {
        CIni settings("Property", (folder / "Quillet.ini").string());
        settings.WriteInt("macroOptions", (macroOptions & ~kRunMode) | (runMode ? kRunMode : 0));
        if (settings.TakeWriteFailure()) {
            error = "cannot write " + (folder / "Quillet.ini").string();
            return false;
        }
    }
    // Ctrl+Alt+letter starts one, Ctrl+Shift+letter stops it.
    MacroLibrary library;
    for (int i = 0; i < 8; ++i) {
        Macro m = MakeNewMacro("hotkey " + std::to_string(i + 1));
        m.startKey = ('A' + i) | KeyCtrl | KeyAlt;
        m.stopKey = ('A' + i) | KeyCtrl | KeyShift;
        m.items.push_back(MakeStringItem("text of macro " + std::to_string(i + 1)));
        m.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
        m.items.push_back(MakeDelayItem(100, DelayTime));
        library.push_back(std::move(m));
    }
    const SaveResult saved = SaveMacroLibrary((folder / "macro.m").string(), library);
    if (!saved.ok) {
        error = "cannot write the library: " + saved.problem;
        return false;
    }
    if (mkdir((folder / "runtime").c_str(), 0700) != 0) {
        error = "cannot create " + (folder / "runtime").string();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------------

bool Child::Start(const std::vector<std::string>& argv, const fs::path& cwd, const std::vector<std::string>& env,
                  const fs::path& log, bool pipeStdout, std::string& error) {
    if (argv.empty()) {
        error = "nothing to start";
        return false;
    }
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
    int pipeFds[2] = {-1, -1};
    if (pipeStdout && pipe2(pipeFds, O_CLOEXEC) != 0) {
        close(logFd);
        error = "cannot make a pipe";
        return false;
    }
    const int outFd = pipeStdout ? pipeFds[1] : logFd;
    const pid_t parent = getpid();
    started_ = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        close(logFd);
        if (pipeStdout) close(pipeFds[0]), close(pipeFds[1]);
        error = "fork failed";
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the benchmark
        if (getppid() != parent) _exit(126);
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, STDIN_FILENO);
        dup2(outFd, STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(logFd);
    if (pipeStdout) {
        close(pipeFds[1]);
        outFd_ = pipeFds[0];
    }
    pid_ = pid;
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidFd_ < 0) {
        Kill();
        error = "no process descriptor (pidfd_open: " + std::string(std::strerror(errno)) + ")";
        return false;
    }
    return true;
}

Child::~Child() {
    Kill();
    if (outFd_ >= 0) close(outFd_);
}

void Child::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (pidFd_ >= 0) close(pidFd_);
    pidFd_ = -1;
}

bool Child::Signal(int sig) const {
    return pid_ > 0 && kill(pid_, sig) == 0;
}

bool Child::Ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    status_ = status;
    pid_ = -1;
    close(pidFd_);
    pidFd_ = -1;
    return true;
}

std::optional<int> Child::Wait(std::chrono::milliseconds timeout, rusage* usage) {
    if (pid_ <= 0) return status_;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        rusage ru{};
        int status = 0;
        const pid_t got = wait4(pid_, &status, WNOHANG, &ru);
        if (got == pid_) {
            status_ = status;
            if (usage != nullptr) *usage = ru;
            pid_ = -1;
            close(pidFd_);
            pidFd_ = -1;
            return status_;
        }
        if (got < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= deadline) return std::nullopt;
        pollfd p{pidFd_, POLLIN, 0};
        poll(&p, 1, MsLeft(deadline));
    }
}

bool Child::WaitForLine(const std::string& text, std::chrono::milliseconds timeout) {
    if (outFd_ < 0) return false;
    const Clock::time_point deadline = Clock::now() + timeout;
    std::size_t searched = 0;
    for (;;) {
        // Only whole lines are searched; a line that is still being written is looked at again with its rest.
        const std::size_t end = piped_.rfind('\n');
        if (end != std::string::npos && end + 1 > searched) {
            if (piped_.find(text, searched) < end) return true;
            searched = end + 1;
        }
        if (Clock::now() >= deadline) return false;
        pollfd p{outFd_, POLLIN, 0};
        if (poll(&p, 1, MsLeft(deadline)) <= 0) continue;
        char buffer[4096];
        const ssize_t got = read(outFd_, buffer, sizeof buffer);
        if (got == 0) return false; // the program closed its output: it has ended
        if (got > 0) piped_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string Child::Output() const {
    return piped_ + ReadFile(log_);
}

std::string Child::DescribeStatus(int status) {
    if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// ---------------------------------------------------------------------------------------------------------------

std::unique_ptr<Desk> Desk::Start(bool windowManager, std::string& error) {
    std::unique_ptr<Desk> desk(new Desk);
    desk->server_ = platform::x11::XvfbServer::Start(1280, 1024, error);
    if (!desk->server_) return nullptr;
    desk->display_ = desk->server_->display();
    if (!windowManager) return desk;

    Display* dpy = XOpenDisplay(desk->display_.c_str());
    if (dpy == nullptr) {
        error = "cannot open " + desk->display_;
        return nullptr;
    }
    const Window root = DefaultRootWindow(dpy);
    const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    XSelectInput(dpy, root, PropertyChangeMask);
    XSync(dpy, False);
    // A home of its own: the window manager reads its settings from there, and nothing of the person's is used.
    desk->wmHome_ = std::make_unique<TempFolder>();
    desk->wm_ = std::make_unique<Child>();
    if (!desk->wm_->Start({"/usr/bin/openbox"}, desk->wmHome_->path(),
                          {"DISPLAY=" + desk->display_, "HOME=" + desk->wmHome_->path().string(),
                           "XDG_CONFIG_HOME=" + (desk->wmHome_->path() / "config").string(), "WAYLAND_DISPLAY",
                           "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (desk->wmHome_->path() / "no-bus").string()},
                          desk->wmHome_->path() / "openbox.log", false, error)) {
        XCloseDisplay(dpy);
        return nullptr;
    }
    // Ready once it has put its check window on the root window.
    const Clock::time_point deadline = Clock::now() + 20s;
    bool ready = false;
    while (!ready && Clock::now() < deadline && !desk->wm_->Ended()) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(dpy, root, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
                Success &&
            data != nullptr) {
            ready = count == 1;
            XFree(data);
        }
        if (ready) break;
        while (XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
        }
        pollfd p{ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, std::min(MsLeft(deadline), 200)); // also notices the window manager ending
    }
    XCloseDisplay(dpy);
    if (!ready) {
        error = "the window manager did not come up:\n" + desk->wm_->Output();
        return nullptr;
    }
    return desk;
}

Desk::~Desk() {
    if (wm_) {
        wm_->Signal(SIGTERM);
        wm_->Wait(5s);
    }
}

// ---------------------------------------------------------------------------------------------------------------

MapWatcher::MapWatcher(const std::string& display) {
    XSetErrorHandler(IgnoreXError);
    dpy_ = XOpenDisplay(display.c_str());
    if (dpy_ == nullptr) return;
    XSelectInput(dpy_, DefaultRootWindow(dpy_), SubstructureNotifyMask);
    XSync(dpy_, False);
}

MapWatcher::~MapWatcher() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
}

void MapWatcher::Drain() {
    while (XPending(dpy_) > 0) {
        XEvent ev;
        XNextEvent(dpy_, &ev);
        if (ev.type == DestroyNotify)
            std::erase_if(created_, [&](const auto& c) { return c.first == ev.xdestroywindow.window; });
    }
}

std::string MapWatcher::Title(unsigned long window) {
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

long MapWatcher::WindowPid(unsigned long window) {
    const Atom netPid = XInternAtom(dpy_, "_NET_WM_PID", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(dpy_, window, netPid, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data != nullptr) {
        if (count == 1 && format == 32) pid = *reinterpret_cast<const long*>(data);
        XFree(data);
    }
    return pid;
}

std::string MapWatcher::Instance(unsigned long window) {
    XClassHint hint{};
    std::string instance;
    if (XGetClassHint(dpy_, window, &hint) != 0) {
        if (hint.res_name != nullptr) instance = hint.res_name;
        if (hint.res_name != nullptr) XFree(hint.res_name);
        if (hint.res_class != nullptr) XFree(hint.res_class);
    }
    return instance;
}

std::optional<MapWatcher::Mapped> MapWatcher::WaitForWindow(pid_t pid, const std::string& instance,
                                                            Clock::time_point deadline,
                                                            const std::function<bool()>& alive) {
    Mapped result;
    std::set<Window> seen;
    // Whether a mapped window is the one looked for; others of the process are noted.
    const auto consider = [&](Window w, Clock::time_point at) {
        if (!seen.insert(w).second) return false;
        const long owner = WindowPid(w);
        if (owner >= 0 ? owner != pid : Instance(w) != instance) return false;
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(dpy_, w, &attrs)) return false;
        if (attrs.override_redirect) {
            result.before.push_back("override-redirect " + std::to_string(attrs.width) + "x" +
                                    std::to_string(attrs.height) + " '" + Title(w) + "'");
            return false;
        }
        result.mapped = at;
        result.title = Title(w);
        result.created = at;
        for (const auto& [window, when] : created_)
            if (window == w) result.created = when;
        return true;
    };
    for (;;) {
        while (XPending(dpy_) > 0) {
            XEvent ev;
            XNextEvent(dpy_, &ev);
            const Clock::time_point at = Clock::now();
            if (ev.type == CreateNotify && ev.xcreatewindow.parent == DefaultRootWindow(dpy_)) {
                const Window w = ev.xcreatewindow.window;
                created_.emplace_back(w, at);
                // Its own map is seen wherever a window manager puts it; one that was mapped before this selection
                // took effect counts from now.
                XSelectInput(dpy_, w, StructureNotifyMask);
                XWindowAttributes attrs;
                if (XGetWindowAttributes(dpy_, w, &attrs) && attrs.map_state != IsUnmapped && consider(w, at))
                    return result;
            } else if (ev.type == MapNotify) {
                if (consider(ev.xmap.window, at)) return result;
            } else if (ev.type == UnmapNotify) {
                seen.erase(ev.xunmap.window);
            } else if (ev.type == DestroyNotify) {
                std::erase_if(created_, [&](const auto& c) { return c.first == ev.xdestroywindow.window; });
            }
        }
        if (!alive() || Clock::now() >= deadline) return std::nullopt;
        // The program may end without a window: look at it at least every 100 ms.
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&p, 1, std::min(MsLeft(deadline), 100));
    }
}

// ---------------------------------------------------------------------------------------------------------------

namespace {

long StatusField(const std::string& text, const char* name) {
    const std::string key = std::string("\n") + name + ":";
    const std::size_t at = ("\n" + text).find(key);
    if (at == std::string::npos) return -1;
    return std::strtol(text.c_str() + at + key.size() - 1, nullptr, 10);
}

std::string ProcPath(pid_t pid, const std::string& rest) {
    return "/proc/" + std::to_string(pid) + "/" + rest;
}

std::vector<pid_t> Tasks(pid_t pid) {
    std::vector<pid_t> tids;
    DIR* dir = opendir(ProcPath(pid, "task").c_str());
    if (dir == nullptr) return tids;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9') tids.push_back(static_cast<pid_t>(std::atol(e->d_name)));
    closedir(dir);
    std::sort(tids.begin(), tids.end());
    return tids;
}

// utime + stime from a stat line; the name in parentheses may hold blanks, so the fields count from its end.
unsigned long long StatTicks(const std::string& stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // After the name: state(3) ppid(4) ... utime(14) stime(15).
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return utime + stime;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

} // namespace

Memory ReadMemory(pid_t pid) {
    Memory m;
    const std::string status = ReadFile(ProcPath(pid, "status"));
    m.rssKb = StatusField(status, "VmRSS");
    m.hwmKb = StatusField(status, "VmHWM");
    const std::string rollup = ReadFile(ProcPath(pid, "smaps_rollup"));
    const long clean = StatusField(rollup, "Private_Clean"), dirty = StatusField(rollup, "Private_Dirty");
    if (clean >= 0 && dirty >= 0) m.privateKb = clean + dirty;
    return m;
}

int CountSharedObjects(pid_t pid) {
    std::ifstream in(ProcPath(pid, "maps"));
    std::set<std::string> objects;
    for (std::string line; std::getline(in, line);) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        const std::string base = path.substr(path.rfind('/') + 1);
        const std::size_t so = base.find(".so");
        if (so != std::string::npos && (so + 3 == base.size() || base[so + 3] == '.')) objects.insert(path);
    }
    return static_cast<int>(objects.size());
}

std::vector<pid_t> Children(pid_t pid) {
    std::vector<pid_t> children;
    for (const pid_t tid : Tasks(pid)) {
        std::istringstream in(ReadFile(ProcPath(pid, "task/" + std::to_string(tid) + "/children")));
        for (pid_t child = 0; in >> child;) children.push_back(child);
    }
    return children;
}

std::string ProcessName(pid_t pid) {
    return Trimmed(ReadFile(ProcPath(pid, "comm")));
}

std::string DescribeProgram(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return path + " (missing)";
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&st.st_mtime));
    return path + " (modified " + when + ")";
}

std::vector<ThreadSample> SampleThreads(pid_t pid) {
    std::vector<ThreadSample> samples;
    for (const pid_t tid : Tasks(pid)) {
        const std::string base = "task/" + std::to_string(tid) + "/";
        const std::string status = ReadFile(ProcPath(pid, base + "status"));
        const long voluntary = StatusField(status, "voluntary_ctxt_switches");
        const long involuntary = StatusField(status, "nonvoluntary_ctxt_switches");
        if (voluntary < 0 || involuntary < 0) continue; // ended meanwhile
        ThreadSample s;
        s.tid = tid;
        s.name = Trimmed(ReadFile(ProcPath(pid, base + "comm")));
        s.switches = static_cast<unsigned long long>(voluntary + involuntary);
        s.ticks = StatTicks(ReadFile(ProcPath(pid, base + "stat")));
        const std::string sched = ReadFile(ProcPath(pid, base + "schedstat"));
        if (!sched.empty()) s.runNs = std::strtoll(sched.c_str(), nullptr, 10);
        s.waitsIn = Trimmed(ReadFile(ProcPath(pid, base + "wchan")));
        samples.push_back(std::move(s));
    }
    return samples;
}

unsigned long long ProcessTicks(pid_t pid) {
    return StatTicks(ReadFile(ProcPath(pid, "stat")));
}

long TicksPerSecond() {
    return sysconf(_SC_CLK_TCK);
}

Summary Summarise(std::vector<double> values) {
    Summary s;
    s.n = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    s.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.min = values.front();
    s.max = values.back();
    return s;
}

} // namespace quillet::bench
