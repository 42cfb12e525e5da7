// The condition dialog's rules without widgets: loading the pages from a macro and applying them on OK, the captures
// of live input, the image page's path and preview arithmetic.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "editing/condition_dialog.h"
#include "in_english.h"
#include "model/key_table.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

class ConditionDialogTest : public ::testing::Test {
protected:
    ConditionDialogTest() {
        macro = MakeNewMacro("m");
        macro.setRepeatCount(7);
        settings.keyMacroColorStart = 0x78; // F9
        settings.keyMacroColorStop = 0x77;  // F8
    }
    Macro macro;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    platform::FakePlatform fake;
};

TEST_F(ConditionDialogTest, OkRebuildsEveryConditionBitAndKeepsTheRepeatCount) {
    macro.flags |= FlagAutoStart | FlagTimeWindow | FlagStartColor | FlagStartImage | (3 << StartTimeFormShift);
    ConditionDialogModel d(macro, settings);
    EXPECT_TRUE(d.hotkeys.autoStart);
    EXPECT_TRUE(d.colors.start.on);
    d.hotkeys.autoStart = false; // switched off: cleared
    d.colors.start.on = false;
    // F5, Ctrl on, modifier matching off, the toggle out: the Ctrl bit is stored all the same.
    d.hotkeys.start.keyIndex = KeyIndexOf(0x74);
    d.hotkeys.start.ctrl = true;
    d.SetStartOnPress(false);
    d.Accept();
    EXPECT_EQ(macro.startKey, 0x74 | 0x10000 | 0x20000);
    EXPECT_EQ(macro.repeatCount(), 7);
    EXPECT_EQ(macro.flags & 0xFFFF,
              FlagStartKey | FlagStopKey | FlagTimeWindow | FlagStartImage | (3 << StartTimeFormShift))
        << "the start time (form 3, 00:00:00) comes back; the stop time ('--') has form 0";

    // The release toggle writes at once, and a Cancel (no Accept) keeps it.
    ConditionDialogModel again(macro, settings);
    EXPECT_FALSE(again.hotkeys.start.onPress);
    again.SetStartOnPress(true);
    EXPECT_EQ(macro.startKey, 0x74 | 0x20000);
}

TEST_F(ConditionDialogTest, TheTimeListsGiveFormAndTime) {
    struct Case {
        int h, m, s, form;
        int32_t t;
    };
    // Rows are numbers + 1; row 0 is "--".
    const Case cases[] = {
        {11, 0, 6, 1, 5}, {0, 31, 1, 2, 1800}, {24, 60, 60, 3, 23 * 3600 + 59 * 60 + 59}, {5, 5, 0, 0, 0}};
    for (const Case& c : cases) {
        int form = -1;
        int32_t t = -1;
        TimePageModel::FromRows(c.h, c.m, c.s, form, t);
        EXPECT_EQ(form, c.form) << c.h << " " << c.m << " " << c.s;
        EXPECT_EQ(t, c.t);
        if (form == 0) continue;
        int h = 0, m = 0, s = 0;
        TimePageModel::Rows(form, t, h, m, s);
        EXPECT_EQ(s, c.s);
        EXPECT_EQ(m, form >= 2 ? c.m : 0);
        EXPECT_EQ(h, form == 3 ? c.h : 0) << "an hour without minutes is dropped";
    }
    ConditionDialogModel d(macro, settings);
    d.times.on = true;
    d.times.startSecond = 6;
    d.times.stopMinute = 31;
    d.times.stopSecond = 1;
    d.Accept();
    EXPECT_EQ(macro.startTimeForm(), 1);
    EXPECT_EQ(macro.stopTimeForm(), 2);
    EXPECT_EQ(macro.stopTime, 1800);
}

TEST_F(ConditionDialogTest, ColourFieldsAreLimitedAndCapturedOnTheVisiblePageOnly) {
    ConditionDialogModel d(macro, settings);
    d.colors.start.red = "300";
    EXPECT_EQ(d.colors.start.Swatch() & 0xFF, 255u);
    d.colors.start.x = "40000";
    d.colors.stop.y = "-40000";
    d.colors.tolerance = "999";
    d.Accept();
    EXPECT_EQ(macro.startColor & 0xFF, 255);
    EXPECT_EQ(PointX(macro.startColorPos), 32767);
    EXPECT_EQ(PointY(macro.stopColorPos), -32768);
    EXPECT_EQ(macro.colorTolerance, 255);

    fake.SetCursor(40, 50);
    fake.SetPixel(40, 50, MakeColor(1, 2, 3));
    EXPECT_FALSE(d.OnInput(0x78, true, ConditionDialogModel::Colors, fake, fake)) << "the start side is off";
    d.colors.start.on = true;
    EXPECT_FALSE(d.OnInput(0x78, true, ConditionDialogModel::Hotkeys, fake, fake)) << "another page is shown";
    EXPECT_FALSE(d.OnInput(0x78, false, ConditionDialogModel::Colors, fake, fake)) << "releases do nothing";
    EXPECT_TRUE(d.OnInput(0x78, true, ConditionDialogModel::Colors, fake, fake));
    EXPECT_EQ(d.colors.start.Swatch(), static_cast<uint32_t>(MakeColor(1, 2, 3)));
    EXPECT_EQ(d.colors.start.x + "," + d.colors.start.y, "40,50");

    // The image page: one key set for both corners fills both.
    settings.keyMacroColorStop = 0x78;
    d.images.on = true;
    fake.SetCursor(7, 8);
    EXPECT_TRUE(d.OnInput(0x78, true, ConditionDialogModel::Images, fake, fake));
    EXPECT_EQ(d.images.startX + d.images.startY + d.images.endX + d.images.endY, "7878");
}

TEST_F(ConditionDialogTest, PagesThresholdsPathsAndPreview) {
    settings.startTabSel = 7;
    EXPECT_EQ(ConditionDialogModel(macro, settings).InitialPage(), 3);
    settings.startTabSel = -2;
    ConditionDialogModel d(macro, settings);
    EXPECT_EQ(d.InitialPage(), 0);
    d.Closing(1);
    EXPECT_EQ(settings.startTabSel, 1);

    macro.imageOptions = 0;
    EXPECT_EQ(ConditionDialogModel(macro, settings).images.threshold, "1");
    for (const auto& [typed, stored] :
         std::vector<std::pair<std::string, int>>{{"150", 100}, {"0", 1}, {"abc", 1}, {"80", 80}}) {
        d.images.threshold = typed;
        d.images.moveMouse = true;
        d.Accept();
        EXPECT_EQ(macro.imageOptions, stored | ImageMoveMouse) << typed;
    }

    // The chooser starts from the stored path, whatever the field holds by now.
    macro.imagePath = "img/stored.png";
    ConditionDialogModel reopened(macro, settings);
    reopened.images.path = "typed/elsewhere.png";
    EXPECT_EQ(reopened.images.ChooserStartPath(), "img/stored.png");

#ifndef _WIN32
    EXPECT_EQ(ImagePageModel::PathForChosen("/work/img/a.png", "/work"), "img/a.png");
    EXPECT_EQ(ImagePageModel::PathForChosen("/workshop/a.png", "/work"), "/workshop/a.png");
    EXPECT_EQ(ImagePageModel::PathForChosen("/pic/a.png", "/work/"), "/pic/a.png");
    EXPECT_EQ(ImagePageModel::PathForChosen("/work/shot", "/work"), "shot.bmp");
    EXPECT_EQ(ImagePageModel::PathForChosen("/work/.hidden/x", "/work"), ".hidden/x.bmp");
#endif
    EXPECT_EQ(ImagePageModel::PreviewRect(1000, 500, 120, 110), (platform::ScreenRect{0, 25, 120, 60}));
    EXPECT_EQ(ImagePageModel::PreviewRect(50, 40, 120, 110), (platform::ScreenRect{35, 35, 50, 40}));
    EXPECT_EQ(ImagePageModel::PreviewRect(0, 40, 120, 110), (platform::ScreenRect{}));
}

TEST_F(ConditionDialogTest, HintsAndCaptionsInEnglish) {
    const InEnglish english;
    macro.stopKey |= KeyRelease;
    ConditionDialogModel d(macro, settings);
    EXPECT_EQ(d.ColorStartHint(), "Press the F9 key to capture the start color and the mouse position.");
    EXPECT_EQ(d.ColorStopHint(), "Press the F8 key to capture the stop color and the mouse position.");
    EXPECT_EQ(d.ImageStartHint(), "Press the F9 key to capture the first corner of the search area.");
    EXPECT_EQ(d.ImageStopHint(), "Press the F8 key to capture the second corner of the search area.");
    EXPECT_EQ(d.hotkeys.start.PressCaption(), "On press");
    EXPECT_EQ(d.hotkeys.stop.PressCaption(), "On release");
}

} // namespace
} // namespace quillet
