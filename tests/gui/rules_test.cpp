// The widget-free rules of the user interface.
#include <gtest/gtest.h>

#include <climits>

#include "gui/rules.h"
#include "model/macro.h"

namespace quillet::gui {
namespace {

struct Corner {
    int32_t x;
    int32_t y;
};

Corner Clamp(int32_t x, int32_t y, int32_t w, int32_t h, platform::ScreenRect screen) {
    ClampToVirtualScreen(x, y, w, h, screen);
    return {x, y};
}

TEST(ClampToVirtualScreenTest, SingleScreen) {
    const platform::ScreenRect screen{0, 0, 1920, 1080};
    Corner c = Clamp(-50, 20, 400, 300, screen);
    EXPECT_EQ(c.x, 0);
    EXPECT_EQ(c.y, 20);
    c = Clamp(1700, 900, 400, 300, screen);
    EXPECT_EQ(c.x, 1519); // right edge one pixel inside the far border
    EXPECT_EQ(c.y, 779);
    c = Clamp(1519, 779, 400, 300, screen); // already inside: unchanged
    EXPECT_EQ(c.x, 1519);
    EXPECT_EQ(c.y, 779);
}

TEST(ClampToVirtualScreenTest, SecondMonitorLeftOfPrimary) {
    const platform::ScreenRect screen{-1280, 0, 3200, 1080};
    Corner c = Clamp(-1300, 10, 400, 300, screen);
    EXPECT_EQ(c.x, -1280);
    EXPECT_EQ(c.y, 10);
    c = Clamp(1800, 10, 400, 300, screen);
    EXPECT_EQ(c.x, 1519);
    c = Clamp(-1000, 10, 400, 300, screen); // on the left monitor: stays
    EXPECT_EQ(c.x, -1000);
}

TEST(ClampToVirtualScreenTest, WindowLargerThanScreenAndExtremeValues) {
    const platform::ScreenRect screen{0, 0, 800, 600};
    // The upper bound wins: the window's far edge is kept on the screen.
    Corner c = Clamp(10, 10, 1000, 700, screen);
    EXPECT_EQ(c.x, -201);
    EXPECT_EQ(c.y, -101);
    // Positions from a damaged settings file do not overflow.
    c = Clamp(INT32_MIN, INT32_MAX, 400, 300, screen);
    EXPECT_EQ(c.x, 0);
    EXPECT_EQ(c.y, 299);
}

TEST(LogLinesToDropTest, CapAndRemainder) {
    EXPECT_EQ(LogLinesToDrop(0, 1000), 0);
    EXPECT_EQ(LogLinesToDrop(1000, 1000), 0);   // at the cap: kept
    EXPECT_EQ(LogLinesToDrop(1001, 1000), 201); // 800 remain
    EXPECT_EQ(LogLinesToDrop(1005, 1000), 205);
    EXPECT_EQ(LogLinesToDrop(11, 10), 3);  // keep = 8
    EXPECT_EQ(LogLinesToDrop(2, 1), 2);    // keep = trunc(0.8) = 0
    EXPECT_EQ(LogLinesToDrop(5000, 0), 0); // no cap
    EXPECT_EQ(LogLinesToDrop(5000, -3), 0);
}

Macro MacroWithItems(int count) {
    Macro m = MakeNewMacro("m");
    while (m.itemCount() < count) m.items.push_back(MakeKeyItem(0x41, 3));
    return m;
}

TEST(RunStatusTest, FieldsOfARunningAndAnIdleMacro) {
    Macro m = MacroWithItems(10);
    m.setRepeatCount(5);
    m.runPos = 3;
    m.passCount = 2;
    m.delayLeft = 467;
    RunStatusTexts t = RunStatusOf(m);
    EXPECT_EQ(t.position, "4 / 10");
    EXPECT_EQ(t.passes, "2 / 5");
    EXPECT_EQ(t.delay, "467");

    // The start item, the end and the idle state all read as ended.
    for (int pos : {0, 10, -1, 99}) {
        m.runPos = pos;
        EXPECT_EQ(RunStatusOf(m).position, "종료") << pos;
    }
    m.runPos = 9;
    EXPECT_EQ(RunStatusOf(m).position, "10 / 10");

    // A stopped macro shows its repeat count reached; an endless one its passes over 0.
    m.passCount = 5;
    EXPECT_EQ(RunStatusOf(m).passes, "5 / 5");
    m.setRepeatCount(0);
    m.passCount = 123456;
    EXPECT_EQ(RunStatusOf(m).passes, "123456 / 0");
}

TEST(QtFileFilterTest, PairsBecomeQtFilters) {
    EXPECT_EQ(QtFileFilter("Macro file (*.m)|*.m|All Files(*.*)|*.*||"), "Macro file (*.m);;All Files (*)");
    EXPECT_EQ(QtFileFilter("Image (*.BMP, *.GIF, *.JPG, *.PNG) | *.BMP;*.GIF;*.JPG;*.PNG;*.bmp;*.gif;*.jpg;*.png "
                           "| All Files(*.*)|*.*||"),
              "Image (*.BMP *.GIF *.JPG *.PNG *.bmp *.gif *.jpg *.png);;All Files (*)");
    EXPECT_EQ(QtFileFilter(""), "");
    EXPECT_EQ(QtFileFilter("Text|*.txt"), "Text (*.txt)"); // no closing bars
    EXPECT_EQ(QtFileFilter("Lonely description"), "");
    EXPECT_EQ(QtFileFilter("No pattern||Text|*.txt||"), "Text (*.txt)"); // a pair without pattern is left out
}

} // namespace
} // namespace quillet::gui
