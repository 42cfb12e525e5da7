// A private runtime directory for Qt when the session gives none. Qt keeps its per-user sockets and locks in
// XDG_RUNTIME_DIR and complains at every start when it is unset or not private (owned by this user, mode 0700),
// as it is under plain Xvfb, ssh, cron or su. The program then gets a directory of its own.
#pragma once

#include <optional>
#include <string>

namespace quillet::app {

// True when `dir` is a directory (not a symbolic link) owned by this process's effective user with mode 0700:
// what Qt accepts without a warning.
bool IsPrivateRuntimeDir(const std::string& dir);

// The runtime directory to use, given the current value of XDG_RUNTIME_DIR (null when unset):
//  - nothing when the current value is already private (it is kept);
//  - else `base`/quillet-runtime-<uid>, created with mode 0700 when missing; one that exists is used only when it
//    is a real directory owned by this user (its mode is set back to 0700 then);
//  - nothing when that cannot be had (a symbolic link or another user's directory in its place, no right to
//    create it): the caller leaves the environment alone and Qt falls back to its own default.
// Never follows a symbolic link, never changes anything it does not own. Costs: a few stat calls, at most one
// mkdir and one chmod.
std::optional<std::string> ChoosePrivateRuntimeDir(const char* current, const std::string& base = "/tmp");

// ChoosePrivateRuntimeDir on the process's environment; sets XDG_RUNTIME_DIR when it gives a directory. Call it
// before any thread starts (it changes the environment), that is before the QApplication is made.
void EnsurePrivateRuntimeDir();

} // namespace quillet::app
