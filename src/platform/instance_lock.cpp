#include "platform/instance_lock.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace quillet::platform {

namespace {

// The path as UTF-8 text for messages.
std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

// The process id at the start of the lock file's text; 0 when there is none.
long ParsePid(const char* text, std::size_t size) {
    long pid = 0;
    std::size_t i = 0;
    for (; i < size && i < 18 && text[i] >= '0' && text[i] <= '9'; ++i) pid = pid * 10 + (text[i] - '0');
    return i > 0 ? pid : 0;
}

// A lock that keeps being lost to a file removed and made again is given up after this many tries.
constexpr int kAttempts = 8;

} // namespace

#ifndef _WIN32

namespace {

std::string Problem(const std::filesystem::path& path, const char* what, int error) {
    std::string text = what;
    text += ' ';
    text += PathText(path);
    text += ": ";
    text += std::strerror(error);
    return text;
}

long ReadPid(int fd) {
    char text[32];
    const ssize_t got = pread(fd, text, sizeof text, 0);
    return got > 0 ? ParsePid(text, static_cast<std::size_t>(got)) : 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

InstanceLock::InstanceLock(const std::filesystem::path& folder) : path_(folder / kInstanceLockFileName) {
    const char* name = path_.c_str();
    // Never through a symbolic link (the process id would be written into whatever it points at), never blocking
    // on a FIFO put in its place, never inherited by programs started from here.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool writable = true;
        int fd = open(name, O_RDWR | O_CREAT | kFlags, 0644);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            // A lock file left in a folder that is now read-only still works as a lock when it can be read.
            const int createError = errno;
            fd = open(name, O_RDONLY | kFlags);
            if (fd < 0) {
                problem_ = Problem(path_, "cannot create", createError);
                return;
            }
            writable = false;
        }
        if (fd < 0) {
            problem_ = errno == ELOOP ? "cannot use " + PathText(path_) + ": it is a symbolic link"
                                      : Problem(path_, "cannot create", errno);
            return;
        }
        struct stat own {};
        if (fstat(fd, &own) != 0 || !S_ISREG(own.st_mode)) {
            close(fd);
            problem_ = "cannot use " + PathText(path_) + ": it is not a regular file";
            return;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                ownerPid_ = ReadPid(fd);
                close(fd);
                status_ = InstanceLockStatus::HeldByOther;
                return;
            }
            close(fd);
            if (error == EINTR) continue;
            problem_ = Problem(path_, "cannot lock", error); // e.g. a file system without locks
            return;
        }
        // The previous holder may have removed the file between this open and this lock: the lock is then on a
        // file no one else will open, and the one now at the path must be taken instead.
        struct stat atPath {};
        if (lstat(name, &atPath) != 0 || !SameFile(own, atPath)) {
            close(fd);
            continue;
        }
        fd_ = fd;
        status_ = InstanceLockStatus::Acquired;
        // The process id is information only: the lock holds without it.
        if (writable && ftruncate(fd, 0) == 0) {
            char text[24];
            const int length = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
            const ssize_t written = pwrite(fd, text, static_cast<std::size_t>(length), 0);
            (void)written;
        }
        return;
    }
    problem_ = "cannot lock " + PathText(path_) + ": the file keeps being removed and made again";
}

InstanceLock::~InstanceLock() {
    if (fd_ < 0) return;
    // Removed while still locked, and only when the path still names the locked file; a process that opened it
    // just before sees the change after its own lock and tries the new file.
    struct stat own {
    }, atPath{};
    if (fstat(fd_, &own) == 0 && lstat(path_.c_str(), &atPath) == 0 && SameFile(own, atPath)) unlink(path_.c_str());
    close(fd_);
}

#else

namespace {

// One byte far past the process id text is locked, so that others can still read the id (Windows locks keep
// others from reading the bytes they cover). A lock past the end of the file is allowed.
constexpr DWORD kLockOffsetHigh = 1; // offset 4 GiB

std::string Problem(const std::filesystem::path& path, const char* what, DWORD error) {
    std::string text = what;
    text += ' ';
    text += PathText(path);
    text += " (Windows error ";
    text += std::to_string(error);
    text += ')';
    return text;
}

long ReadPid(HANDLE file) {
    char text[32];
    DWORD got = 0;
    OVERLAPPED at{};
    if (!ReadFile(file, text, sizeof text, &got, &at)) return 0;
    return ParsePid(text, got);
}

} // namespace

InstanceLock::InstanceLock(const std::filesystem::path& folder) : path_(folder / kInstanceLockFileName) {
    // Everyone may open the file (to read the holder's id); the exclusive lock on one byte is what counts. The
    // handle is not inherited by programs started from here.
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool writable = true;
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD createError = GetLastError();
            if (createError == ERROR_SHARING_VIOLATION) continue; // opened by someone without sharing, for a moment
            // A lock file left in a folder that is now read-only still works as a lock when it can be read.
            file = CreateFileW(path_.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                problem_ = Problem(path_, "cannot create", createError);
                return;
            }
            writable = false;
        }
        if (GetFileType(file) != FILE_TYPE_DISK) {
            CloseHandle(file);
            problem_ = "cannot use " + PathText(path_) + ": it is not a regular file";
            return;
        }
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            const DWORD error = GetLastError();
            if (error == ERROR_LOCK_VIOLATION) {
                ownerPid_ = ReadPid(file);
                CloseHandle(file);
                status_ = InstanceLockStatus::HeldByOther;
                return;
            }
            CloseHandle(file);
            problem_ = Problem(path_, "cannot lock", error);
            return;
        }
        handle_ = file;
        status_ = InstanceLockStatus::Acquired;
        if (writable) {
            char text[24];
            const int length = std::snprintf(text, sizeof text, "%lu\r\n", GetCurrentProcessId());
            DWORD written = 0;
            // The process id is information only: the lock holds without it.
            if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file))
                WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
        }
        return;
    }
    problem_ = "cannot open " + PathText(path_) + ": it stays opened by another program without sharing";
}

// The file stays (Windows cannot remove a file others may have open without a window in which a new holder
// would lock a file that is about to go); the next holder writes its own id over the old one.
InstanceLock::~InstanceLock() {
    if (handle_ == nullptr) return;
    HANDLE file = static_cast<HANDLE>(handle_);
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
}

#endif

} // namespace quillet::platform
