#include "model/library_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "model/cp949.h"
#include "ordinary_user.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillet {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------------------------
// Helpers

int32_t GetInt32(const std::string& b, std::size_t at) {
    return static_cast<int32_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8) |
                                (static_cast<uint8_t>(b[at + 2]) << 16) |
                                (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24));
}

void PutInt32(std::string& b, std::size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / ("quillet-libfile-" + std::string(info->test_suite_name()) + "-" +
                                             info->name() + "-" + std::to_string(static_cast<long long>(getpid())));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path operator/(const std::string& name) const { return path_ / name; }
    const fs::path& path() const { return path_; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        return names;
    }

private:
    fs::path path_;
};

Macro MacroWith(std::string name, std::vector<MacroItem> items) {
    Macro m = MakeNewMacro(std::move(name));
    for (auto& it : items) m.items.push_back(std::move(it));
    return m;
}

void ExpectSameLibrary(const MacroLibrary& a, const MacroLibrary& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(a[i].SameContent(b[i])) << "macro " << i;
}

// Every item type with values in every field, including ones the editor never writes.
Macro EveryItemMacro() {
    Macro m;
    m.name = Utf8ToCp949("모든 항목");
    m.startKey = 0x41 | KeyCtrl | KeyExactModifiers;
    m.stopKey = 0x1B | KeyRelease;
    m.startTime = 3599;
    m.stopTime = 86399;
    m.startColor = MakeColor(1, 2, 3);
    m.stopColor = MakeColor(255, 254, 253);
    m.colorTolerance = 255;
    m.startColorPos = PackPoint(-5, 1080);
    m.stopColorPos = PackPoint(32767, -32768);
    m.flags = static_cast<int32_t>(0xFFFF3FFEu);
    m.imagePath = "C:\\images\\" + Utf8ToCp949("버튼") + ".png";
    m.imageOptions = 80 | ImageMoveMouse;
    m.imageRectStart = PackPoint(10, 20);
    m.imageRectEnd = PackPoint(1910, 1060);
    m.items.emplace_back();
    m.items.push_back(MakeKeyItem(0x15, ActionPress | ActionRelease | ActionHangul | ActionExtended, 0xF2));
    m.items.push_back(MakeMouseItem(PosStartCursor, PosStartCursor, MouseMove | MouseAbsolute | MouseLeftDown));
    m.items.push_back(MakeMouseItem(0, 0, MouseWheel | static_cast<int32_t>(static_cast<uint32_t>(-240) << 16)));
    m.items.push_back(MakeDelayItem(86400000, DelayTime, 10));
    m.items.push_back(MakeDelayItem(3723000, DelayClock | (3 << 1)));
    m.items.push_back(MakeDelayItem(0x0D | KeyShift, DelayKey));
    m.items.push_back(MakeDelayItem(MakeColor(9, 8, 7) | (20 << 24), DelayColor, PackPoint(100, 200)));
    m.items.push_back(MakeStringItem(Utf8ToCp949("안녕하세요 \r\n두 번째 줄  "), TextRandom | TextSequence));
    m.items.push_back(MakeStringItem(std::string("nul\0and\xff\x80 bytes", 16), TextComment));
    m.items.push_back(MakeStringItem(""));
    m.items.push_back(MakeCallItem(Utf8ToCp949("다른 매크로"), CallParallel));
    m.items.push_back(MakeExclusiveItem(true));
    m.items.push_back(MakeExclusiveItem(false));
    m.items.push_back(MakeLoopItem(LoopEnter, -3, 100, -50));
    m.items.push_back(MakeLoopItem(LoopOutputKeys | LoopAskUser));
    // A leave with stale derived values: stored and loaded as they are, relinked only before a run.
    m.items.push_back(MakeLoopItem(LoopLeave, 7, 99, 98));
    MacroItem unknown;
    unknown.type = 9;
    unknown.param = {1, -2, 3};
    m.items.push_back(unknown);
    return m;
}

// ---------------------------------------------------------------------------------------------------------------
// Stored form

TEST(LibraryFileFormat, EmptyLibraryIsFourZeroBytes) {
    const std::string bytes = SerializeMacroLibrary({});
    EXPECT_EQ(bytes, std::string(4, '\0'));
    MacroLibrary lib(2);
    const LoadResult r = ParseMacroLibrary(bytes, lib);
    EXPECT_TRUE(r.ok()) << r.problem;
    EXPECT_TRUE(lib.empty());
}

TEST(LibraryFileFormat, EditorMacroIs596BytesExactly) {
    std::string expected;
    const auto i32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) expected += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    i32(1);
    expected += 'A';
    expected += std::string(255, '\0');
    i32(0x71);
    i32(0x72);
    for (int i = 0; i < 4; ++i) i32(0);
    i32(10);
    i32(0);
    i32(0);
    i32(0x10024);
    expected += std::string(256, '\0');
    i32(95);
    i32(0);
    i32(0);
    i32(1);
    expected += std::string(24, '\0');
    ASSERT_EQ(expected.size(), 596u);
    EXPECT_EQ(SerializeMacroLibrary({MakeNewMacro("A")}), expected);
}

TEST(LibraryFileFormat, StringAndCallItemLayout) {
    Macro m;
    m.name = "A";
    m.items.emplace_back();
    m.items.push_back(MakeStringItem("hi", TextSequence));
    m.items[1].param[2] = 0x12345678; // the buffer slot: never stored
    const std::string bytes = SerializeMacroLibrary({m});
    ASSERT_EQ(bytes.size(), 622u);
    const std::size_t item = 4 + 568 + 24;
    EXPECT_EQ(GetInt32(bytes, item), ItemString);
    EXPECT_EQ(GetInt32(bytes, item + 8), 2);
    EXPECT_EQ(GetInt32(bytes, item + 12), TextSequence);
    EXPECT_EQ(bytes.substr(item + 16, 8), std::string(8, '\0'));
    EXPECT_EQ(bytes.substr(620), "hi");

    // A string of length 1 adds 25 bytes, a call 280, with the called name NUL-padded after its record.
    Macro withOne = m;
    withOne.items.resize(1);
    const std::size_t base = SerializeMacroLibrary({withOne}).size();
    withOne.items.push_back(MakeStringItem("x"));
    EXPECT_EQ(SerializeMacroLibrary({withOne}).size(), base + 25);
    withOne.items.pop_back();
    MacroItem call = MakeCallItem("Target", CallStop);
    call.param[0] = call.param[1] = -1; // the buffer slot: never stored
    withOne.items.push_back(call);
    const std::string withCall = SerializeMacroLibrary({withOne});
    ASSERT_EQ(withCall.size(), base + 280);
    const std::size_t c = 4 + 568 + 24;
    EXPECT_EQ(GetInt32(withCall, c), ItemCall);
    EXPECT_EQ(withCall.substr(c + 4, 12), std::string(12, '\0'));
    EXPECT_EQ(GetInt32(withCall, c + 16), CallStop);
    EXPECT_EQ(GetInt32(withCall, c + 20), 0);
    EXPECT_EQ(withCall.substr(c + 24, 256), "Target" + std::string(250, '\0'));
}

TEST(LibraryFileFormat, EveryItemTypeRoundTripsThroughAFile) {
    TempDir dir;
    Macro longNames = MakeNewMacro(std::string(255, 'N'));
    longNames.imagePath = std::string(255, 'P');
    longNames.items.push_back(MakeCallItem(std::string(255, 'C'), CallSequential));
    MacroLibrary saved; // filled by moves: a copy would relink the loop
    saved.push_back(EveryItemMacro());
    saved.push_back(std::move(longNames));
    saved.emplace_back();
    const std::string file = (dir / "lib.m").string();
    const SaveResult s = SaveMacroLibrary(file, saved);
    ASSERT_TRUE(s.ok) << s.problem;

    MacroLibrary loaded;
    const LoadResult r = LoadMacroLibrary(file, loaded);
    ASSERT_TRUE(r.ok()) << r.problem;
    EXPECT_EQ(r.macrosRead, 3u);
    ExpectSameLibrary(saved, loaded);
    EXPECT_EQ(loaded[0].items[16].loopStart(), 99) << "loading does not relink loops";
    EXPECT_EQ(loaded[0].items[8].text(), Utf8ToCp949("안녕하세요 \r\n두 번째 줄  "));
    EXPECT_EQ(loaded[0].items[9].textLength(), 16);
    EXPECT_EQ(loaded[1].name.size(), 255u);
    EXPECT_EQ(ReadFile(file), SerializeMacroLibrary(loaded));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"lib.m"}) << "no temporary file is left";
}

TEST(LibraryFileFormat, ReservedBytesAreIgnoredWhenReading) {
    std::string bytes = SerializeMacroLibrary({EveryItemMacro()});
    // Fill every reserved word and buffer slot with junk.
    std::size_t at = 4 + 568;
    for (const MacroItem& it : EveryItemMacro().items) {
        PutInt32(bytes, at + 4, -1);
        if (it.type == ItemString) {
            PutInt32(bytes, at + 16, 0x11111111);
            PutInt32(bytes, at + 20, 0x22222222);
            at += 24 + it.text().size();
        } else if (it.type == ItemCall) {
            PutInt32(bytes, at + 8, 0x33333333);
            PutInt32(bytes, at + 12, 0x44444444);
            PutInt32(bytes, at + 20, 0x55555555);
            at += 24 + 256;
        } else {
            PutInt32(bytes, at + 20, 0x66666666);
            at += 24;
        }
    }
    ASSERT_EQ(at, bytes.size());
    MacroLibrary lib;
    ASSERT_TRUE(ParseMacroLibrary(bytes, lib).ok());
    ExpectSameLibrary(lib, {EveryItemMacro()});
}

TEST(LibraryFileFormat, NamesWithoutNulAreCutAt255Bytes) {
    Macro m = MakeNewMacro("x");
    m.items.push_back(MakeCallItem("y", CallSequential));
    std::string bytes = SerializeMacroLibrary({m});
    const std::size_t name = 4, path = 4 + 256 + 40, called = 4 + 568 + 24 + 24;
    bytes.replace(name, 256, std::string(256, 'n'));
    bytes.replace(path, 256, std::string(256, 'p'));
    bytes.replace(called, 256, std::string(256, 'c'));
    MacroLibrary lib;
    const LoadResult r = ParseMacroLibrary(bytes, lib);
    ASSERT_TRUE(r.ok()) << r.problem;
    EXPECT_EQ(lib[0].name, std::string(255, 'n'));
    EXPECT_EQ(lib[0].imagePath, std::string(255, 'p'));
    EXPECT_EQ(lib[0].items[1].calledName(), std::string(255, 'c'));
    // Bytes after a NUL are junk, not part of the name.
    bytes.replace(name, 4, std::string("ab\0z", 4));
    ASSERT_TRUE(ParseMacroLibrary(bytes, lib).ok());
    EXPECT_EQ(lib[0].name, "ab");
}

TEST(LibraryFileFormat, DuplicateNamesLoadAsTheyAre) {
    MacroLibrary lib;
    ASSERT_TRUE(ParseMacroLibrary(SerializeMacroLibrary({MakeNewMacro("Same"), MakeNewMacro("Same")}), lib).ok());
    ASSERT_EQ(lib.size(), 2u);
    EXPECT_EQ(lib[1].name, "Same");
}

// ---------------------------------------------------------------------------------------------------------------
// Damaged and foreign files

struct DamageCase {
    const char* what;
    std::string bytes;
    std::size_t macrosKept;
    int64_t offset;
};

TEST(LibraryFileDamage, EveryKindOfLieIsReportedWithTheWholeMacrosBeforeIt) {
    Macro first = MakeNewMacro("first");
    first.items.push_back(MakeStringItem("abc"));
    Macro second = MakeNewMacro("second");
    second.items.push_back(MakeStringItem("text"));
    second.items.push_back(MakeCallItem("first", CallSequential));
    const std::string good = SerializeMacroLibrary({first, second});
    const std::size_t secondAt = 4 + 568 + 24 + 24 + 3;
    const std::size_t itemCountAt = secondAt + 564;
    const std::size_t stringAt = secondAt + 568 + 24;
    const std::size_t callAt = stringAt + 24 + 4;
    ASSERT_EQ(good.size(), callAt + 24 + 256);

    const auto patched = [&](std::size_t at, int32_t v) {
        std::string b = good;
        PutInt32(b, at, v);
        return b;
    };
    const std::vector<DamageCase> cases = {
        {"empty file", "", 0, 0},
        {"cut macro count", std::string(3, '\0'), 0, 0},
        {"negative macro count", patched(0, -1), 0, 0},
        {"huge macro count", patched(0, INT32_MAX), 2, static_cast<int64_t>(good.size())},
        {"macro count one too many", patched(0, 3), 2, static_cast<int64_t>(good.size())},
        {"file ends inside a macro header", good.substr(0, secondAt + 300), 1, static_cast<int64_t>(secondAt)},
        {"negative item count", patched(itemCountAt, -2), 1, static_cast<int64_t>(itemCountAt)},
        {"huge item count", patched(itemCountAt, 0x10000000), 1, static_cast<int64_t>(itemCountAt)},
        {"item count one too many", good.substr(0, secondAt + 568 + 24 * 2), 1, static_cast<int64_t>(itemCountAt)},
        {"file ends inside an item", good.substr(0, callAt + 20), 1, static_cast<int64_t>(callAt)},
        {"negative text length", patched(stringAt + 8, INT32_MIN), 1, static_cast<int64_t>(stringAt + 8)},
        {"text length past the end", patched(stringAt + 8, 100000), 1, static_cast<int64_t>(stringAt + 8)},
        {"file ends inside a called name", good.substr(0, good.size() - 1), 1, static_cast<int64_t>(callAt + 24)},
        {"trailing bytes", good + "junk", 2, static_cast<int64_t>(good.size())},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.what);
        MacroLibrary lib(5);
        const LoadResult r = ParseMacroLibrary(c.bytes, lib);
        EXPECT_EQ(r.status, LoadStatus::Damaged);
        EXPECT_EQ(r.macrosRead, c.macrosKept);
        ASSERT_EQ(lib.size(), c.macrosKept);
        if (c.macrosKept > 0) {
            EXPECT_TRUE(lib[0].SameContent(first));
        }
        if (c.macrosKept > 1) {
            EXPECT_TRUE(lib[1].SameContent(second));
        }
        EXPECT_FALSE(r.problem.empty());
        EXPECT_EQ(r.problem.find('\n'), std::string::npos);
        if (!c.bytes.empty() && c.bytes.size() >= 4) {
            EXPECT_EQ(r.offset, c.offset) << r.problem;
            EXPECT_NE(r.problem.find("offset " + std::to_string(c.offset)), std::string::npos) << r.problem;
        }
    }
}

TEST(LibraryFileDamage, LoadFromDiskReportsUnopenableAndDamage) {
    TempDir dir;
    MacroLibrary lib{MakeNewMacro("kept")};
    LoadResult r = LoadMacroLibrary((dir / "missing.m").string(), lib);
    EXPECT_EQ(r.status, LoadStatus::Unopenable);
    EXPECT_FALSE(r.problem.empty());
    ASSERT_EQ(lib.size(), 1u) << "an unopenable file leaves the library as it was";
    EXPECT_EQ(lib[0].name, "kept");

    r = LoadMacroLibrary(dir.path().string(), lib); // a directory
    EXPECT_EQ(r.status, LoadStatus::Unopenable);
    EXPECT_EQ(lib.size(), 1u);

    WriteFile(dir / "foreign.m", "PK\x03\x04 this is some other kind of file, much longer than four bytes");
    r = LoadMacroLibrary((dir / "foreign.m").string(), lib);
    EXPECT_EQ(r.status, LoadStatus::Damaged);
    EXPECT_TRUE(lib.empty());
}

#ifndef _WIN32
// Only regular files are read: a FIFO (which would block the load until some program writes to it) and a device are
// refused at once, leaving the library as it was.
TEST(LibraryFileDamage, OnlyRegularFilesAreRead) {
    TempDir dir;
    const fs::path fifo = dir / "fifo.m";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    MacroLibrary lib{MakeNewMacro("kept")};
    auto load = std::async(std::launch::async, [&] { return LoadMacroLibrary(fifo.string(), lib); });
    if (load.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Blocked in open: a writer that opens and closes the FIFO lets it go on, so the test can end.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        load.wait();
        FAIL() << "loading a FIFO blocked";
    }
    LoadResult r = load.get();
    EXPECT_EQ(r.status, LoadStatus::Unopenable);
    EXPECT_NE(r.problem.find("not a regular file"), std::string::npos) << r.problem;
    ASSERT_EQ(lib.size(), 1u);
    EXPECT_EQ(lib[0].name, "kept");

    r = LoadMacroLibrary("/dev/null", lib);
    EXPECT_EQ(r.status, LoadStatus::Unopenable);
    EXPECT_EQ(lib.size(), 1u);

    // A link to a regular file is read as the file.
    ASSERT_TRUE(SaveMacroLibrary((dir / "real.m").string(), {MakeNewMacro("A"), MakeNewMacro("B")}).ok);
    fs::create_symlink("real.m", dir / "link.m");
    EXPECT_TRUE(LoadMacroLibrary((dir / "link.m").string(), lib).ok());
    EXPECT_EQ(lib.size(), 2u);
}
#endif

TEST(LibraryFileDamage, FileReaderAgreesWithTheMemoryReader) {
    // Large enough for records and texts to straddle the file reader's 64 KiB window.
    MacroLibrary lib;
    for (int m = 0; m < 120; ++m) {
        Macro macro = MakeNewMacro("M" + std::to_string(m));
        for (int i = 0; i < 20; ++i) {
            macro.items.push_back(MakeStringItem(std::string(static_cast<std::size_t>((m * 37 + i) % 300), 's')));
            macro.items.push_back(MakeCallItem("M0", CallParallel));
        }
        if (m == 50) macro.items.push_back(MakeStringItem(std::string(150000, 'L')));
        lib.push_back(std::move(macro));
    }
    const std::string bytes = SerializeMacroLibrary(lib);
    ASSERT_GT(bytes.size(), 5u * 65536);
    TempDir dir;
    const fs::path file = dir / "big.m";
    for (std::size_t cut : {bytes.size(), bytes.size() - 1, bytes.size() / 2, std::size_t{65536 + 3},
                            std::size_t{2 * 65536 - 10}, std::size_t{4 + 568 + 100}}) {
        SCOPED_TRACE(cut);
        const std::string part = bytes.substr(0, cut);
        WriteFile(file, part);
        MacroLibrary fromFile, fromMemory;
        const LoadResult a = LoadMacroLibrary(file.string(), fromFile);
        const LoadResult b = ParseMacroLibrary(part, fromMemory);
        EXPECT_EQ(a.status, cut == bytes.size() ? LoadStatus::Ok : LoadStatus::Damaged);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.offset, b.offset);
        EXPECT_EQ(a.problem, b.problem);
        ExpectSameLibrary(fromFile, fromMemory);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Saving

TEST(LibraryFileSave, ReplacesTheOldFileAndKeepsItsPermissions) {
    TempDir dir;
    const fs::path file = dir / "macro.m";
    WriteFile(file, std::string(5000, 'x'));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    const MacroLibrary lib{MakeNewMacro("A")};
    const SaveResult s = SaveMacroLibrary(file.string(), lib);
    ASSERT_TRUE(s.ok) << s.problem;
    EXPECT_EQ(ReadFile(file), SerializeMacroLibrary(lib));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"macro.m"});
}

TEST(LibraryFileSave, ThroughASymlinkReplacesTheTarget) {
    TempDir dir;
    WriteFile(dir / "real.m", "old");
    fs::create_symlink("real.m", dir / "link.m");
    ASSERT_TRUE(SaveMacroLibrary((dir / "link.m").string(), {MakeNewMacro("A")}).ok);
    EXPECT_TRUE(fs::is_symlink(dir / "link.m"));
    EXPECT_EQ(ReadFile(dir / "real.m").size(), 596u);

    // A chain of links, the last one dangling: the file is created where the chain ends, and the links stay.
    fs::create_directory(dir / "sub");
    fs::create_symlink("sub/chain.m", dir / "first.m");
    fs::create_symlink("missing.m", dir / "sub" / "chain.m");
    ASSERT_TRUE(SaveMacroLibrary((dir / "first.m").string(), {MakeNewMacro("B")}).ok);
    EXPECT_TRUE(fs::is_symlink(dir / "first.m"));
    EXPECT_TRUE(fs::is_symlink(dir / "sub" / "chain.m"));
    EXPECT_TRUE(ReadFile(dir / "sub" / "missing.m") == SerializeMacroLibrary({MakeNewMacro("B")}));
}

TEST(LibraryFileSave, FailuresReportAndLeaveWhatWasThere) {
    TempDir dir;
    const MacroLibrary lib{MakeNewMacro("A")};

    SaveResult s = SaveMacroLibrary((dir / "no-such-dir" / "macro.m").string(), lib);
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.problem.find("no-such-dir"), std::string::npos) << s.problem;

    // A directory in the way: the data is written but cannot replace it.
    fs::create_directory(dir / "taken.m");
    WriteFile(dir / "taken.m" / "inside", "keep");
    s = SaveMacroLibrary((dir / "taken.m").string(), lib);
    EXPECT_FALSE(s.ok);
    EXPECT_FALSE(s.problem.empty());
    EXPECT_EQ(ReadFile(dir / "taken.m" / "inside"), "keep");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"taken.m"}) << "the temporary file is removed";
}

#ifndef _WIN32
// A full disk while writing: simulated with a file size limit, which makes the write fail with EFBIG.
TEST(LibraryFileSave, AFailedWriteLeavesTheOldFileIntact) {
    TempDir dir;
    const fs::path file = dir / "macro.m";
    const std::string old = SerializeMacroLibrary({MakeNewMacro("Old")});
    WriteFile(file, old);
    MacroLibrary big;
    for (int i = 0; i < 20; ++i) big.push_back(MakeNewMacro("Macro " + std::to_string(i)));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 2000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveResult s = SaveMacroLibrary(file.string(), big);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.problem.find("write"), std::string::npos) << s.problem;
    EXPECT_EQ(ReadFile(file), old);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"macro.m"});
}
#endif

#ifndef _WIN32
// The file's own permissions decide whether it is saved, not its folder's: a read-only file is never replaced, and a
// writable file in a folder that takes no new files is rewritten in place. Saved as an ordinary user, since root may
// write anything.
TEST(LibraryFileSave, GoesByTheFilesPermissionsNotTheFolders) {
    using quillet::testing::AsOrdinaryUser;
    using quillet::testing::GiveToOrdinaryUser;
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const fs::path open = dir / "open";     // takes new files
    const fs::path closed = dir / "closed"; // does not
    fs::create_directory(open);
    fs::create_directory(closed);
    ASSERT_TRUE(GiveToOrdinaryUser(open.string()));
    fs::permissions(open, fs::perms::all);
    const std::string old = SerializeMacroLibrary({MakeNewMacro("Old")});
    const auto put = [&](const fs::path& file, fs::perms perms) {
        WriteFile(file, old);
        ASSERT_TRUE(GiveToOrdinaryUser(file.string()));
        fs::permissions(file, perms);
    };
    const auto save = [](const fs::path& file, const MacroLibrary& lib) {
        return AsOrdinaryUser([&] {
            const SaveResult r = SaveMacroLibrary(file.string(), lib);
            return std::pair{r.ok, r.problem};
        });
    };
    const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const auto mine = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    put(open / "ro.m", readOnly);
    put(closed / "macro.m", mine);
    put(closed / "ro.m", readOnly);
    fs::permissions(closed, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const MacroLibrary two{MakeNewMacro("A"), MakeNewMacro("B")};

    // A read-only file in a folder the user may write to: refused, the old file kept as it was.
    auto [ok, problem] = save(open / "ro.m", two);
    EXPECT_FALSE(ok);
    EXPECT_NE(problem.find("read-only"), std::string::npos) << problem;
    EXPECT_TRUE(ReadFile(open / "ro.m") == old);
    EXPECT_EQ(fs::status(open / "ro.m").permissions(), readOnly);

    // A writable file in a folder that takes no new files: the same file is rewritten, longer and then shorter.
    struct stat before {};
    ASSERT_EQ(::stat((closed / "macro.m").c_str(), &before), 0);
    std::tie(ok, problem) = save(closed / "macro.m", two);
    EXPECT_TRUE(ok) << problem;
    EXPECT_TRUE(ReadFile(closed / "macro.m") == SerializeMacroLibrary(two));
    std::tie(ok, problem) = save(closed / "macro.m", {MakeNewMacro("C")});
    EXPECT_TRUE(ok) << problem;
    EXPECT_TRUE(ReadFile(closed / "macro.m") == SerializeMacroLibrary({MakeNewMacro("C")}));
    struct stat after {};
    ASSERT_EQ(::stat((closed / "macro.m").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(fs::status(closed / "macro.m").permissions(), mine);

    // There, a read-only file and a new file are refused alike.
    std::tie(ok, problem) = save(closed / "ro.m", two);
    EXPECT_FALSE(ok);
    EXPECT_NE(problem.find("read-only"), std::string::npos) << problem;
    EXPECT_TRUE(ReadFile(closed / "ro.m") == old);
    std::tie(ok, problem) = save(closed / "new.m", two);
    EXPECT_FALSE(ok);
    EXPECT_NE(problem.find("new.m"), std::string::npos) << problem;
    EXPECT_FALSE(fs::exists(closed / "new.m"));

    // A file that would outgrow a size limit while rewritten in place fails before any byte of it changes.
    const std::string current = ReadFile(closed / "macro.m");
    MacroLibrary big;
    for (int i = 0; i < 20; ++i) big.push_back(MakeNewMacro("Macro " + std::to_string(i)));
    std::tie(ok, problem) = AsOrdinaryUser([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{2000, 2000};
        setrlimit(RLIMIT_FSIZE, &small);
        const SaveResult r = SaveMacroLibrary((closed / "macro.m").string(), big);
        return std::pair{r.ok, r.problem};
    });
    EXPECT_FALSE(ok);
    EXPECT_NE(problem.find("left as it was"), std::string::npos) << problem;
    EXPECT_TRUE(ReadFile(closed / "macro.m") == current);

    // Another user's file that this user may write, in this user's folder: rewritten, keeping its owner.
    if (::geteuid() == 0) {
        WriteFile(open / "shared.m", old);
        fs::permissions(open / "shared.m",
                        fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec & ~fs::perms::others_exec);
        std::tie(ok, problem) = save(open / "shared.m", two);
        EXPECT_TRUE(ok) << problem;
        EXPECT_TRUE(ReadFile(open / "shared.m") == SerializeMacroLibrary(two));
        struct stat shared {};
        ASSERT_EQ(::stat((open / "shared.m").c_str(), &shared), 0);
        EXPECT_EQ(shared.st_uid, 0u);
    }
    EXPECT_EQ(dir.Names().size(), 2u);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(closed)) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"macro.m", "ro.m"})) << "no temporary file is left";
    fs::permissions(closed, fs::perms::owner_all);
}
#endif

// ---------------------------------------------------------------------------------------------------------------
// List operations

MacroLibrary Named(std::initializer_list<const char*> names) {
    MacroLibrary lib;
    for (const char* n : names) lib.push_back(MakeNewMacro(n));
    return lib;
}

std::vector<std::string> NamesOf(const MacroLibrary& lib) {
    std::vector<std::string> names;
    for (const Macro& m : lib) names.push_back(m.name);
    return names;
}

TEST(MacroList, AppendAndReplaceStoreResetDeepCopies) {
    MacroLibrary lib = Named({"A"});
    Macro src = MacroWith("S", {MakeStringItem("text")});
    src.runPos = 1;
    AppendMacro(lib, src);
    ASSERT_EQ(lib.size(), 2u);
    EXPECT_EQ(lib[1].runPos, -1);
    lib[1].items[1].setText("changed");
    EXPECT_EQ(src.items[1].text(), "text");

    // Appending an entry of the library itself, with the vector at capacity.
    lib.shrink_to_fit();
    AppendMacro(lib, lib[0]);
    EXPECT_EQ(NamesOf(lib), (std::vector<std::string>{"A", "S", "A"}));

    lib[0].runPos = 0;
    lib[0].loopCounters = {3};
    ReplaceMacro(lib, 0, src);
    EXPECT_EQ(lib[0].name, "S");
    EXPECT_EQ(lib[0].runPos, -1);
    EXPECT_TRUE(lib[0].loopCounters.empty());
    ReplaceMacro(lib, 3, src);
    ReplaceMacro(lib, -1, src);
    EXPECT_EQ(lib.size(), 3u);
}

TEST(MacroList, CopyTakesTheSmallestFreeNumber) {
    MacroLibrary lib = Named({"Base"});
    CopyMacro(lib, 0);
    CopyMacro(lib, 0);
    EXPECT_EQ(NamesOf(lib), (std::vector<std::string>{"Base", "Macro Copy 1", "Macro Copy 2"}));
    DeleteMacro(lib, 1);
    CopyMacro(lib, 0);
    EXPECT_EQ(NamesOf(lib), (std::vector<std::string>{"Base", "Macro Copy 2", "Macro Copy 1"}));
    EXPECT_TRUE(lib[2].items == lib[0].items);
    CopyMacro(lib, 3);
    CopyMacro(lib, -1);
    EXPECT_EQ(lib.size(), 3u);
}

TEST(MacroList, DeleteShiftsLaterEntriesAndResetsThem) {
    MacroLibrary lib = Named({"A", "B", "C"});
    lib[0].runPos = lib[2].runPos = 1;
    DeleteMacro(lib, 1);
    EXPECT_EQ(NamesOf(lib), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(lib[0].runPos, 1) << "entries before the deleted one are untouched";
    EXPECT_EQ(lib[1].runPos, -1);
    DeleteMacro(lib, 2);
    DeleteMacro(lib, -1);
    EXPECT_EQ(lib.size(), 2u);
    DeleteMacro(lib, 1);
    DeleteMacro(lib, 0);
    EXPECT_TRUE(lib.empty());
}

TEST(MacroList, MovesExchangeNeighboursAndDoNothingAtTheEnds) {
    MacroLibrary lib = Named({"A", "B", "C"});
    lib[1].runPos = 1;
    EXPECT_FALSE(MoveMacroUp(lib, 0));
    EXPECT_FALSE(MoveMacroDown(lib, 2));
    EXPECT_FALSE(MoveMacroUp(lib, 3));
    EXPECT_FALSE(MoveMacroDown(lib, -1));
    EXPECT_EQ(NamesOf(lib), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(lib[1].runPos, 1);

    EXPECT_TRUE(MoveMacroUp(lib, 1));
    EXPECT_EQ(NamesOf(lib), (std::vector<std::string>{"B", "A", "C"}));
    EXPECT_EQ(lib[0].runPos, -1);
    EXPECT_TRUE(MoveMacroDown(lib, 1));
    EXPECT_EQ(NamesOf(lib), (std::vector<std::string>{"B", "C", "A"}));

    MacroLibrary one = Named({"only"});
    EXPECT_FALSE(MoveMacroUp(one, 0));
    EXPECT_FALSE(MoveMacroDown(one, 0));
}

// ---------------------------------------------------------------------------------------------------------------
// Bundled files: the example library and the fuzz corpus are made here. Run with QUILLET_WRITE_SAMPLES=1 to
// rewrite them after a deliberate change (QUILLET_WRITE_SAMPLES=1 model_tests --gtest_filter='BundledLibraries.*').

const fs::path kSourceRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();

MacroLibrary DemoLibrary() {
    const std::string greeting = Utf8ToCp949("인사말");
    const std::string counter = Utf8ToCp949("카운터");

    Macro hello = MakeNewMacro(greeting);
    hello.startKey = 0x74; // F5
    hello.items.push_back(MakeStringItem("Hello, Quillet! "));
    hello.items.push_back(MakeStringItem(Utf8ToCp949("안녕하세요")));
    hello.items.push_back(MakeKeyItem(0x0D, ActionPress | ActionRelease));

    Macro count = MakeNewMacro(counter);
    count.startKey = 0x75; // F6
    count.items.push_back(MakeLoopItem(LoopEnter, 1, 1, 5));
    count.items.push_back(MakeLoopItem(LoopOutputKeys));
    count.items.push_back(MakeKeyItem(0x0D, ActionPress | ActionRelease));
    count.items.push_back(MakeDelayItem(300, DelayTime));
    count.items.push_back(MakeLoopItem(LoopLeave));
    ResetRunState(count);

    Macro calls = MakeNewMacro(Utf8ToCp949("차례로 호출"));
    calls.startKey = 0x76; // F7
    calls.items.push_back(MakeStringItem(Utf8ToCp949("두 매크로를 차례로 실행합니다"), TextComment));
    calls.items.push_back(MakeCallItem(greeting, CallSequential));
    calls.items.push_back(MakeDelayItem(500, DelayTime, 2));
    calls.items.push_back(MakeCallItem(counter, CallSequential));

    // It starts by itself at noon in whatever window has the focus, so it sends nothing: it waits out its clock
    // window, and shows in the run list (and, with the default options, in the tray balloon) while it does.
    Macro lunch = MakeNewMacro(Utf8ToCp949("점심 알림"));
    lunch.startKey = lunch.stopKey = 0;
    lunch.flags = 0x10000 | FlagTimeWindow | (3 << StartTimeFormShift) | (3 << StopTimeFormShift);
    lunch.startTime = 12 * 3600;
    lunch.stopTime = 12 * 3600 + 60;
    lunch.items.push_back(MakeStringItem(Utf8ToCp949("정오부터 1분간 실행 목록에 나타납니다. 입력은 보내지 않습니다"),
                                         TextComment)); // fits the 64 bytes that the item's text shows
    lunch.items.push_back(MakeDelayItem(60 * 1000, DelayTime));

    return {hello, count, calls, lunch};
}

std::vector<std::pair<std::string, MacroLibrary>> CorpusLibraries() {
    Macro hi;
    hi.name = "A";
    hi.items.emplace_back();
    hi.items.push_back(MakeStringItem("hi"));
    Macro small = EveryItemMacro();
    small.imagePath = "i.png";
    return {
        {"empty.m", {}},
        {"editor_macro.m", {MakeNewMacro("A")}},
        {"string_hi.m", {hi}},
        {"every_item.m", {small}},
        {"two_same_names.m", {MakeNewMacro("Same"), MacroWith("Same", {MakeCallItem("A", CallStop)})}},
    };
}

void CheckOrWrite(const fs::path& file, const std::string& bytes) {
    if (std::getenv("QUILLET_WRITE_SAMPLES") != nullptr) {
        fs::create_directories(file.parent_path());
        WriteFile(file, bytes);
    }
    EXPECT_EQ(ReadFile(file), bytes) << file << " differs from what this test makes";
    MacroLibrary lib;
    EXPECT_TRUE(LoadMacroLibrary(file.string(), lib).ok()) << file;
}

TEST(BundledLibraries, MatchTheirGenerators) {
    CheckOrWrite(kSourceRoot / "examples" / "demo.m", SerializeMacroLibrary(DemoLibrary()));
    for (const auto& [name, lib] : CorpusLibraries()) {
        CheckOrWrite(kSourceRoot / "fuzz" / "corpus" / "library" / name, SerializeMacroLibrary(lib));
    }
}

TEST(BundledLibraries, DemoMacrosAreWellFormedAndCallExistingMacros) {
    const MacroLibrary demo = DemoLibrary();
    for (const Macro& m : demo) {
        EXPECT_TRUE(IsWellFormed(m.items));
        for (const MacroItem& it : m.items) {
            if (it.type == ItemCall) {
                EXPECT_GE(FindMacroByName(demo, it.calledName()), 0);
            }
        }
    }
}

// True when running the macro can press a key, type, click, turn the wheel or move the mouse, itself or through
// the macros it calls (a stop call runs nothing).
bool SendsInput(const MacroLibrary& library, const Macro& macro, std::vector<const Macro*>& seen) {
    if (std::find(seen.begin(), seen.end(), &macro) != seen.end()) return false;
    seen.push_back(&macro);
    for (const MacroItem& it : macro.items) {
        switch (it.type) {
        case ItemKey:
            return true;
        case ItemString:
            if ((it.textFlags() & TextComment) == 0) return true;
            break;
        case ItemMouse:
            if ((it.mouseFlags() & ~MouseMove) != 0 || it.mouseX() != 0 || it.mouseY() != 0) return true;
            break;
        case ItemLoop:
            if (it.loopKind() == LoopOutputKeys) return true; // types the counter
            break;
        case ItemCall:
            if (it.callMode() != CallStop) {
                const int called = FindMacroByName(library, it.calledName());
                if (called >= 0 && SendsInput(library, library[called], seen)) return true;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

bool SendsInput(const MacroLibrary& library, const Macro& macro) {
    std::vector<const Macro*> seen;
    return SendsInput(library, macro, seen);
}

TEST(BundledLibraries, DemoMacrosThatStartByThemselvesSendNoInput) {
    // A new user's first run mode must not type into whatever window has the focus: only a hotkey, which the user
    // presses on purpose, may start a macro that sends keys, text or clicks.
    MacroLibrary demo;
    ASSERT_TRUE(LoadMacroLibrary((kSourceRoot / "examples" / "demo.m").string(), demo).ok());
    constexpr int32_t kStartsByItself = FlagAutoStart | FlagTimeWindow | FlagStartColor | FlagStartImage;
    int unattended = 0, senders = 0;
    for (const Macro& m : demo) {
        const bool sends = SendsInput(demo, m);
        senders += sends;
        if ((m.flags & kStartsByItself) == 0) continue;
        ++unattended;
        EXPECT_FALSE(sends) << Cp949ToUtf8(m.name) << " starts by itself and sends input";
    }
    EXPECT_GE(unattended, 1) << "the demo shows a clock window";
    EXPECT_GE(senders, 1) << "the check finds the hotkey macros that type";
}

} // namespace
} // namespace quillet
