#include "app/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quillet::app {

namespace {

bool OwnRealDirectory(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

} // namespace

bool IsPrivateRuntimeDir(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && lstat(dir.c_str(), &st) == 0 && OwnRealDirectory(st) && (st.st_mode & 07777) == 0700;
}

std::optional<std::string> ChoosePrivateRuntimeDir(const char* current, const std::string& base) {
    if (current != nullptr && IsPrivateRuntimeDir(current)) return std::nullopt;
    const std::string dir = base + "/quillet-runtime-" + std::to_string(geteuid());
    // mkdir first: a stat before it would race with whoever else makes the name.
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !OwnRealDirectory(st)) return std::nullopt;
    // Ours: the mode made by mkdir under an unusual umask, or changed since, is put right.
    if ((st.st_mode & 07777) != 0700 && chmod(dir.c_str(), 0700) != 0) return std::nullopt;
    return dir;
}

void EnsurePrivateRuntimeDir() {
    if (const std::optional<std::string> dir = ChoosePrivateRuntimeDir(std::getenv("XDG_RUNTIME_DIR")))
        setenv("XDG_RUNTIME_DIR", dir->c_str(), 1);
}

} // namespace quillet::app
