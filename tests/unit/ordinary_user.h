// Running a piece of a test with an ordinary user's rights. Root ignores permission bits, so tests about read-only
// files and folders run that piece in a child process that has become "nobody" (when the tests run as root) or
// stays the ordinary user the tests already run as.
#pragma once

#ifndef _WIN32

#include <cerrno>
#include <functional>
#include <string>
#include <utility>

#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillet::testing {

inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNogroup = 65534;

// The user the child runs as.
inline uid_t OrdinaryUser() {
    return ::geteuid() == 0 ? kNobody : ::geteuid();
}

// Makes path belong to the ordinary user (nothing to do when the tests already run as that user).
inline bool GiveToOrdinaryUser(const std::string& path) {
    return ::geteuid() != 0 || ::chown(path.c_str(), kNobody, kNogroup) == 0;
}

// Runs fn in a child process as the ordinary user and hands back what it returned: whether it succeeded and its
// message. A child that could not drop its rights or died reports false with a message saying so.
inline std::pair<bool, std::string> AsOrdinaryUser(const std::function<std::pair<bool, std::string>()>& fn) {
    int out[2];
    if (::pipe(out) != 0) return {false, "pipe failed"};
    const pid_t child = ::fork();
    if (child < 0) return {false, "fork failed"};
    if (child == 0) {
        ::close(out[0]);
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0))
            ::_exit(3);
        const auto [ok, message] = fn();
        const std::string report = (ok ? "1" : "0") + message;
        if (::write(out[1], report.data(), report.size()) != static_cast<ssize_t>(report.size())) ::_exit(4);
        ::_exit(0);
    }
    ::close(out[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            report.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || report.empty())
        return {false, "the child as an ordinary user failed (status " + std::to_string(status) + ")"};
    return {report[0] == '1', report.substr(1)};
}

} // namespace quillet::testing

#endif
