// The server side of remote requests: a running Quillet listens on its endpoint (remote/endpoint.h) and answers each
// well-formed request (remote/protocol.h) through a handler that runs on the session's event loop thread.
//
// Threads: the server has one thread of its own that accepts connections, reads requests and writes replies; all
// its sockets (pipes on Windows) are non-blocking there, so that one client that sends nothing, or reads nothing,
// holds up neither the others nor the event loop. The event loop thread only runs the handler (posted with
// EventLoop::Post) and hands the reply back; it never waits for a client.
//
// Who is served: only processes of the same user. Linux: the peer's uid from SO_PEERCRED is compared with this
// process's effective uid (the socket lives in a private folder too, and is made with mode 0600). Windows: the
// pipe's security descriptor grants access to this user alone, remote clients are rejected, and the client
// process's token user is compared with ours. A peer of another user is disconnected before anything is read.
//
// What is dropped without a reply and without effect: a request that does not parse (garbage, an unknown command,
// more than kMaxRequestBytes), a request not complete within requestDeadline of the connection. Clients beyond
// maxConnections at a time wait to be taken (in the socket's backlog, or for a free pipe instance). A reply the client
// does not take within replyDeadline is dropped, as is a request whose handler has not answered within handlerDeadline
// (the loop is stuck; its late reply is thrown away).
//
// Stopping: the destructor stops the thread and joins it, closes every connection and removes the socket file
// (when the path still names the socket this server made). From then on the handler is not called again, also not
// from a closure still queued on the loop, and none is running when the destructor returns; so the handler's
// captures need only outlive the server. Construct and destroy from any thread but never from inside the
// handler (the destructor waits for a handler in progress); the loop must outlive the server.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "remote/endpoint.h"
#include "remote/protocol.h"
#include "session/event_loop.h"

namespace quillet::remote {

struct RemoteServerOptions {
    std::chrono::milliseconds requestDeadline{2000};
    std::chrono::milliseconds replyDeadline{2000};
    std::chrono::milliseconds handlerDeadline{10000};
    std::size_t maxConnections = 16;
#ifndef _WIN32
    // The uid a peer must have; -1: this process's effective uid. Tests use another value to see a refusal.
    long acceptedUid = -1;
#endif
};

class RemoteServer {
public:
    // Runs on the loop's thread; returns the reply to send.
    using Handler = std::function<Reply(const Request&)>;

    // Starts listening at once. A socket file left at the endpoint by a program that ended is replaced; one that
    // still answers is left alone and this server does not listen (see problem()). Other failures (a path too
    // long, no right to create the socket, no thread) also leave it not listening.
    RemoteServer(Endpoint endpoint, EventLoop& loop, Handler handler, RemoteServerOptions options = {});
    ~RemoteServer();
    RemoteServer(const RemoteServer&) = delete;
    RemoteServer& operator=(const RemoteServer&) = delete;

    bool listening() const;
    // Why it does not listen: English, one line, naming the endpoint.
    const std::string& problem() const;
    const Endpoint& endpoint() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quillet::remote
