// The one-per-folder lock: a second holder refused with the first one's process id, folders independent, the lock
// free again after its holder ends in any way (destroyed, SIGKILL), never inherited by programs the holder starts,
// and places it cannot use reported instead of followed or blocked on.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#else
#define NOMINMAX
#include <windows.h>
#endif

namespace quillet::platform {
namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "quillet-lock-XXXXXX").string();
#ifndef _WIN32
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#else
        path_ = fs::temp_directory_path() / ("quillet-lock-" + std::to_string(std::rand()));
        fs::create_directories(path_);
#endif
    }
    ~Folder() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const {
        return path_;
    }

private:
    fs::path path_;
};

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

long OwnPid() {
#ifndef _WIN32
    return static_cast<long>(getpid());
#else
    return static_cast<long>(GetCurrentProcessId());
#endif
}

TEST(InstanceLockTest, SecondHolderInTheSameFolderIsRefusedOtherFoldersAreIndependent) {
    Folder one, two;
    ASSERT_FALSE(one.path().empty());
    {
        InstanceLock first(one.path());
        ASSERT_EQ(first.status(), InstanceLockStatus::Acquired) << first.problem();
        EXPECT_EQ(first.path(), one.path() / kInstanceLockFileName);
        EXPECT_EQ(std::stol(ReadFile(first.path())), OwnPid());

        InstanceLock second(one.path());
        EXPECT_EQ(second.status(), InstanceLockStatus::HeldByOther);
        EXPECT_EQ(second.ownerPid(), OwnPid());
        EXPECT_TRUE(second.problem().empty());

        InstanceLock elsewhere(two.path());
        EXPECT_EQ(elsewhere.status(), InstanceLockStatus::Acquired) << elsewhere.problem();

        // A refused attempt leaves the holder's lock and file as they were.
        InstanceLock third(one.path());
        EXPECT_EQ(third.status(), InstanceLockStatus::HeldByOther);
        EXPECT_EQ(std::stol(ReadFile(first.path())), OwnPid());
    }
#ifndef _WIN32
    EXPECT_FALSE(fs::exists(one.path() / kInstanceLockFileName)) << "the lock file stays after a normal end";
#endif
    InstanceLock again(one.path());
    EXPECT_EQ(again.status(), InstanceLockStatus::Acquired) << again.problem();
}

// Holders that come and go as fast as they can, in three threads: the file is removed at every release, so a lock
// taken on a file that was removed in the meantime must not count. Never two holders at once.
TEST(InstanceLockTest, NeverTwoHoldersWhileHoldersComeAndGo) {
    Folder folder;
    std::atomic<int> holders{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> acquired{0};
    auto contend = [&] {
        for (int i = 0; i < 1000 && overlaps.load() == 0; ++i) {
            InstanceLock lock(folder.path());
            if (!lock.acquired()) continue;
            acquired.fetch_add(1);
            if (holders.fetch_add(1) != 0) overlaps.fetch_add(1);
            // Held across a few reschedules, so that the others' attempts fall inside and around the holding.
            for (int k = 0; k < 3; ++k) std::this_thread::yield();
            holders.fetch_sub(1);
        }
    };
    std::thread a(contend), b(contend), c(contend);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(acquired.load(), 0);
}

#ifndef _WIN32

// A child process that takes the lock, says so on a pipe, and then waits for ever.
struct Holder {
    pid_t pid = -1;
    ~Holder() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

TEST(InstanceLockTest, HolderKilledWithSigkillLeavesTheLockFree) {
    Folder folder;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    Holder holder;
    holder.pid = fork();
    ASSERT_GE(holder.pid, 0);
    if (holder.pid == 0) {
        close(ready[0]);
        InstanceLock lock(folder.path());
        const char state = lock.acquired() ? 'A' : 'X';
        if (write(ready[1], &state, 1) != 1) _exit(2);
        for (;;) pause();
    }
    close(ready[1]);
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    close(ready[0]);
    ASSERT_EQ(state, 'A');

    {
        InstanceLock refused(folder.path());
        EXPECT_EQ(refused.status(), InstanceLockStatus::HeldByOther);
        EXPECT_EQ(refused.ownerPid(), static_cast<long>(holder.pid));
    }

    ASSERT_EQ(kill(holder.pid, SIGKILL), 0);
    ASSERT_EQ(waitpid(holder.pid, nullptr, 0), holder.pid);
    holder.pid = -1;
    // The killed holder's file is still there, with its id: it must not matter.
    ASSERT_TRUE(fs::exists(folder.path() / kInstanceLockFileName));

    InstanceLock after(folder.path());
    EXPECT_EQ(after.status(), InstanceLockStatus::Acquired) << after.problem();
    EXPECT_EQ(std::stol(ReadFile(after.path())), OwnPid()) << "the stale id was not replaced";
}

TEST(InstanceLockTest, ProgramsStartedByTheHolderDoNotInheritTheLockFile) {
    Folder folder;
    InstanceLock lock(folder.path());
    ASSERT_TRUE(lock.acquired()) << lock.problem();
    int out[2], in[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(in), 0);
    Holder child;
    child.pid = fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", "echo x; read line", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    char x = 0;
    ASSERT_EQ(read(out[0], &x, 1), 1); // the shell runs: exec is done
    close(out[0]);

    const fs::path fds = "/proc/" + std::to_string(child.pid) + "/fd";
    std::error_code ec;
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(fds, ec)) {
        ++seen;
        EXPECT_NE(fs::read_symlink(entry.path(), ec), lock.path()) << "descriptor " << entry.path().filename();
    }
    EXPECT_GT(seen, 0) << fds << ": " << ec.message();
    close(in[1]); // the shell's read ends, and with it the shell
}

// Places the lock cannot use: reported as Unavailable with the file named, nothing followed, written or waited on.
TEST(InstanceLockTest, UnusablePlacesAreReportedNotFollowedOrWaitedOn) {
    Folder folder;
    const fs::path lockPath = folder.path() / kInstanceLockFileName;

    {
        InstanceLock missing(folder.path() / "no such folder");
        EXPECT_EQ(missing.status(), InstanceLockStatus::Unavailable);
        EXPECT_NE(missing.problem().find("no such folder"), std::string::npos) << missing.problem();
    }
    {
        std::ofstream(folder.path() / "file") << "x";
        InstanceLock notFolder(folder.path() / "file");
        EXPECT_EQ(notFolder.status(), InstanceLockStatus::Unavailable);
    }
    {
        const fs::path victim = folder.path() / "victim";
        std::ofstream(victim) << "precious";
        fs::create_symlink(victim, lockPath);
        InstanceLock link(folder.path());
        EXPECT_EQ(link.status(), InstanceLockStatus::Unavailable);
        EXPECT_NE(link.problem().find("symbolic link"), std::string::npos) << link.problem();
        EXPECT_EQ(ReadFile(victim), "precious");
        fs::remove(lockPath);
        // Dangling: not created through the link either.
        fs::create_symlink(folder.path() / "nowhere", lockPath);
        InstanceLock dangling(folder.path());
        EXPECT_EQ(dangling.status(), InstanceLockStatus::Unavailable);
        EXPECT_FALSE(fs::exists(folder.path() / "nowhere"));
        fs::remove(lockPath);
    }
    {
        fs::create_directory(lockPath);
        InstanceLock directory(folder.path());
        EXPECT_EQ(directory.status(), InstanceLockStatus::Unavailable);
        fs::remove(lockPath);
    }
    {
        ASSERT_EQ(mkfifo(lockPath.c_str(), 0600), 0);
        InstanceLock fifo(folder.path()); // must not block
        EXPECT_EQ(fifo.status(), InstanceLockStatus::Unavailable);
        fs::remove(lockPath);
    }
}

// A folder that cannot be written: without a lock file nothing can be locked; with one left there, it still
// locks (read-only) so two programs there still exclude each other.
TEST(InstanceLockTest, ReadOnlyFolder) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    Folder empty, withFile;
    std::ofstream(withFile.path() / kInstanceLockFileName) << "123\n";
    fs::permissions(withFile.path() / kInstanceLockFileName, fs::perms::owner_read);
    fs::permissions(empty.path(), fs::perms::owner_read | fs::perms::owner_exec);
    fs::permissions(withFile.path(), fs::perms::owner_read | fs::perms::owner_exec);

    InstanceLock none(empty.path());
    EXPECT_EQ(none.status(), InstanceLockStatus::Unavailable);
    EXPECT_NE(none.problem().find(kInstanceLockFileName), std::string::npos) << none.problem();

    InstanceLock first(withFile.path());
    EXPECT_EQ(first.status(), InstanceLockStatus::Acquired) << first.problem();
    InstanceLock second(withFile.path());
    EXPECT_EQ(second.status(), InstanceLockStatus::HeldByOther);
    EXPECT_EQ(second.ownerPid(), 123) << "the id in the file, which the read-only holder could not replace";
}

#endif

} // namespace
} // namespace quillet::platform
