// The wire format between a running Quillet and the programs that ask it for something (quillet-cli, a second start
// of the desktop program). One request per connection, one reply, then the connection ends. Plain text, so that a
// person can talk to it with a socket tool when something goes wrong.
//
//   request:  "quillet1" TAB COMMAND [TAB ARGUMENT] LF             at most kMaxRequestBytes, LF included
//   reply:    "quillet1" TAB STATUS TAB LENGTH LF TEXT             STATUS 0 (done) or 1 (refused); TEXT is LENGTH
//                                                                  bytes of UTF-8, at most kMaxReplyText
//
// COMMAND is one of show, start, stop, stop-all, status, mode. start and stop take a macro name (UTF-8, as the user
// typed it), mode takes "run" or "edit"; the others take nothing. An argument is never empty and holds no control
// characters (so no TAB or LF). Anything else - another prefix, an unknown command, a missing or extra argument,
// malformed UTF-8, bytes after the LF, a request without its LF - is not a request: the server drops the connection
// without a reply and without doing anything.
//
// The reply's length lets the client close first: on Windows a pipe's server cannot close its end safely before the
// client has read everything.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::remote {

inline constexpr std::string_view kProtocolTag = "quillet1";
inline constexpr std::size_t kMaxRequestBytes = 4096;
inline constexpr std::size_t kMaxReplyText = 64 * 1024;
// The reply's header line: the tag, a status digit, a length of at most 10 digits, two TABs and the LF.
inline constexpr std::size_t kMaxReplyHeader = 32;

enum class Command {
    Show,    // bring the main window up (a second start of the desktop program)
    Start,   // argument: macro name
    Stop,    // argument: macro name
    StopAll, // every running library macro
    Status,  // run mode and the running macros
    Mode,    // argument: "run" or "edit"
};

struct Request {
    Command command = Command::Status;
    std::string argument; // UTF-8; empty for the commands without one

    bool operator==(const Request&) const = default;
};

// The values are the exit codes quillet-cli gives for them.
enum class ReplyStatus { Done = 0, Refused = 1 };

struct Reply {
    ReplyStatus status = ReplyStatus::Done;
    std::string text; // UTF-8, for a person; may hold several lines

    bool operator==(const Reply&) const = default;
};

// The request's name on the wire ("stop-all"), and back; nothing for an unknown word.
std::string_view CommandName(Command command);
std::optional<Command> CommandFromName(std::string_view name);
// Whether the command takes an argument.
bool TakesArgument(Command command);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The bytes of a request, LF included. Nothing when the request could not be parsed back (a missing or unexpected
// argument, control characters, malformed UTF-8, longer than kMaxRequestBytes): the client refuses to send it.
std::optional<std::string> FormatRequest(const Request& request);
// A whole request as received (LF included). Nothing for everything that is not exactly one well-formed request.
std::optional<Request> ParseRequest(std::string_view bytes);

// The bytes of a reply. A text longer than kMaxReplyText is cut at a character boundary.
std::string FormatReply(const Reply& reply);
// How many bytes the whole reply has once its header line is in: nothing while the header is incomplete, 0 when the
// header can never be valid (the client gives up).
std::optional<std::size_t> ReplySize(std::string_view received);
// A whole reply as received. Nothing for a bad header, a length that does not match, or malformed UTF-8.
std::optional<Reply> ParseReply(std::string_view bytes);

// Longest prefix of text, at most max bytes, that does not end inside a UTF-8 character.
std::string_view CutUtf8(std::string_view text, std::size_t max);

} // namespace quillet::remote
