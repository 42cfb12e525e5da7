#include "model/macro.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

Macro MacroWith(std::vector<MacroItem> items) {
    Macro m = MakeNewMacro("M");
    for (auto& it : items) m.items.push_back(std::move(it));
    return m;
}

TEST(MacroRecord, CopyGivesSeparateBuffersAndResetsRunState) {
    Macro src = MacroWith({MakeStringItem("hello"), MakeCallItem("Other", CallParallel)});
    src.runPos = 2;
    src.heldInputs[0x41] = 1;
    src.loopCounters = {5};
    Macro copy = src;
    EXPECT_EQ(copy.runPos, -1);
    EXPECT_EQ(copy.heldInputs[0x41], 0);
    EXPECT_TRUE(copy.loopCounters.empty());
    EXPECT_TRUE(copy.SameContent(src));
    copy.items[1].setText("changed");
    copy.items[2].setCalledName("X");
    EXPECT_EQ(src.items[1].text(), "hello");
    EXPECT_EQ(src.items[1].textLength(), 5);
    EXPECT_EQ(src.items[2].calledName(), "Other");
    EXPECT_EQ(src.runPos, 2) << "the source's run state is never touched";
}

TEST(MacroRecord, AssignOntoRunningMacroResetsIt) {
    Macro running = MacroWith({MakeKeyItem(0x41, 3)});
    running.runPos = 1;
    running.holdsExclusive = true;
    Macro other = MacroWith({MakeKeyItem(0x42, 3)});
    running = other;
    EXPECT_EQ(running.runPos, -1);
    EXPECT_FALSE(running.holdsExclusive);
    EXPECT_EQ(running.items[1].keyCode(), 0x42);
    Macro& self = running;
    running = self;
    EXPECT_EQ(running.items[1].keyCode(), 0x42);
}

TEST(MacroRecord, NamesAreCutAt255Bytes) {
    Macro m;
    m.name = std::string(255, 'n');
    Macro copy = m;
    EXPECT_EQ(copy.name.size(), 255u);
    m.name = std::string(256, 'n');
    copy = m;
    EXPECT_EQ(copy.name.size(), 255u);
    EXPECT_EQ(CutName(std::string_view("ab\0cd", 5)), "ab");
    MacroItem call = MakeCallItem(std::string(300, 'c'), CallStop);
    EXPECT_EQ(call.calledName().size(), 255u);
}

TEST(MacroRecord, PackedPointsClampAndSignExtend) {
    EXPECT_EQ(PackPoint(-5, 40), static_cast<int32_t>(0x0028FFFB));
    EXPECT_EQ(UnpackPoint(PackPoint(-5, 40)), (Point{-5, 40}));
    EXPECT_EQ(UnpackPoint(PackPoint(40000, -40000)), (Point{32767, -32768}));
}

TEST(MacroRecord, WheelAmountLivesInTheHighBitsOfMouseFlags) {
    MacroItem wheel = MakeMouseItem(0, 0, static_cast<int32_t>(0xFF880000u | MouseWheel | MouseXDown | MouseXUp));
    EXPECT_EQ(wheel.mouseData(), -120);
    MacroItem loop = MakeLoopItem(LoopEnter, -3, 10, 1);
    EXPECT_EQ(loop.loopKind(), LoopEnter);
    EXPECT_EQ(loop.loopStep(), -3);
    loop.setLoopKind(LoopEnter | LoopAskUser);
    EXPECT_EQ(loop.loopStep(), -3);
    EXPECT_EQ(loop.loopKind() & LoopKindMask, LoopEnter);
}

TEST(FindMacroByName, SkipsTheGivenIndexAndComparesBytes) {
    MacroLibrary lib(6);
    for (int i = 0; i < 6; ++i) lib[i].name = "m" + std::to_string(i);
    lib[3].name = "X";
    EXPECT_EQ(FindMacroByName(lib, "X", 3), -1);
    EXPECT_EQ(FindMacroByName(lib, "X", -1), 3);
    lib[5].name = "X";
    EXPECT_EQ(FindMacroByName(lib, "X", 3), 5);
    EXPECT_EQ(FindMacroByName(lib, "x"), -1);
}

TEST(FindMacroByName, UniqueNamesReuseTheSmallestFreeNumber) {
    MacroLibrary lib;
    EXPECT_EQ(UniqueMacroName(lib, "Macro Copy %d"), "Macro Copy 1");
    lib.push_back(MakeNewMacro("Macro Copy 1"));
    lib.push_back(MakeNewMacro("Macro Copy 3"));
    EXPECT_EQ(UniqueMacroName(lib, "Macro Copy %d"), "Macro Copy 2");
}

TEST(IsWellFormed, SectionsBalanceAndNeverInterleave) {
    const MacroItem start, enterL = MakeLoopItem(LoopEnter), leaveL = MakeLoopItem(LoopLeave);
    const MacroItem enterE = MakeExclusiveItem(true), leaveE = MakeExclusiveItem(false);
    const MacroItem output = MakeLoopItem(LoopOutputX);
    EXPECT_TRUE(IsWellFormed({}));
    EXPECT_TRUE(IsWellFormed({start, enterL, enterE, leaveE, leaveL}));
    EXPECT_FALSE(IsWellFormed({start, enterE, enterL, leaveE, leaveL}));
    EXPECT_FALSE(IsWellFormed({start, enterE, enterE, leaveE, leaveE}));
    EXPECT_FALSE(IsWellFormed({start, output}));
    EXPECT_TRUE(IsWellFormed({start, enterL, enterE, output, leaveE, leaveL}));
    EXPECT_FALSE(IsWellFormed({start, enterL, output}));
    EXPECT_FALSE(IsWellFormed({start, leaveE}));
    EXPECT_TRUE(IsWellFormed({start, enterE, leaveE, enterE, leaveE}));
    EXPECT_TRUE(IsWellFormed({start, MakeLoopItem(5)})) << "kinds 4..6 have no effect";
}

TEST(RelinkLoops, LeavesTakeTheirEntersValues) {
    Macro m = MacroWith({MakeLoopItem(LoopEnter, 5, 20, 50), MakeKeyItem(0x41, 3), MakeLoopItem(LoopLeave)});
    RelinkLoops(m);
    EXPECT_EQ(m.items[3].loopStep(), 5);
    EXPECT_EQ(m.items[3].loopStart(), 2);
    EXPECT_EQ(m.items[3].loopStop(), 50);
    EXPECT_EQ(m.items[3].loopKind(), LoopLeave);

    Macro nested = MacroWith({MakeLoopItem(LoopLeave, 9, 9, 9), MakeLoopItem(LoopEnter, 1, 0, 3),
                              MakeLoopItem(LoopEnter, 2, 0, 8), MakeLoopItem(LoopLeave), MakeLoopItem(LoopLeave)});
    RelinkLoops(nested);
    EXPECT_EQ(nested.items[1].loopStep(), 9) << "a stray leave stays unchanged";
    EXPECT_EQ(nested.items[1].loopStart(), 9);
    EXPECT_EQ(nested.items[4].loopStep(), 2);
    EXPECT_EQ(nested.items[4].loopStart(), 4);
    EXPECT_EQ(nested.items[4].loopStop(), 8);
    EXPECT_EQ(nested.items[5].loopStep(), 1);
    EXPECT_EQ(nested.items[5].loopStart(), 3);
    EXPECT_EQ(nested.items[5].loopStop(), 3);
}

} // namespace
} // namespace quillet
