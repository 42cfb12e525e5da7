// Where the Quillet working in a folder takes remote requests. One endpoint per folder and user, derived from the
// folder alone, so that a client finds the instance it means without asking anyone.
//
// Linux: a Unix socket in the user's private runtime folder (XDG_RUNTIME_DIR when it is a directory of this user
// with mode 0700, otherwise the program's own /tmp/quillet-runtime-<uid>, as the desktop program chooses for Qt).
// The socket's name holds the folder: "quillet-_home_ann_macros.sock" ('/' as '_', other bytes outside
// [A-Za-z0-9.-] as %XX); a name that would not fit sun_path (107 bytes with the folder) becomes
// "quillet-h<16 hex digits of a 64-bit FNV-1a hash of the folder>.sock".
//
// Windows: the named pipe \\.\pipe\quillet-<user SID>-<16 hex digits of the hash of the lower-cased folder>. Pipe
// names are visible machine-wide; the SID keeps users apart and the server's security descriptor keeps everyone
// else out.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quillet::remote {

struct Endpoint {
    // Linux: the socket's path. Windows: the pipe's name, UTF-8.
    std::string address;
};

// The endpoint for the instance working in folder (made absolute; pass it as the program's working folder is
// found, std::filesystem::current_path, or canonical for a folder the user named). Nothing, with problem set
// (English, one line), when there is no private runtime folder (Linux; it is created when missing) or the user's
// identity cannot be read (Windows). Costs: a few stat calls, at most one mkdir.
std::optional<Endpoint> EndpointForFolder(const std::filesystem::path& folder, std::string& problem);

// The 64-bit FNV-1a hash of bytes as 16 lower-case hex digits.
std::string FolderHash(const std::string& bytes);

#ifndef _WIN32
// The socket path for folder in runtimeDir, by the naming rule above.
std::string SocketPathIn(const std::string& runtimeDir, const std::filesystem::path& folder);
#endif

} // namespace quillet::remote
