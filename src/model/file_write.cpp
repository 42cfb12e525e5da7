#include "model/file_write.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillet {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

// The file that a write through path changes: path itself, or the final target of the symbolic links at path (a
// relative target is relative to its link's folder). A target that does not exist ends the chain: it is created.
bool ResolveLinks(const std::string& path, fs::path& target, std::string& problem) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(target, ec))) return true;
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) {
            problem = "cannot read the link " + target.string() + ": " + ec.message();
            return false;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    problem = "cannot write " + path + ": " + ErrnoText(ELOOP);
    return false;
}

std::atomic<unsigned> tempCounter{0};

std::string TempName(const std::string& target) {
#ifdef _WIN32
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(getpid());
#endif
    return target + ".tmp-" + std::to_string(pid) + "-" + std::to_string(tempCounter++);
}

} // namespace

#ifdef _WIN32

FileWriteResult WriteWholeFile(const std::string& path, std::string_view bytes) {
    fs::path target;
    std::string problem;
    if (!ResolveLinks(path, target, problem)) return {false, problem};
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    const bool exists = fs::exists(old);
    if (exists && !fs::is_regular_file(old)) return {false, target.string() + " is not a regular file: not written"};
    if (exists && (old.permissions() & fs::perms::owner_write) == fs::perms::none)
        return {false, "cannot write " + target.string() + ": the file is read-only; it is left as it was"};

    const std::string tempName = TempName(target.string());
    const fs::path temp(tempName);
    std::remove(tempName.c_str());
    std::FILE* f = std::fopen(tempName.c_str(), "wb");
    if (f == nullptr) return {false, "cannot create " + tempName + ": " + ErrnoText(errno)};
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fflush(f) != 0) {
        problem = "cannot write " + tempName + ": " + ErrnoText(errno);
    } else if (_commit(_fileno(f)) != 0) {
        problem = "cannot flush " + tempName + " to disk: " + ErrnoText(errno);
    }
    if (std::fclose(f) != 0 && problem.empty()) problem = "cannot close " + tempName + ": " + ErrnoText(errno);
    if (problem.empty()) {
        if (exists) fs::permissions(temp, old.permissions(), ec);
        fs::rename(temp, target, ec);
        if (ec) problem = "cannot replace " + target.string() + ": " + ec.message();
    }
    if (!problem.empty()) {
        fs::remove(temp, ec);
        return {false, problem};
    }
    return {};
}

#else

namespace {

bool WriteAt(int fd, std::string_view bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadWhole(int fd, std::size_t size, std::string& out) {
    out.assign(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out.data() + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Makes a rename durable; best effort, a failure here loses nothing that was there before.
void SyncFolderOf(const std::string& file) {
    const fs::path folder = fs::path(file).parent_path();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool RefusedByFolder(int err) {
    return err == EACCES || err == EPERM;
}

enum class TempOutcome {
    Written,      // the target now holds the bytes
    Failed,       // nothing changed; problem says why
    NeedsInPlace, // nothing changed, but the file may still be written in place
};

// Writes the bytes to a new file beside target and renames it over target. old: the existing file's status, if any.
TempOutcome WriteThroughTemp(const std::string& target, const struct stat* old, std::string_view bytes,
                             std::string& problem) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TempName(target);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int err = errno;
        problem = "cannot create " + temp + ": " + ErrnoText(err);
        return old && RefusedByFolder(err) ? TempOutcome::NeedsInPlace : TempOutcome::Failed;
    }

    int err = 0;
    bool keepsOwner = true;
    if (!WriteAt(fd, bytes, 0)) {
        err = errno;
    } else if (old) {
        // The new file takes the old one's owner, group and permissions; where the owner or group cannot be given
        // (another user's file that this user may write), the file is written in place instead.
        struct stat now {};
        if (::fstat(fd, &now) != 0 ||
            ((now.st_uid != old->st_uid || now.st_gid != old->st_gid) && ::fchown(fd, old->st_uid, old->st_gid) != 0))
            keepsOwner = false;
        else if (::fchmod(fd, old->st_mode & 07777) != 0)
            keepsOwner = false;
    }
    if (err == 0 && keepsOwner && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0 || !keepsOwner) {
        ::unlink(temp.c_str());
        if (!keepsOwner) return TempOutcome::NeedsInPlace;
        problem = "cannot write " + temp + ": " + ErrnoText(err) + (old ? "; the file is left as it was" : "");
        return TempOutcome::Failed;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        err = errno;
        ::unlink(temp.c_str());
        problem = "cannot replace " + target + ": " + ErrnoText(err);
        // A sticky folder lets a user create files but not replace another user's.
        return old && RefusedByFolder(err) ? TempOutcome::NeedsInPlace : TempOutcome::Failed;
    }
    SyncFolderOf(target);
    return TempOutcome::Written;
}

// Rewrites the open file fd in place, as the header describes.
FileWriteResult WriteInPlace(int fd, bool readable, const std::string& name, std::string_view bytes) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {false, "cannot write " + name + ": " + ErrnoText(errno)};
    if (!S_ISREG(st.st_mode)) return {false, name + " is not a regular file: not written"};
    const auto oldSize = static_cast<std::size_t>(st.st_size);
    std::string old;
    const bool haveOld = readable && ReadWhole(fd, oldSize, old);
    if (bytes.size() > oldSize) {
        const int err = ::posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
        if (err != 0 && err != EOPNOTSUPP && err != EINVAL) {
            // No byte of the content has changed; only the size may have, which is put back.
            const bool sizeKept = ::ftruncate(fd, static_cast<off_t>(oldSize)) == 0;
            return {false, "cannot write " + name + ": " + ErrnoText(err) +
                               (sizeKept ? "; the file is left as it was" : "; the file keeps its content")};
        }
    }
    int err = 0;
    if (!WriteAt(fd, bytes, 0) || ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 || ::fsync(fd) != 0)
        err = errno;
    if (err == 0) return {};
    const std::string problem = "cannot write " + name + " in place: " + ErrnoText(err);
    if (haveOld && WriteAt(fd, old, 0) && ::ftruncate(fd, static_cast<off_t>(oldSize)) == 0 && ::fsync(fd) == 0)
        return {false, problem + "; its old content was put back"};
    return {false, problem + "; the file may be damaged"};
}

} // namespace

FileWriteResult WriteWholeFile(const std::string& path, std::string_view bytes) {
    fs::path resolved;
    std::string problem;
    if (!ResolveLinks(path, resolved, problem)) return {false, problem};
    const std::string target = resolved.string();

    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return {false, "cannot write " + target + ": " + ErrnoText(errno)};
    if (exists && !S_ISREG(st.st_mode)) return {false, target + " is not a regular file: not written"};
    // The file's own permissions decide, as a write to it would check them (for the effective user, ACLs included).
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM || err == EROFS)
            return {false, "cannot write " + target + ": the file is read-only; it is left as it was"};
        return {false, "cannot write " + target + ": " + ErrnoText(err)};
    }

    switch (WriteThroughTemp(target, exists ? &st : nullptr, bytes, problem)) {
    case TempOutcome::Written:
        return {};
    case TempOutcome::Failed:
        return {false, problem};
    case TempOutcome::NeedsInPlace:
        break;
    }

    bool readable = true;
    int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 && errno == EACCES) {
        readable = false; // a file that may be written but not read: no copy of the old content
        fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    }
    if (fd < 0) return {false, "cannot write " + target + ": " + ErrnoText(errno) + "; the file is left as it was"};
    FileWriteResult result = WriteInPlace(fd, readable, target, bytes);
    if (::close(fd) != 0 && result.ok) result = {false, "cannot write " + target + ": " + ErrnoText(errno)};
    return result;
}

#endif

} // namespace quillet
