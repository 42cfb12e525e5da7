// The Unix-socket client (Linux).
#include "remote/remote_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillet::remote {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for events on fd until the deadline; false when it passed.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return true; // let the next call report the error
    }
}

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

ClientResult Outcome(ClientOutcome outcome, std::string problem = {}) {
    ClientResult r;
    r.outcome = outcome;
    r.problem = std::move(problem);
    return r;
}

} // namespace

ClientResult SendRequest(const Endpoint& endpoint, const Request& request, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    const std::optional<std::string> bytes = FormatRequest(request);
    if (!bytes) return Outcome(ClientOutcome::Failed, "the request cannot be sent (a control character, or too long)");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (endpoint.address.size() >= sizeof address.sun_path)
        return Outcome(ClientOutcome::Failed, endpoint.address + ": the path is too long for a socket");
    std::memcpy(address.sun_path, endpoint.address.c_str(), endpoint.address.size() + 1);

    const Socket s(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (s.fd() < 0) return Outcome(ClientOutcome::Failed, std::string("cannot make a socket: ") + std::strerror(errno));
    // A Unix socket connects at once or not at all; EAGAIN: the server's backlog is full, it does not keep up.
    while (connect(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        if (error == EINTR) continue;
        if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR) return Outcome(ClientOutcome::NotRunning);
        if (error == EAGAIN) return Outcome(ClientOutcome::NoAnswer, "it takes no more connections now");
        return Outcome(ClientOutcome::Failed, "cannot connect to " + endpoint.address + ": " + std::strerror(error));
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(s.fd(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid())
        return Outcome(ClientOutcome::Failed, endpoint.address + " belongs to another user");

    std::size_t sent = 0;
    while (sent < bytes->size()) {
        if (!WaitFor(s.fd(), POLLOUT, deadline)) return Outcome(ClientOutcome::NoAnswer, "it takes no request");
        const ssize_t n = send(s.fd(), bytes->data() + sent, bytes->size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return Outcome(ClientOutcome::NoAnswer, "it closed the connection");
        sent += static_cast<std::size_t>(n);
    }

    std::string received;
    std::optional<std::size_t> total;
    char buffer[4096];
    while (!total || received.size() < *total) {
        if (!WaitFor(s.fd(), POLLIN, deadline)) return Outcome(ClientOutcome::NoAnswer, "no reply in time");
        const std::size_t want = total ? std::min(sizeof buffer, *total - received.size()) : sizeof buffer;
        const ssize_t n = read(s.fd(), buffer, want);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return Outcome(ClientOutcome::NoAnswer, "it closed the connection without a reply");
        received.append(buffer, static_cast<std::size_t>(n));
        if (!total) {
            total = ReplySize(received);
            if (total && *total == 0) return Outcome(ClientOutcome::NoAnswer, "its reply is not understood");
        }
    }
    received.resize(*total);
    const std::optional<Reply> reply = ParseReply(received);
    if (!reply) return Outcome(ClientOutcome::NoAnswer, "its reply is not understood");
    ClientResult r;
    r.outcome = ClientOutcome::Answered;
    r.reply = *reply;
    return r;
}

} // namespace quillet::remote
