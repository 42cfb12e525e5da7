#include "platform/x11/xvfb_server.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace quillet::platform::x11 {

std::unique_ptr<XvfbServer> XvfbServer::Start(int width, int height, std::string& error,
                                              std::chrono::milliseconds timeout) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "pipe failed";
        return nullptr;
    }
    // Everything the child needs is prepared before fork: only async-signal-safe calls happen after it.
    const std::string fdText = std::to_string(fds[1]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<std::string> args = {"Xvfb", "-displayfd", fdText, "-screen", "0",
                                     screen, "-nolisten",  "tcp",  "-noreset"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        error = "fork failed";
        return nullptr;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // no orphaned server when the test process dies
        if (getppid() != parent) _exit(1);
        fcntl(fds[1], F_SETFD, 0); // the display-number pipe stays open across exec
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::unique_ptr<XvfbServer> server(new XvfbServer());
    server->pid_ = pid;

    // Xvfb writes its display number once it listens; EOF means it died (or was never there).
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error = "Xvfb did not report a display within " + std::to_string(timeout.count()) + " ms";
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) continue;
        char c = 0;
        const ssize_t n = read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The pipe closed without a number: the child is ending (it never became Xvfb, or Xvfb failed).
            int status = 0;
            const bool exited = waitpid(pid, &status, 0) == pid;
            if (exited) server->pid_ = -1;
            error = exited && WIFEXITED(status) && WEXITSTATUS(status) == 127
                        ? "Xvfb is not installed (it is needed for the X11 tests; install the xvfb package)"
                        : "Xvfb ended before it was ready";
            break;
        }
        if (c == '\n') break;
        number.push_back(c);
    }
    close(fds[0]);
    if (!error.empty() || number.empty()) {
        if (error.empty()) error = "Xvfb reported no display number";
        return nullptr;
    }
    server->display_ = ":" + number;
    Display* d = XOpenDisplay(server->display_.c_str());
    if (d == nullptr) {
        error = "cannot connect to the new Xvfb at " + server->display_;
        return nullptr;
    }
    XCloseDisplay(d);
    return server;
}

XvfbServer::~XvfbServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace quillet::platform::x11
