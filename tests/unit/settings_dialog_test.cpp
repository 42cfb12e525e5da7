// The settings dialog's rules: the corrections stored at opening, the bits and fields OK writes, the rest kept.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "editing/settings_dialog.h"
#include "model/key_table.h"

namespace quillet {
namespace {

TEST(SettingsDialogTest, OpeningCorrectsThePeriodsAtOnceAndOkWritesOnlyWhatItShows) {
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    settings.macroOptions = 0x2 | 0x8 | 0x4 | 0x40000; // run mode, hidden test group, topmost, an unknown bit
    settings.colorDelay = 10;
    settings.eventDelay = -4;
    settings.hangulKeyboard = 5;
    SettingsDialogModel d(settings);
    EXPECT_EQ(settings.colorDelay, 33) << "stored at opening, also when the dialog is then cancelled";
    EXPECT_EQ(settings.eventDelay, 1);
    EXPECT_EQ(d.colorDelay, "33");
    EXPECT_EQ(d.hangulKeyboard, -1) << "a layout outside the list selects nothing";
    EXPECT_TRUE(d.alwaysOnTop);
    EXPECT_FALSE(d.releaseOnStop);

    d.alwaysOnTop = false;
    d.releaseOnStop = true;
    d.imageResult = true;
    d.colorDelay = "5";
    d.eventDelay = "0";
    d.sequenceStart = "abc";
    d.hangulKeyboard = 2;
    d.runKey = KeyIndexOf(0x7A);
    d.recordKey = KeyIndexOf(0x7A); // the same key twice is accepted
    d.captureKey = -1;              // no selection keeps the setting
    const int32_t capture = settings.keyMousePosCapture;
    d.title = std::string(300, 'T');
    d.Accept();
    EXPECT_EQ(settings.macroOptions, 0x2 | 0x8 | 0x40000 | 0x800 | 0x1000);
    EXPECT_EQ(settings.colorDelay, 33);
    EXPECT_EQ(settings.eventDelay, 1);
    EXPECT_EQ(settings.sequenceStart, 0);
    EXPECT_EQ(settings.hangulKeyboard, 2);
    EXPECT_EQ(settings.keyMacroRun, 0x7A);
    EXPECT_EQ(settings.keyMacroRecord, 0x7A);
    EXPECT_EQ(settings.keyMousePosCapture, capture);
    EXPECT_EQ(settings.title.size(), 259u);
}

TEST(SettingsDialogTest, TheSequenceStartIsAnUnsigned32BitNumber) {
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    settings.sequenceStart = -1;
    SettingsDialogModel shown(settings);
    EXPECT_EQ(shown.sequenceStart, "4294967295");
    shown.Accept();
    EXPECT_EQ(settings.sequenceStart, -1) << "a stored -1 comes back as it was";
    for (const auto& [text, stored] : std::vector<std::pair<std::string, uint32_t>>{
             {"3000000000", 3000000000u}, {"4294967295", 4294967295u}, {"99999999999", 4294967295u}, {"7", 7u},
             {"", 0u}, {"-5", 0u}}) {
        SettingsDialogModel d(settings);
        d.sequenceStart = text;
        d.Accept();
        EXPECT_EQ(static_cast<uint32_t>(settings.sequenceStart), stored) << text;
        EXPECT_EQ(SettingsDialogModel(settings).sequenceStart, std::to_string(stored)) << "shown again as " << text;
    }
}

} // namespace
} // namespace quillet
