#include "remote/endpoint.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "remote/win32_identity.h"
#else
#include <sys/un.h>
#include <unistd.h>

#include "app/runtime_dir.h"
#endif

namespace quillet::remote {

std::string FolderHash(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

#ifndef _WIN32

std::string SocketPathIn(const std::string& runtimeDir, const std::filesystem::path& folder) {
    const std::string bytes = std::filesystem::absolute(folder).lexically_normal().string();
    std::string name;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' || u == '-') {
            name += c;
        } else if (c == '/') {
            name += '_';
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", u);
            name += escape;
        }
    }
    // A trailing '/' of the root or of a path with one would otherwise give a second name for the same folder.
    while (name.size() > 1 && name.back() == '_') name.pop_back();
    std::string path = runtimeDir + "/quillet-" + name + ".sock";
    // The absolute path always begins with '_', so the two forms never share a name.
    if (path.size() >= sizeof(sockaddr_un{}.sun_path)) path = runtimeDir + "/quillet-h" + FolderHash(bytes) + ".sock";
    return path;
}

std::optional<Endpoint> EndpointForFolder(const std::filesystem::path& folder, std::string& problem) {
    // The same choice the desktop program makes for Qt before anything else, so that the program started from a
    // desktop session and quillet-cli started from a plain shell meet in the same folder.
    const char* current = std::getenv("XDG_RUNTIME_DIR");
    std::string dir;
    if (current != nullptr && app::IsPrivateRuntimeDir(current)) {
        dir = current;
    } else if (const std::optional<std::string> own = app::ChoosePrivateRuntimeDir(current)) {
        dir = *own;
    } else {
        problem = "no private runtime folder: XDG_RUNTIME_DIR is not a folder of this user with mode 0700, and "
                  "/tmp/quillet-runtime-" +
                  std::to_string(geteuid()) + " cannot be used";
        return std::nullopt;
    }
    return Endpoint{SocketPathIn(dir, folder)};
}

#else

std::optional<Endpoint> EndpointForFolder(const std::filesystem::path& folder, std::string& problem) {
    const std::optional<std::string> sid = win32::CurrentUserSidText();
    if (!sid) {
        problem = "cannot read this user's identity (Windows error " + std::to_string(GetLastError()) + ")";
        return std::nullopt;
    }
    // Windows folders compare without regard to case.
    std::wstring wide = std::filesystem::absolute(folder).lexically_normal().wstring();
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    if (!wide.empty()) CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    const std::u8string utf8 = std::filesystem::path(wide).u8string();
    const std::string bytes(reinterpret_cast<const char*>(utf8.data()), utf8.size());
    return Endpoint{"\\\\.\\pipe\\quillet-" + *sid + "-" + FolderHash(bytes)};
}

#endif

} // namespace quillet::remote
