// The Unix-socket server (Linux).
#include "remote/remote_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <thread>

#include "remote/dispatcher.h"

namespace quillet::remote {

namespace {

using Clock = std::chrono::steady_clock;

std::string Problem(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// True when something accepts connections at path: a server of this folder that still runs.
bool Answers(const sockaddr_un& address) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const int r = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    // EAGAIN: its backlog is full, so it runs.
    const bool answers = r == 0 || errno == EAGAIN || errno == EINPROGRESS;
    close(fd);
    return answers;
}

struct Connection {
    enum class State { Reading, Handling, Writing };
    int fd = -1;
    uint64_t id = 0;
    State state = State::Reading;
    Clock::time_point deadline;
    std::string in;
    std::string out;
    std::size_t written = 0;
};

} // namespace

struct RemoteServer::Impl {
    Endpoint endpoint;
    RemoteServerOptions options;
    std::string problem;
    int listenFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    struct stat bound {}; // the socket file this server made
    std::atomic<bool> stopping{false};
    std::shared_ptr<detail::Dispatcher> dispatcher;
    std::thread thread;
    std::list<Connection> connections; // server's thread only
    uint64_t nextId = 1;
    // After a failed accept (out of descriptors): the listening socket stays readable, so it is left alone a while
    // instead of being polled in a busy loop.
    Clock::time_point acceptPausedUntil;

    bool Listen();
    void Serve();
    void Accept();
    void Read(Connection& c);
    void Write(Connection& c);
    void TakeReplies();
    static void Close(Connection& c) {
        if (c.fd >= 0) close(c.fd);
        c.fd = -1;
    }
};

bool RemoteServer::Impl::Listen() {
    const std::string& path = endpoint.address;
    sockaddr_un address{};
    if (!FillAddress(path, address)) {
        problem = "cannot listen at " + path + ": the path is too long for a socket";
        return false;
    }
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            problem = "cannot listen at " + path + ": something that is not a socket has its name";
            return false;
        }
        if (Answers(address)) {
            problem = "cannot listen at " + path + ": another Quillet answers there";
            return false;
        }
        // Left by a program that ended without removing it.
        unlink(path.c_str());
    }
    listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd < 0) {
        problem = Problem("cannot make a socket for", path, errno);
        return false;
    }
    if (bind(listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        problem = Problem("cannot listen at", path, errno);
        return false;
    }
    // The folder is private already; the socket is as well, should the folder's mode ever change.
    chmod(path.c_str(), 0600);
    if (lstat(path.c_str(), &bound) != 0 || listen(listenFd, 16) != 0) {
        problem = Problem("cannot listen at", path, errno);
        unlink(path.c_str());
        return false;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        problem = Problem("cannot make a wake-up pipe for", path, errno);
        unlink(path.c_str());
        return false;
    }
    wakeRead = wake[0];
    wakeWrite = wake[1];
    return true;
}

void RemoteServer::Impl::Accept() {
    // At the limit the rest wait in the backlog until a connection ends or is dropped at its deadline.
    while (connections.size() < options.maxConnections) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                acceptPausedUntil = Clock::now() + std::chrono::milliseconds(100);
            return;
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        const long wanted = options.acceptedUid >= 0 ? options.acceptedUid : static_cast<long>(geteuid());
        const bool sameUser =
            getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && static_cast<long>(peer.uid) == wanted;
        if (!sameUser) {
            close(fd);
            continue;
        }
        Connection c;
        c.fd = fd;
        c.id = nextId++;
        c.deadline = Clock::now() + options.requestDeadline;
        connections.push_back(std::move(c));
    }
}

void RemoteServer::Impl::Read(Connection& c) {
    char buffer[1024];
    for (;;) {
        // One byte more than a request may have is enough to know it is too long.
        const std::size_t room = kMaxRequestBytes + 1 - c.in.size();
        const ssize_t got = read(c.fd, buffer, std::min(room, sizeof buffer));
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) { // the client ended or failed before its request was complete
            Close(c);
            return;
        }
        c.in.append(buffer, static_cast<std::size_t>(got));
        if (c.in.size() > kMaxRequestBytes) {
            Close(c);
            return;
        }
    }
    if (c.in.empty() || c.in.back() != '\n') {
        // Bytes after a line end are never a request; a request still growing waits.
        if (c.in.find('\n') != std::string::npos) Close(c);
        return;
    }
    std::optional<Request> request = ParseRequest(c.in);
    if (!request) {
        Close(c);
        return;
    }
    c.state = Connection::State::Handling;
    c.deadline = Clock::now() + options.handlerDeadline;
    c.in.clear();
    dispatcher->Submit(c.id, std::move(*request));
}

void RemoteServer::Impl::Write(Connection& c) {
    while (c.written < c.out.size()) {
        const ssize_t sent = send(c.fd, c.out.data() + c.written, c.out.size() - c.written, MSG_NOSIGNAL);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) break;
        c.written += static_cast<std::size_t>(sent);
    }
    // All sent (the client reads it after the close), or the client went away.
    Close(c);
}

void RemoteServer::Impl::TakeReplies() {
    char drain[64];
    while (read(wakeRead, drain, sizeof drain) > 0) {
    }
    for (auto& [id, reply] : dispatcher->TakeReplies()) {
        const auto it = std::find_if(connections.begin(), connections.end(), [id = id](const Connection& c) {
            return c.id == id && c.state == Connection::State::Handling;
        });
        if (it == connections.end()) continue; // dropped meanwhile: its handler answered too late
        it->state = Connection::State::Writing;
        it->out = FormatReply(reply);
        it->deadline = Clock::now() + options.replyDeadline;
        Write(*it);
    }
}

void RemoteServer::Impl::Serve() {
    std::vector<pollfd> polled;
    std::vector<Connection*> polledConnections;
    while (!stopping.load()) {
        polled.clear();
        polledConnections.clear();
        polled.push_back({wakeRead, POLLIN, 0});
        const bool paused = Clock::now() < acceptPausedUntil;
        const bool accepting = connections.size() < options.maxConnections && !paused;
        polled.push_back({listenFd, static_cast<short>(accepting ? POLLIN : 0), 0});
        Clock::time_point next = paused ? acceptPausedUntil : Clock::time_point::max();
        for (Connection& c : connections) {
            next = std::min(next, c.deadline);
            if (c.state == Connection::State::Handling) continue;
            polled.push_back({c.fd, static_cast<short>(c.state == Connection::State::Reading ? POLLIN : POLLOUT), 0});
            polledConnections.push_back(&c);
        }
        int timeoutMs = -1;
        if (next != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, 60000));
        }
        const int ready = poll(polled.data(), polled.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) break;
        if (stopping.load()) break;
        if (ready > 0) {
            if (polled[0].revents != 0) TakeReplies();
            for (std::size_t i = 0; i < polledConnections.size(); ++i) {
                Connection& c = *polledConnections[i];
                if (polled[i + 2].revents == 0 || c.fd < 0) continue;
                if (c.state == Connection::State::Reading)
                    Read(c);
                else if (c.state == Connection::State::Writing)
                    Write(c);
            }
            if (polled[1].revents != 0) Accept();
        }
        const Clock::time_point now = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->fd >= 0 && it->deadline <= now) Close(*it);
            it = it->fd < 0 ? connections.erase(it) : std::next(it);
        }
    }
}

RemoteServer::RemoteServer(Endpoint endpoint, EventLoop& loop, Handler handler, RemoteServerOptions options)
    : impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    s.endpoint = std::move(endpoint);
    s.options = options;
    if (!s.Listen()) return;
    const int wakeFd = s.wakeWrite;
    s.dispatcher = std::make_shared<detail::Dispatcher>(loop, std::move(handler), [wakeFd] {
        const char byte = 1;
        // A full pipe already says there is something to take.
        const ssize_t written = write(wakeFd, &byte, 1);
        (void)written;
    });
    try {
        s.thread = std::thread([&s] { s.Serve(); });
    } catch (const std::system_error& e) {
        s.problem = "cannot listen at " + s.endpoint.address + ": no thread: " + e.what();
        s.dispatcher.reset();
    }
}

RemoteServer::~RemoteServer() {
    Impl& s = *impl_;
    // No handler after this, none running; the wake pipe is no longer written.
    if (s.dispatcher) s.dispatcher->Stop();
    s.stopping = true;
    if (s.thread.joinable()) {
        const char byte = 0;
        const ssize_t written = write(s.wakeWrite, &byte, 1);
        (void)written;
        s.thread.join();
    }
    for (Connection& c : s.connections) Impl::Close(c);
    if (s.listenFd >= 0) {
        struct stat atPath {};
        if (s.bound.st_ino != 0 && lstat(s.endpoint.address.c_str(), &atPath) == 0 && atPath.st_ino == s.bound.st_ino &&
            atPath.st_dev == s.bound.st_dev)
            unlink(s.endpoint.address.c_str());
        close(s.listenFd);
    }
    if (s.wakeRead >= 0) close(s.wakeRead);
    if (s.wakeWrite >= 0) close(s.wakeWrite);
}

bool RemoteServer::listening() const {
    return impl_->thread.joinable();
}

const std::string& RemoteServer::problem() const {
    return impl_->problem;
}

const Endpoint& RemoteServer::endpoint() const {
    return impl_->endpoint;
}

} // namespace quillet::remote
