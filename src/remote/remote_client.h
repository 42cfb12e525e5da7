// The client side of remote requests: connect to the Quillet of a folder, send one request, wait for its reply.
//
// What the outcome says:
//  - Answered: the reply is in reply (its status may still be Refused).
//  - NotRunning: nothing listens at the endpoint (no socket or pipe there, or one left by a program that ended).
//  - NoAnswer: something listens but no whole reply came within the time-out: the program is stuck or busy, or it
//    dropped the request (one it could not parse, or a peer it does not serve).
//  - Failed: the request could not be tried (it cannot be formatted, no right to connect, the endpoint answers as
//    another user): problem says why.
// Costs: one connection; blocks the calling thread at most about timeout (the connect included). Linux: the server's
// uid (SO_PEERCRED) must be this process's; Windows: the pipe server's process must run as this user.
#pragma once

#include <chrono>
#include <string>

#include "remote/endpoint.h"
#include "remote/protocol.h"

namespace quillet::remote {

enum class ClientOutcome { Answered, NotRunning, NoAnswer, Failed };

struct ClientResult {
    ClientOutcome outcome = ClientOutcome::Failed;
    Reply reply;         // for Answered
    std::string problem; // for Failed and NoAnswer: English, one line
};

ClientResult SendRequest(const Endpoint& endpoint, const Request& request, std::chrono::milliseconds timeout);

// The second start of the desktop program: asks the Quillet working in folder to show and raise its main window.
// True when it answered that it did, within timeout.
bool AskToShowWindow(const std::filesystem::path& folder, std::chrono::milliseconds timeout);

} // namespace quillet::remote
