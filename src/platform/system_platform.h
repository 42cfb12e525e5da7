// The backend of the system the program runs on: X11 on Linux, Win32 on Windows.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace quillet::platform {

class SystemPlatform {
public:
    virtual ~SystemPlatform() = default;
    virtual Platform platform() = 0;
    // For a backend opened with deferGuardian: waits for what it left starting (the guardian). A warning line, empty
    // when all is well.
    virtual std::string FinishStart() { return {}; }
};

// Opens the backend, with a guardian process that releases what macros hold if the program ends abnormally. On
// failure returns null and says why in error; warning is set when it opens but cannot do everything (a Wayland
// session, where only X programs can be reached; no guardian), one line per problem.
// deferGuardian: the guardian starts in the background and FinishStart waits for it (the desktop program calls it
// after setting itself up, before anything can send input).
std::unique_ptr<SystemPlatform> OpenSystemPlatform(std::string& error, std::string& warning, bool deferGuardian = false);

} // namespace quillet::platform
