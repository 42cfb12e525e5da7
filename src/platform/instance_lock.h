// One Quillet per working folder. Two programs started in the same folder would both react to every hotkey and
// send every macro's input twice, and both would write Quillet.ini and the library; the program takes this lock
// before it builds anything and ends when another Quillet holds it.
#pragma once

#include <filesystem>
#include <string>

namespace quillet::platform {

// The lock file's name in the working folder, beside Quillet.ini.
inline constexpr const char* kInstanceLockFileName = "Quillet.lock";

enum class InstanceLockStatus {
    Acquired,    // this object holds the lock until it is destroyed
    HeldByOther, // another process holds it; see ownerPid()
    Unavailable, // the lock file could not be made or opened (a read-only folder, a missing folder, a symbolic
                 // link in its place); see problem(). Nothing is known about other programs then: the caller
                 // decides whether to go on (the desktop program does, with a warning).
};

// Tries once, at construction, to take an exclusive lock on the file kInstanceLockFileName in `folder`, creating
// the file when it is missing. Never waits for another holder.
//
// The lock belongs to the operating system's open file, not to the file's existence: flock(LOCK_EX | LOCK_NB) on
// a descriptor opened with O_CLOEXEC on POSIX, a handle without write or delete sharing on Windows. When the
// holder ends in any way — a crash, SIGKILL, a lost session — the system drops it with the process, so a lock
// file left behind never blocks a later start. Programs the holder starts do not inherit it.
//
// While held, the file contains the holder's process id as decimal text; a process that finds it held reports
// that id (0 when the file holds none yet, in the moment between the other's lock and its write). On destruction
// the lock is let go; on POSIX the file is removed too (only when the path still names the locked file), on
// Windows it stays and the next holder writes its own id over the old one. A file that is there but cannot be
// written (left in a folder that is now read-only) is still locked through a read-only handle; the process id is
// then not written.
//
// Failure cases: the folder missing or not a folder, no right to create the file, the name taken by a symbolic
// link, a directory or another non-regular file (never followed, never written through) give Unavailable. Two
// objects in the same process lock each other out as two processes do.
//
// Costs: one open, one lock call and one small write at construction, one unlink and close at destruction; no
// thread, no polling. Not safe to share between threads.
class InstanceLock {
public:
    explicit InstanceLock(const std::filesystem::path& folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    InstanceLockStatus status() const { return status_; }
    bool acquired() const { return status_ == InstanceLockStatus::Acquired; }
    // For HeldByOther: the holder's process id as written in the file; 0 when unknown.
    long ownerPid() const { return ownerPid_; }
    // For Unavailable: what failed, in English, one line, naming the file.
    const std::string& problem() const { return problem_; }
    // The lock file.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    InstanceLockStatus status_ = InstanceLockStatus::Unavailable;
    long ownerPid_ = 0;
    std::string problem_;
#ifdef _WIN32
    void* handle_ = nullptr; // HANDLE
#else
    int fd_ = -1;
#endif
};

} // namespace quillet::platform
