// The private runtime directory: a private XDG_RUNTIME_DIR is kept, anything else is replaced by a directory of
// our own, and a name someone else controls (a symbolic link, another user's directory) is never used.
#include "app/runtime_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace quillet::app {
namespace {

namespace fs = std::filesystem;

class RuntimeDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillet-runtime-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        base = pattern;
        ours = base + "/quillet-runtime-" + std::to_string(geteuid());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(base, ec);
    }
    static mode_t Mode(const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    std::string Make(const std::string& name, mode_t mode) {
        const std::string path = base + "/" + name;
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
        EXPECT_EQ(chmod(path.c_str(), mode), 0);
        return path;
    }

    std::string base, ours;
};

TEST_F(RuntimeDirTest, PrivateValueIsKeptAnythingElseGetsOurOwnPrivateDirectory) {
    const std::string good = Make("good", 0700);
    EXPECT_EQ(ChoosePrivateRuntimeDir(good.c_str(), base), std::nullopt);
    EXPECT_FALSE(fs::exists(ours)) << "made a directory although the current one is fine";

    const std::string open = Make("open", 0755);
    const std::string link = base + "/link";
    ASSERT_EQ(symlink(good.c_str(), link.c_str()), 0);
    const std::string missing = base + "/missing";
    const char* unusable[] = {nullptr, "", open.c_str(), link.c_str(), missing.c_str()};
    for (const char* current : unusable) {
        SCOPED_TRACE(current != nullptr ? current : "(unset)");
        EXPECT_EQ(ChoosePrivateRuntimeDir(current, base), ours);
        EXPECT_TRUE(IsPrivateRuntimeDir(ours));
    }
    EXPECT_EQ(Mode(open), 0755u) << "changed a directory that was only looked at";

    // Ours, with its mode changed in the meantime: put right.
    ASSERT_EQ(chmod(ours.c_str(), 0775), 0);
    EXPECT_EQ(ChoosePrivateRuntimeDir(nullptr, base), ours);
    EXPECT_EQ(Mode(ours), 0700u);
}

TEST_F(RuntimeDirTest, NameTakenBySomeoneElseIsRefused) {
    // A symbolic link in our directory's place, even to a directory of ours: never followed or changed.
    const std::string target = Make("target", 0755);
    ASSERT_EQ(symlink(target.c_str(), ours.c_str()), 0);
    EXPECT_EQ(ChoosePrivateRuntimeDir(nullptr, base), std::nullopt);
    EXPECT_EQ(Mode(target), 0755u);
    ASSERT_EQ(unlink(ours.c_str()), 0);

    // A plain file in its place.
    ASSERT_EQ(close(creat(ours.c_str(), 0600)), 0);
    EXPECT_EQ(ChoosePrivateRuntimeDir(nullptr, base), std::nullopt);
    ASSERT_EQ(unlink(ours.c_str()), 0);

    // No folder to make it in.
    EXPECT_EQ(ChoosePrivateRuntimeDir(nullptr, base + "/missing"), std::nullopt);

    // Another user's directory (only root can make one here).
    if (geteuid() == 0) {
        ASSERT_EQ(mkdir(ours.c_str(), 0700), 0);
        ASSERT_EQ(chown(ours.c_str(), 65534, 65534), 0);
        EXPECT_EQ(ChoosePrivateRuntimeDir(nullptr, base), std::nullopt);
        EXPECT_FALSE(IsPrivateRuntimeDir(ours));
    }
}

} // namespace
} // namespace quillet::app
