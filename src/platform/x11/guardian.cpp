// The guardian on POSIX systems with X11: the program's side (shared block, socket pair, starting the process) and
// the guardian's side (waiting for the program's end, releasing through XTest).
#include "platform/guardian.h"

// Before any X header: X.h defines None and InputOutput as macros.
#include "platform/platform.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "platform/x11/person_keys.h"
#include "platform/x11/x_display.h"

extern char** environ;

namespace quillet::platform {
namespace {

// The descriptors the guardian finds its block and its end of the socket pair on.
constexpr int kLedgerFd = 3;
constexpr int kParentFd = 4;

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

class FdCloser {
public:
    explicit FdCloser(int fd = -1) : fd_(fd) {}
    ~FdCloser() { reset(); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::string OwnDirectory() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsExecutable(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string FindExecutable(const GuardianOptions& options) {
    if (!options.executable.empty()) return options.executable;
    if (const char* env = std::getenv("QUILLET_GUARDIAN"); env != nullptr && *env != '\0') return env;
    if (const std::string dir = OwnDirectory(); !dir.empty() && IsExecutable(dir + "/quillet-guardian"))
        return dir + "/quillet-guardian";
#ifdef QUILLET_GUARDIAN_BUILD_PATH
    if (IsExecutable(QUILLET_GUARDIAN_BUILD_PATH)) return QUILLET_GUARDIAN_BUILD_PATH;
#endif
    return "quillet-guardian (next to this program)";
}

bool ReadReadyLine(int fd, int timeoutMs, std::string& error);

class PosixGuardian final : public Guardian {
public:
    // pendingTimeoutMs >= 0: the guardian has not said it is ready yet; AwaitReady waits that long for it.
    PosixGuardian(HeldInputShared* shared, int socket, pid_t pid, int pendingTimeoutMs = -1)
        : shared_(shared), socket_(socket), pid_(pid), pendingTimeoutMs_(pendingTimeoutMs) {}
    ~PosixGuardian() override {
        shared_->farewell.store(1, std::memory_order_release);
        socket_.reset(); // the guardian reads the end now, sees the goodbye and exits
        // Reap it if it has already gone; otherwise it is reparented and reaped by the system when it exits.
        ::waitpid(pid_, nullptr, WNOHANG);
        ::munmap(shared_, sizeof(HeldInputShared));
    }
    HeldInputLedger ledger() override { return HeldInputLedger(shared_); }
    long pid() const override { return pid_; }
    bool AwaitReady(std::string& error) override {
        if (pendingTimeoutMs_ >= 0) {
            const int timeoutMs = pendingTimeoutMs_;
            pendingTimeoutMs_ = -1;
            if (!ReadReadyLine(socket_.get(), timeoutMs, problem_)) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                failed_ = true;
            }
        }
        if (failed_) error = problem_;
        return !failed_;
    }

private:
    HeldInputShared* shared_;
    FdCloser socket_;
    pid_t pid_;
    int pendingTimeoutMs_;
    bool failed_ = false;
    std::string problem_;
};

// Reads the guardian's first line ("ready" or a problem) within the timeout.
bool ReadReadyLine(int fd, int timeoutMs, std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    char buf[256];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error = "the guardian did not answer";
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = line.empty() ? "the guardian ended at once" : line;
            return false;
        }
        line.append(buf, static_cast<std::size_t>(n));
        if (const std::size_t nl = line.find('\n'); nl != std::string::npos) {
            line.resize(nl);
            if (line == "ready") return true;
            error = line;
            return false;
        }
        if (line.size() > 4096) {
            error = "the guardian said too much";
            return false;
        }
    }
}

} // namespace

std::unique_ptr<Guardian> StartGuardian(const GuardianOptions& options, std::string& error) {
    const std::string exe = FindExecutable(options);
    if (!IsExecutable(exe)) {
        error = "cannot find the guardian program " + exe;
        return nullptr;
    }

    FdCloser block(::memfd_create("quillet-held-input", MFD_CLOEXEC));
    if (block.get() < 0) {
        error = Errno("cannot make shared memory for the guardian");
        return nullptr;
    }
    if (::ftruncate(block.get(), sizeof(HeldInputShared)) != 0) {
        error = Errno("cannot size the guardian's shared memory");
        return nullptr;
    }
    void* mem = ::mmap(nullptr, sizeof(HeldInputShared), PROT_READ | PROT_WRITE, MAP_SHARED, block.get(), 0);
    if (mem == MAP_FAILED) {
        error = Errno("cannot map the guardian's shared memory");
        return nullptr;
    }
    auto* shared = new (mem) HeldInputShared();
    shared->magic.store(HeldInputShared::kMagic, std::memory_order_release);
    auto unmap = [&] { ::munmap(mem, sizeof(HeldInputShared)); };

    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = Errno("cannot make the guardian's socket pair");
        unmap();
        return nullptr;
    }
    FdCloser ours(pair[0]), theirs(pair[1]);

    // The descriptors move to 3 and 4 in the child. Copies above them first, so that no move overwrites the source
    // of another and every dup2 really clears close-on-exec.
    FdCloser blockHigh(::fcntl(block.get(), F_DUPFD_CLOEXEC, 10));
    FdCloser theirsHigh(::fcntl(theirs.get(), F_DUPFD_CLOEXEC, 10));
    if (blockHigh.get() < 0 || theirsHigh.get() < 0) {
        error = Errno("cannot pass descriptors to the guardian");
        unmap();
        return nullptr;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, blockHigh.get(), kLedgerFd);
    posix_spawn_file_actions_adddup2(&actions, theirsHigh.get(), kParentFd);
    // It reads nothing and prints nothing but problems: a pipe reading the program's output ends with the program.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group: a Ctrl+C in the terminal goes to the program, which ends in order and says goodbye.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = {exe, "--guardian"};
    if (!options.display.empty()) args.insert(args.end(), {"--display", options.display});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, exe.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    blockHigh.reset();
    theirsHigh.reset();
    theirs.reset();
    block.reset();
    if (rc != 0) {
        errno = rc;
        error = Errno(("cannot start " + exe).c_str());
        unmap();
        return nullptr;
    }
    if (!options.awaitReady) return std::make_unique<PosixGuardian>(shared, ours.release(), pid, options.readyTimeoutMs);
    if (!ReadReadyLine(ours.get(), options.readyTimeoutMs, error)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        unmap();
        return nullptr;
    }
    return std::make_unique<PosixGuardian>(shared, ours.release(), pid);
}

namespace {

// The server went away: nothing is left to release there, and nothing to say about it.
int QuietExit(Display*) {
    _exit(0);
}

int Fail(int fd, const std::string& why) {
    const std::string line = why + "\n";
    (void)!::write(fd, line.data(), line.size());
    return 1;
}

// Releases what the block says the program holds, except keys a person's keyboard holds too.
void ReleaseHeld(Display* d, const HeldInputShared& shared) {
    const std::bitset<256> person = x11::PersonHeldKeycodes(d);
    bool sent = false;
    for (unsigned kc = 8; kc < shared.keys.size(); ++kc) {
        if (shared.keys[kc].load(std::memory_order_acquire) == 0 || person.test(kc)) continue;
        XTestFakeKeyEvent(d, kc, False, CurrentTime);
        sent = true;
    }
    for (unsigned b = 1; b < shared.buttons.size(); ++b) {
        if (shared.buttons[b].load(std::memory_order_acquire) == 0) continue;
        XTestFakeButtonEvent(d, b, False, CurrentTime);
        sent = true;
    }
    if (sent) XSync(d, False);
}

} // namespace

int RunGuardian(int argc, char** argv) {
    std::string display;
    bool asked = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--guardian") {
            asked = true;
        } else if (a == "--display" && i + 1 < argc) {
            display = argv[++i];
        }
    }
    if (!asked || ::fcntl(kParentFd, F_GETFD) < 0 || ::fcntl(kLedgerFd, F_GETFD) < 0) {
        std::fprintf(stderr, "quillet-guardian: started by Quillet only; it watches the program that starts it\n");
        return 2;
    }
    // The program handles the terminal's interrupt and hang-up; the guardian outlives neither it nor its own
    // display connection.
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    ::fcntl(kParentFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(kLedgerFd, F_SETFD, FD_CLOEXEC);

    void* mem = ::mmap(nullptr, sizeof(HeldInputShared), PROT_READ | PROT_WRITE, MAP_SHARED, kLedgerFd, 0);
    if (mem == MAP_FAILED) return Fail(kParentFd, Errno("guardian: cannot map the shared memory"));
    ::close(kLedgerFd);
    const auto* shared = static_cast<const HeldInputShared*>(mem);
    if (shared->magic.load(std::memory_order_acquire) != HeldInputShared::kMagic)
        return Fail(kParentFd, "guardian: the shared memory is not Quillet's");

    XSetIOErrorHandler(QuietExit);
    // A connection of our own: protocol errors on it (a keycode that went away) are ignored, not fatal.
    x11::DisplayPtr connection = x11::OpenDisplay(display);
    Display* d = connection.get();
    if (d == nullptr) return Fail(kParentFd, "guardian: cannot open the X display");
    int ev = 0, err = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d, &ev, &err, &major, &minor))
        return Fail(kParentFd, "guardian: the X server lacks XTest");

    static const char ready[] = "ready\n";
    if (::write(kParentFd, ready, sizeof ready - 1) != static_cast<ssize_t>(sizeof ready - 1)) return 1;

    pollfd fds[2] = {{kParentFd, POLLIN, 0}, {ConnectionNumber(d), POLLIN, 0}};
    for (;;) {
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) {
            char buf[64];
            const ssize_t n = ::read(kParentFd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break; // the program is gone
        }
        if (fds[1].revents != 0) {
            // Nothing is selected; this is the server going away (Xlib's handler then ends the process) or an error.
            while (XPending(d) > 0) {
                XEvent e;
                XNextEvent(d, &e);
            }
        }
    }
    if (shared->farewell.load(std::memory_order_acquire) == 0) ReleaseHeld(d, *shared);
    return 0;
}

} // namespace quillet::platform
