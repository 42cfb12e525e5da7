// quillet-cli start/stop/stop-all/status/mode: requests to the Quillet running in a folder (the desktop program or
// quillet-cli run), sent over its endpoint (remote/endpoint.h). The folder is the current one, as the program finds
// its own, or the one given with --folder DIR.
//
// Exit codes: 0 done (the reply's text on out), 1 refused (the reason on err) or no answer in time, 2 nothing runs
// there (or the command line is wrong).
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

namespace quillet::cli {

// How long a remote command waits for the reply, the connection included.
inline constexpr std::chrono::milliseconds kRemoteTimeout{5000};

// True for the commands RemoteCommand handles.
bool IsRemoteCommand(const std::string& command);

// args[0] is the command.
int RemoteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillet::cli
