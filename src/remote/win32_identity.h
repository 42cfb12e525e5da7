// Who a process runs as, on Windows: the remote server and client serve and trust only this user's processes.
#pragma once

#include <optional>
#include <string>

namespace quillet::remote::win32 {

// This process's token user as SID text ("S-1-5-21-..."); nothing when it cannot be read (GetLastError says why).
std::optional<std::string> CurrentUserSidText();

// True when process pid runs as the same user as this process. False when it cannot be told (the process ended,
// no right to look at it).
bool ProcessIsCurrentUser(unsigned long pid);

} // namespace quillet::remote::win32
