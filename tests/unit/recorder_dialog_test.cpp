// The recorder dialog's rules around recording: the option boxes and when they can be changed, the number fields
// as typed, and the list updates of the display timer. The recording itself is tested with MacroRecorder.
#include <gtest/gtest.h>

#include "editing/recorder_dialog.h"
#include "model/cp949.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

class RecorderDialogTest : public ::testing::Test {
protected:
    RecorderDialogTest() {
        fake.SetNowMs(1000);
        settings.keyMacroRecord = 0x7A; // F11
        settings.recMouseDistance = 10;
        settings.recEventTimeInterval = 100;
    }
    RecorderDialogModel& Open(int32_t options) {
        settings.recOptions = options;
        model = std::make_unique<RecorderDialogModel>(macro, library, settings, fake, fake, lastPos);
        return *model;
    }
    // Every box the person can change at the moment, as recOptions bits.
    int32_t EnabledBoxes() const {
        int32_t bits = 0;
        for (int32_t bit : RecorderDialogModel::kOptionBits)
            if (model->OptionEnabled(bit)) bits |= bit;
        return bits;
    }

    platform::FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    MacroLibrary library;
    Macro macro;
    Point lastPos;
    std::unique_ptr<RecorderDialogModel> model;
};

TEST_F(RecorderDialogTest, OptionBoxesAreTheOptionBitsAndAreLockedWhileRecording) {
    // Nine boxes, each its own bit, together every option there is.
    int32_t all = 0;
    for (int32_t bit : RecorderDialogModel::kOptionBits) {
        EXPECT_EQ(all & bit, 0) << "bit 0x" << std::hex << bit << " twice";
        all |= bit;
    }
    EXPECT_EQ(all, RecOptionsMask);

    // Opening stores the boxes at once: a stray "resolution-independent" without "absolute" is gone.
    RecorderDialogModel& m = Open(RecKeys | RecNormalized);
    EXPECT_EQ(settings.recOptions, RecKeys);
    EXPECT_FALSE(m.OptionChecked(RecNormalized));
    EXPECT_EQ(EnabledBoxes(), RecOptionsMask & ~RecNormalized);
    m.ClickOption(RecNormalized, true); // cannot be checked while "absolute" is clear
    EXPECT_EQ(settings.recOptions, RecKeys);

    m.ClickOption(RecAbsolute, true);
    EXPECT_EQ(EnabledBoxes(), RecOptionsMask);
    m.ClickOption(RecNormalized, true);
    m.ClickOption(RecWheel, true);
    EXPECT_EQ(settings.recOptions, RecKeys | RecAbsolute | RecNormalized | RecWheel);
    m.ClickOption(RecAbsolute, false); // takes "resolution-independent" with it
    EXPECT_EQ(settings.recOptions, RecKeys | RecWheel);
    EXPECT_FALSE(m.OptionEnabled(RecNormalized));

    // While recording nothing can be changed; stopping makes everything usable again.
    m.ClickOption(RecAbsolute, true);
    m.ToggleRecording(true);
    EXPECT_EQ(EnabledBoxes(), 0);
    EXPECT_FALSE(m.FieldsEnabled());
    m.ClickOption(RecMerge, true);
    m.ClickOption(RecKeys, false);
    EXPECT_EQ(settings.recOptions, RecKeys | RecWheel | RecAbsolute);
    m.ToggleRecording(false);
    EXPECT_EQ(EnabledBoxes(), RecOptionsMask);
    EXPECT_TRUE(m.FieldsEnabled());
}

TEST_F(RecorderDialogTest, NumberFieldsAsTypedReachTheSettingsAndTheMacro) {
    settings.recMouseDistance = -3;
    RecorderDialogModel& m = Open(0xB7);
    EXPECT_EQ(m.distanceText(), "-3") << "shown signed";
    EXPECT_EQ(m.pauseText(), "100");
    EXPECT_EQ(m.repeatText(), "1");

    m.SetDistanceText(" 25 ");
    m.SetPauseText("12x"); // not a number: 0
    m.ToggleRecording(true);
    EXPECT_EQ(settings.recMouseDistance, 25) << "read at the toggle";
    EXPECT_EQ(settings.recEventTimeInterval, 0);
    m.SetDistanceText("99"); // the fields are locked while recording
    m.ToggleRecording(false);
    EXPECT_EQ(settings.recMouseDistance, 25);

    // Cancel keeps the macro's repeat count but stores the other two fields.
    m.SetDistanceText("99999999999"); // saturates
    m.SetRepeatText("7");
    m.Cancel();
    EXPECT_EQ(settings.recMouseDistance, 2147483647);
    EXPECT_EQ(macro.repeatCount(), 1);

    // OK: the repeat count clamped; an empty field repeats until stopped.
    m.SetRepeatText("70000");
    m.Ok();
    EXPECT_EQ(macro.repeatCount(), 65535);
    m.SetRepeatText("");
    m.Ok();
    EXPECT_EQ(macro.repeatCount(), 0);
    EXPECT_EQ(macro.flags & 0xFFFF, 0x24) << "the hotkey flags stay";
}

TEST_F(RecorderDialogTest, DisplayUpdatesComeInBatchesAndSelectTheLastLine) {
    RecorderDialogModel& m = Open(RecKeys | RecPauses | RecMerge);
    // Opening: the whole list, line 0 selected.
    std::optional<RecorderDialogModel::DisplayUpdate> u = m.TakeDisplayUpdate();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->keepLines, 0);
    ASSERT_EQ(u->newLines.size(), 1u);
    EXPECT_EQ(u->selectLine, 0);
    EXPECT_EQ(Cp949ToUtf8(u->summary), "0개 항목이 기록됨 (0 초)");
    EXPECT_FALSE(m.TakeDisplayUpdate()) << "nothing new";

    // Several events between two ticks come as one batch.
    MacroRecorder& r = m.recorder();
    r.ToggleRecording(true);
    fake.AdvanceMs(500);
    r.RecordKeyEvent(0x41, 0x1E, ActionPress);
    r.RecordKeyEvent(0x42, 0x30, ActionPress);
    u = m.TakeDisplayUpdate();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->keepLines, 1);
    EXPECT_EQ(u->newLines.size(), 3u); // the pause, A, B
    EXPECT_EQ(u->selectLine, 3);
    EXPECT_EQ(Cp949ToUtf8(u->summary), "3개 항목이 기록됨 (0.599 초)");

    // A release merged into the press rewrites that line.
    r.RecordKeyEvent(0x42, 0x30, ActionRelease);
    u = m.TakeDisplayUpdate();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->keepLines, 3);
    ASSERT_EQ(u->newLines.size(), 1u);
    EXPECT_EQ(u->selectLine, 3);
    EXPECT_EQ(m.macro().itemCount(), 4);
}

} // namespace
} // namespace quillet
