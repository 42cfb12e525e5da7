// The named-pipe server and client (Windows).
//
// The pipe's security descriptor grants everything to this user and nothing to anyone else (no inherited entries);
// remote clients are rejected by the pipe itself; the first instance is made with FILE_FLAG_FIRST_PIPE_INSTANCE so
// that a pipe of the same name made by someone else first is never joined. All I/O is overlapped and waited for on
// the server's thread, with at most one operation in flight per connection.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <list>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "remote/dispatcher.h"
#include "remote/remote_client.h"
#include "remote/remote_server.h"
#include "remote/win32_identity.h"

namespace quillet::remote {

namespace win32 {

namespace {

// The token user of a process handle, copied; empty on failure.
std::vector<unsigned char> TokenUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    const bool ok = size > 0 && GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    if (!ok) return {};
    return buffer;
}

PSID SidOf(std::vector<unsigned char>& tokenUser) {
    return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

} // namespace

std::optional<std::string> CurrentUserSidText() {
    std::vector<unsigned char> user = TokenUser(GetCurrentProcess());
    if (user.empty()) return std::nullopt;
    char* text = nullptr;
    if (!ConvertSidToStringSidA(SidOf(user), &text)) return std::nullopt;
    std::string sid = text;
    LocalFree(text);
    return sid;
}

bool ProcessIsCurrentUser(unsigned long pid) {
    std::vector<unsigned char> own = TokenUser(GetCurrentProcess());
    if (own.empty()) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    std::vector<unsigned char> other = TokenUser(process);
    CloseHandle(process);
    return !other.empty() && EqualSid(SidOf(own), SidOf(other));
}

} // namespace win32

namespace {

using Clock = std::chrono::steady_clock;

std::wstring Wide(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

std::string ErrorText(const char* what, const std::string& name, DWORD error) {
    return std::string(what) + " " + name + " (Windows error " + std::to_string(error) + ")";
}

DWORD MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 0, 60000));
}

// An overlapped operation with its own manual-reset event.
struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (ov.hEvent != nullptr) CloseHandle(ov.hEvent);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    void Reset() {
        const HANDLE event = ov.hEvent;
        ov = {};
        ov.hEvent = event;
        ResetEvent(event);
    }
};

struct Connection {
    enum class State { Reading, Handling, Writing, Draining };
    HANDLE pipe = INVALID_HANDLE_VALUE;
    uint64_t id = 0;
    State state = State::Reading;
    Clock::time_point deadline;
    Overlapped io;
    bool pending = false; // an operation on io is in flight
    char buffer[1024];
    std::string in;
    std::string out;
    std::size_t written = 0;
};

// Ends an operation in flight before its buffer goes, then closes the pipe.
void Close(Connection& c) {
    if (c.pipe == INVALID_HANDLE_VALUE) return;
    if (c.pending) {
        DWORD ignored = 0;
        CancelIoEx(c.pipe, &c.io.ov);
        GetOverlappedResult(c.pipe, &c.io.ov, &ignored, TRUE);
        c.pending = false;
    }
    CloseHandle(c.pipe);
    c.pipe = INVALID_HANDLE_VALUE;
}

} // namespace

struct RemoteServer::Impl {
    Endpoint endpoint;
    std::wstring name;
    RemoteServerOptions options;
    std::string problem;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HANDLE stopEvent = nullptr;
    HANDLE wakeEvent = nullptr; // auto-reset: a reply waits
    HANDLE listening = INVALID_HANDLE_VALUE;
    HANDLE accepted = INVALID_HANDLE_VALUE; // the instance a client just connected to, while it is looked at
    Overlapped listenIo;
    std::atomic<bool> stopping{false};
    std::shared_ptr<detail::Dispatcher> dispatcher;
    std::thread thread;
    std::list<Connection> connections; // server's thread only
    uint64_t nextId = 1;

    ~Impl() {
        if (listening != INVALID_HANDLE_VALUE) {
            DWORD ignored = 0;
            CancelIoEx(listening, &listenIo.ov);
            GetOverlappedResult(listening, &listenIo.ov, &ignored, TRUE);
            CloseHandle(listening);
        }
        for (Connection& c : connections) Close(c);
        if (stopEvent != nullptr) CloseHandle(stopEvent);
        if (wakeEvent != nullptr) CloseHandle(wakeEvent);
        if (descriptor != nullptr) LocalFree(descriptor);
    }

    bool Prepare();
    // A new instance waiting for a client; false when it cannot be made.
    bool Listen();
    void OnConnected();
    void StartRead(Connection& c);
    void OnRead(Connection& c, DWORD got);
    void StartWrite(Connection& c);
    void OnIo(Connection& c);
    void TakeReplies();
    void Serve();
};

bool RemoteServer::Impl::Prepare() {
    name = Wide(endpoint.address);
    const std::optional<std::string> sid = win32::CurrentUserSidText();
    if (!sid) {
        problem = ErrorText("cannot read this user's identity for", endpoint.address, GetLastError());
        return false;
    }
    // Protected (no inherited entries): generic all for this user only.
    const std::string sddl = "D:P(A;;GA;;;" + *sid + ")";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        problem = ErrorText("cannot make the security descriptor for", endpoint.address, GetLastError());
        return false;
    }
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (stopEvent == nullptr || wakeEvent == nullptr || listenIo.ov.hEvent == nullptr) {
        problem = ErrorText("cannot make the events for", endpoint.address, GetLastError());
        return false;
    }
    return Listen();
}

bool RemoteServer::Impl::Listen() {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    // While none of our instances exists the name is free for anyone; a pipe found under it then is not ours and
    // must not be joined.
    bool ours = accepted != INVALID_HANDLE_VALUE;
    for (const Connection& c : connections) ours = ours || c.pipe != INVALID_HANDLE_VALUE;
    const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (ours ? 0 : FILE_FLAG_FIRST_PIPE_INSTANCE);
    listening = CreateNamedPipeW(name.c_str(), openMode,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, &attributes);
    if (listening == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // The first instance exists already: another Quillet of this folder, or a squatter.
        problem = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY
                      ? "cannot listen at " + endpoint.address + ": another program answers there"
                      : ErrorText("cannot listen at", endpoint.address, error);
        return false;
    }
    listenIo.Reset();
    if (ConnectNamedPipe(listening, &listenIo.ov)) {
        SetEvent(listenIo.ov.hEvent);
    } else {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            SetEvent(listenIo.ov.hEvent); // a client came between the create and the connect
        } else if (error != ERROR_IO_PENDING) {
            CloseHandle(listening);
            listening = INVALID_HANDLE_VALUE;
            problem = ErrorText("cannot wait for clients at", endpoint.address, error);
            return false;
        }
    }
    return true;
}

void RemoteServer::Impl::OnConnected() {
    DWORD ignored = 0;
    const bool connected =
        GetOverlappedResult(listening, &listenIo.ov, &ignored, FALSE) || GetLastError() == ERROR_PIPE_CONNECTED;
    accepted = listening;
    listening = INVALID_HANDLE_VALUE;
    // The next instance first, so that the name never goes free. A failure leaves the server without a waiting
    // instance; it tries again at every wake-up. At the limit there is none: clients wait for one (WaitNamedPipe)
    // until a connection ends.
    if (connections.size() + 1 < options.maxConnections) Listen();
    HANDLE pipe = std::exchange(accepted, INVALID_HANDLE_VALUE);
    ULONG pid = 0;
    const bool served = connected && connections.size() < options.maxConnections &&
                        GetNamedPipeClientProcessId(pipe, &pid) && win32::ProcessIsCurrentUser(pid);
    if (!served) {
        CloseHandle(pipe);
        return;
    }
    connections.emplace_back();
    Connection& c = connections.back();
    c.pipe = pipe;
    c.id = nextId++;
    c.deadline = Clock::now() + options.requestDeadline;
    StartRead(c);
}

void RemoteServer::Impl::StartRead(Connection& c) {
    c.io.Reset();
    // Draining reads only to learn that the client has closed; what it sends then is not looked at.
    const DWORD room = c.state == Connection::State::Draining
                           ? static_cast<DWORD>(sizeof c.buffer)
                           : static_cast<DWORD>(std::min(sizeof c.buffer, kMaxRequestBytes + 1 - c.in.size()));
    if (ReadFile(c.pipe, c.buffer, room, nullptr, &c.io.ov) || GetLastError() == ERROR_IO_PENDING) {
        c.pending = true; // completion, also an immediate one, signals the event
        return;
    }
    Close(c);
}

void RemoteServer::Impl::OnRead(Connection& c, DWORD got) {
    if (c.state == Connection::State::Draining) {
        StartRead(c);
        return;
    }
    c.in.append(c.buffer, got);
    if (c.in.size() > kMaxRequestBytes) {
        Close(c);
        return;
    }
    const std::size_t lf = c.in.find('\n');
    if (lf == std::string::npos) {
        StartRead(c);
        return;
    }
    std::optional<Request> request = lf + 1 == c.in.size() ? ParseRequest(c.in) : std::nullopt;
    if (!request) {
        Close(c);
        return;
    }
    c.state = Connection::State::Handling;
    c.deadline = Clock::now() + options.handlerDeadline;
    c.in.clear();
    dispatcher->Submit(c.id, std::move(*request));
}

void RemoteServer::Impl::StartWrite(Connection& c) {
    c.io.Reset();
    const DWORD size = static_cast<DWORD>(c.out.size() - c.written);
    if (WriteFile(c.pipe, c.out.data() + c.written, size, nullptr, &c.io.ov) || GetLastError() == ERROR_IO_PENDING) {
        c.pending = true;
        return;
    }
    Close(c);
}

void RemoteServer::Impl::OnIo(Connection& c) {
    DWORD done = 0;
    const bool ok = GetOverlappedResult(c.pipe, &c.io.ov, &done, FALSE);
    c.pending = false;
    if (!ok) { // the client closed (ERROR_BROKEN_PIPE) or failed: nothing more to do for it
        Close(c);
        return;
    }
    switch (c.state) {
    case Connection::State::Reading:
    case Connection::State::Draining:
        OnRead(c, done);
        break;
    case Connection::State::Writing:
        c.written += done;
        if (c.written < c.out.size()) {
            StartWrite(c);
        } else {
            // The client reads the reply and closes; closing first could lose what it has not read yet.
            c.state = Connection::State::Draining;
            c.deadline = Clock::now() + options.replyDeadline;
            StartRead(c);
        }
        break;
    case Connection::State::Handling:
        break;
    }
}

void RemoteServer::Impl::TakeReplies() {
    for (auto& [id, reply] : dispatcher->TakeReplies()) {
        const auto it = std::find_if(connections.begin(), connections.end(), [id = id](const Connection& c) {
            return c.id == id && c.state == Connection::State::Handling && c.pipe != INVALID_HANDLE_VALUE;
        });
        if (it == connections.end()) continue; // dropped meanwhile: its handler answered too late
        it->state = Connection::State::Writing;
        it->out = FormatReply(reply);
        it->deadline = Clock::now() + options.replyDeadline;
        StartWrite(*it);
    }
}

void RemoteServer::Impl::Serve() {
    std::vector<HANDLE> handles;
    std::vector<Connection*> waited;
    while (!stopping.load()) {
        if (listening == INVALID_HANDLE_VALUE && connections.size() < options.maxConnections) Listen();
        handles.assign({stopEvent, wakeEvent});
        waited.clear();
        const bool listenWaited = listening != INVALID_HANDLE_VALUE;
        if (listenWaited) handles.push_back(listenIo.ov.hEvent);
        Clock::time_point next = Clock::now() + std::chrono::seconds(listenWaited ? 60 : 1);
        for (Connection& c : connections) {
            next = std::min(next, c.deadline);
            if (!c.pending || handles.size() >= MAXIMUM_WAIT_OBJECTS) continue;
            handles.push_back(c.io.ov.hEvent);
            waited.push_back(&c);
        }
        const DWORD r =
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, MillisecondsUntil(next));
        if (stopping.load() || r == WAIT_OBJECT_0) break;
        if (r == WAIT_FAILED) break;
        if (r == WAIT_OBJECT_0 + 1) TakeReplies();
        const DWORD first = WAIT_OBJECT_0 + (listenWaited ? 3 : 2);
        if (listenWaited && r == WAIT_OBJECT_0 + 2) OnConnected();
        // Every connection whose operation completed, not only the first one the wait reported.
        for (std::size_t i = 0; i < waited.size(); ++i) {
            Connection& c = *waited[i];
            if (c.pipe == INVALID_HANDLE_VALUE || !c.pending) continue;
            if (r == first + i || WaitForSingleObject(c.io.ov.hEvent, 0) == WAIT_OBJECT_0) OnIo(c);
        }
        const Clock::time_point now = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->pipe != INVALID_HANDLE_VALUE && it->deadline <= now) Close(*it);
            it = it->pipe == INVALID_HANDLE_VALUE ? connections.erase(it) : std::next(it);
        }
    }
}

RemoteServer::RemoteServer(Endpoint endpoint, EventLoop& loop, Handler handler, RemoteServerOptions options)
    : impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    s.endpoint = std::move(endpoint);
    s.options = options;
    if (!s.Prepare()) return;
    const HANDLE wake = s.wakeEvent;
    s.dispatcher = std::make_shared<detail::Dispatcher>(loop, std::move(handler), [wake] { SetEvent(wake); });
    try {
        s.thread = std::thread([&s] { s.Serve(); });
    } catch (const std::system_error& e) {
        s.problem = "cannot listen at " + s.endpoint.address + ": no thread: " + e.what();
        s.dispatcher.reset();
    }
}

RemoteServer::~RemoteServer() {
    Impl& s = *impl_;
    // No handler after this, none running; the wake event is no longer set.
    if (s.dispatcher) s.dispatcher->Stop();
    s.stopping = true;
    if (s.thread.joinable()) {
        SetEvent(s.stopEvent);
        s.thread.join();
    }
    // The handles go with impl_.
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

// --- Client -----------------------------------------------------------------------------------------------------

namespace {

ClientResult Outcome(ClientOutcome outcome, std::string problem = {}) {
    ClientResult r;
    r.outcome = outcome;
    r.problem = std::move(problem);
    return r;
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// One overlapped read or write with a deadline; the bytes moved, or nothing on failure or time-out (the operation
// is cancelled and finished before this returns).
std::optional<DWORD> Transfer(HANDLE pipe, bool write, void* data, DWORD size, Clock::time_point deadline,
                              bool& timedOut) {
    Overlapped io;
    if (io.ov.hEvent == nullptr) return std::nullopt;
    const BOOL started =
        write ? WriteFile(pipe, data, size, nullptr, &io.ov) : ReadFile(pipe, data, size, nullptr, &io.ov);
    if (!started && GetLastError() != ERROR_IO_PENDING) return std::nullopt;
    DWORD done = 0;
    if (WaitForSingleObject(io.ov.hEvent, MillisecondsUntil(deadline)) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &io.ov);
        GetOverlappedResult(pipe, &io.ov, &done, TRUE);
        timedOut = true;
        return std::nullopt;
    }
    if (!GetOverlappedResult(pipe, &io.ov, &done, FALSE)) return std::nullopt;
    return done;
}

} // namespace

ClientResult SendRequest(const Endpoint& endpoint, const Request& request, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::optional<std::string> bytes = FormatRequest(request);
    if (!bytes) return Outcome(ClientOutcome::Failed, "the request cannot be sent (a control character, or too long)");
    const std::wstring name = Wide(endpoint.address);

    HANDLE opened = INVALID_HANDLE_VALUE;
    for (;;) {
        // Identification only: the server may learn who we are, not act as us.
        opened = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (opened != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return Outcome(ClientOutcome::NotRunning);
        if (error != ERROR_PIPE_BUSY)
            return Outcome(ClientOutcome::Failed, ErrorText("cannot connect to", endpoint.address, error));
        // Every instance is taken; the server makes a new one as soon as it takes a client.
        const DWORD left = MillisecondsUntil(deadline);
        if (left == 0 || !WaitNamedPipeW(name.c_str(), left))
            return Outcome(ClientOutcome::NoAnswer, "it takes no more connections now");
    }
    const Handle pipe(opened);
    ULONG serverPid = 0;
    if (!GetNamedPipeServerProcessId(pipe.get(), &serverPid) || !win32::ProcessIsCurrentUser(serverPid))
        return Outcome(ClientOutcome::Failed, endpoint.address + " belongs to another user");

    bool timedOut = false;
    std::size_t sent = 0;
    while (sent < bytes->size()) {
        const std::optional<DWORD> n = Transfer(pipe.get(), true, bytes->data() + sent,
                                                static_cast<DWORD>(bytes->size() - sent), deadline, timedOut);
        if (!n || *n == 0)
            return Outcome(ClientOutcome::NoAnswer, timedOut ? "it takes no request" : "it closed the connection");
        sent += *n;
    }

    std::string received;
    std::optional<std::size_t> total;
    char buffer[4096];
    while (!total || received.size() < *total) {
        const DWORD want =
            static_cast<DWORD>(total ? std::min(sizeof buffer, *total - received.size()) : sizeof buffer);
        const std::optional<DWORD> n = Transfer(pipe.get(), false, buffer, want, deadline, timedOut);
        if (!n || *n == 0)
            return Outcome(ClientOutcome::NoAnswer,
                           timedOut ? "no reply in time" : "it closed the connection without a reply");
        received.append(buffer, *n);
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
