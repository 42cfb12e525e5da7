// The run status / event log window and the key/mouse status window, on the offscreen platform. Their timers are
// driven by calling OnTimer, never by waiting.
#include <gtest/gtest.h>

#include <filesystem>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>

#include "engine/engine.h"
#include "gui/text.h"
#include "gui/toolwindows/key_mouse_status.h"
#include "gui/toolwindows/macro_debug.h"
#include "gui/widgets/edit_log.h"
#include "input/input_router.h"
#include "input/key_mouse_status.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "platform/fake/fake_platform.h"

namespace quillet::gui {
namespace {

// Settings that never touch a file: a path in a directory that does not exist, and no save at the end.
CAppIni Settings() {
    return CAppIni((std::filesystem::temp_directory_path() / "quillet-gui-test-none" / "Quillet.ini").string(), false);
}

Macro NamedMacro(const char* utf8Name, int itemCount) {
    Macro m = MakeNewMacro(Utf8ToCp949(utf8Name));
    while (m.itemCount() < itemCount) m.items.push_back(MakeKeyItem(0x41 + m.itemCount() % 26, 3));
    return m;
}

QString FieldText(const QWidget& w, int id) {
    return FindControl<QLineEdit>(&w, id)->text();
}

class MacroDebugTest : public testing::Test {
protected:
    MacroDebugTest() : settings(Settings()) {
        library.push_back(NamedMacro("첫째", 10));
        library.push_back(NamedMacro("second", 3));
    }
    CAppIni settings;
    MacroLibrary library;
};

TEST_F(MacroDebugTest, PageFollowsTheStoredOptionAndSwitches) {
    settings.macroOptions = 136 | OptionLogPage;
    CDialogMacroDebug window(library, settings);
    window.show();
    auto* statusRadio = window.Control<QRadioButton>(CDialogMacroDebug::IdStatusPage);
    auto* logRadio = window.Control<QRadioButton>(CDialogMacroDebug::IdLogPage);
    EXPECT_EQ(window.windowTitle(), "매크로 실행 상태");
    EXPECT_EQ(statusRadio->text(), "매크로 실행 상태");
    EXPECT_EQ(logRadio->text(), "이벤트 실행 로그");
    EXPECT_TRUE(logRadio->isChecked());
    EXPECT_TRUE(window.logPageShown());
    const auto shown = [&](int id) { return window.Control(id)->isVisibleTo(&window); };
    EXPECT_TRUE(shown(CDialogMacroDebug::IdLog));
    for (int id : {1042, 1004, 1062, 1063, 1064}) EXPECT_FALSE(shown(id)) << id;

    QTest::mouseClick(statusRadio, Qt::LeftButton);
    EXPECT_TRUE(statusRadio->isChecked());
    EXPECT_EQ(settings.macroOptions, 136);
    EXPECT_FALSE(shown(CDialogMacroDebug::IdLog));
    for (int id : {1042, 1004, 1062, 1063, 1064}) EXPECT_TRUE(shown(id)) << id;

    QTest::mouseClick(logRadio, Qt::LeftButton);
    EXPECT_EQ(settings.macroOptions, 136 | OptionLogPage);
    EXPECT_TRUE(shown(CDialogMacroDebug::IdLog));
    EXPECT_FALSE(shown(1042));
}

TEST_F(MacroDebugTest, ShowingSelectsTheFirstMacroAndListsItsItems) {
    CDialogMacroDebug window(library, settings);
    EXPECT_FALSE(window.isVisible()); // created hidden
    EXPECT_TRUE(window.Control<QRadioButton>(CDialogMacroDebug::IdStatusPage)->isChecked());
    window.show();
    auto* macros = window.Control<QComboBox>(CDialogMacroDebug::IdMacroList);
    auto* items = window.Control<QListWidget>(CDialogMacroDebug::IdItemList);
    ASSERT_EQ(macros->count(), 2);
    EXPECT_EQ(macros->itemText(0), "첫째");
    EXPECT_EQ(macros->currentIndex(), 0);
    EXPECT_EQ(window.selectedMacro(), 0);
    ASSERT_EQ(items->count(), 10); // the start item included
    EXPECT_EQ(items->item(0)->text(), FromCp949(ItemText(library[0].items[0], settings.macroOptions)));
    EXPECT_EQ(items->item(4)->text(), FromCp949(ItemText(library[0].items[4], settings.macroOptions)));

    macros->setCurrentIndex(1); // the user picks another macro
    EXPECT_EQ(window.selectedMacro(), 1);
    EXPECT_EQ(items->count(), 3);

    // Hidden and shown again: the first macro once more.
    window.hide();
    window.show();
    EXPECT_EQ(window.selectedMacro(), 0);
    EXPECT_EQ(items->count(), 10);
}

TEST_F(MacroDebugTest, TimerShowsTheRunStateOfTheSelectedMacro) {
    CDialogMacroDebug window(library, settings);
    window.show();
    auto* items = window.Control<QListWidget>(CDialogMacroDebug::IdItemList);
    Macro& m = library[0];
    m.setRepeatCount(5);

    window.OnTimer(); // idle
    EXPECT_EQ(FieldText(window, 1062), "종료");
    EXPECT_EQ(FieldText(window, 1063), "0 / 5");
    EXPECT_EQ(FieldText(window, 1064), "0");
    EXPECT_EQ(items->currentRow(), -1);

    m.runPos = 3;
    m.passCount = 2;
    m.delayLeft = 467;
    window.OnTimer();
    EXPECT_EQ(FieldText(window, 1062), "4 / 10");
    EXPECT_EQ(FieldText(window, 1063), "2 / 5");
    EXPECT_EQ(FieldText(window, 1064), "467");
    EXPECT_EQ(items->currentRow(), 3);

    // The list selection is touched only when the position changes: a user's click stays until then.
    items->setCurrentRow(7);
    m.delayLeft = 434;
    window.OnTimer();
    EXPECT_EQ(items->currentRow(), 7);
    EXPECT_EQ(FieldText(window, 1064), "434");
    m.runPos = 4;
    window.OnTimer();
    EXPECT_EQ(items->currentRow(), 4);

    // Stopped during a pass: the repeat count is reached.
    m.runPos = m.itemCount();
    m.passCount = 5;
    window.OnTimer();
    EXPECT_EQ(FieldText(window, 1062), "종료");
    EXPECT_EQ(FieldText(window, 1063), "5 / 5");
    EXPECT_EQ(items->currentRow(), -1);

    // Another macro at the same position as the last one shown still gets its line selected.
    library[0].runPos = 2;
    window.OnTimer();
    library[1].runPos = 2;
    window.Control<QComboBox>(CDialogMacroDebug::IdMacroList)->setCurrentIndex(1);
    window.OnTimer();
    EXPECT_EQ(items->currentRow(), 2);
    EXPECT_EQ(FieldText(window, 1062), "3 / 3");
}

TEST_F(MacroDebugTest, HiddenWindowAndEmptyLibraryLeaveTheFieldsAlone) {
    CDialogMacroDebug window(library, settings);
    window.show();
    window.OnTimer();
    window.hide();
    library[0].runPos = 3;
    window.OnTimer();
    EXPECT_EQ(FieldText(window, 1062), "종료"); // not refreshed while hidden

    MacroLibrary empty;
    CDialogMacroDebug bare(empty, settings);
    bare.show();
    EXPECT_EQ(bare.selectedMacro(), -1);
    EXPECT_EQ(bare.Control<QComboBox>(CDialogMacroDebug::IdMacroList)->count(), 0);
    bare.OnTimer();
    EXPECT_EQ(FieldText(bare, 1062), "");

    // The library emptied while a macro was selected (a file opened): nothing is read from it.
    library.clear();
    window.show();
    window.OnTimer();
    EXPECT_EQ(window.selectedMacro(), -1);
}

TEST_F(MacroDebugTest, LogReceivesEngineLinesAndIsClearedWhenHidden) {
    CDialogMacroDebug window(library, settings);
    CEditLogB* log = window.log();
    EXPECT_EQ(log->maxLines, 1000);

    // Lines logged while hidden are kept and shown when the window opens.
    window.AppendLog(Utf8ToCp949("첫째: 키보드 A\r\n"));
    window.OnTimer();
    window.show();
    EXPECT_EQ(log->toPlainText(), "첫째: 키보드 A\n");

    // The engine's log reaches the window through the sink.
    platform::FakePlatform fake;
    Engine engine(library, settings, fake.platform(), 1u);
    engine.SetLogSink(window.LogSink());
    engine.StartRunMode();
    library[1].items.resize(2);
    engine.StartMacro(library[1], 1);
    engine.OnMacroTimer();
    EXPECT_EQ(log->LineCount(), 1); // queued until the timer
    window.OnTimer();
    ASSERT_EQ(log->LineCount(), 2);
    EXPECT_TRUE(log->document()->findBlockByNumber(1).text().startsWith("second: "))
        << log->toPlainText().toStdString();

    // Hiding empties the log; the timer keeps collecting, and showing again shows what came since. Hidden, it
    // runs only until the lines that came are taken in.
    window.hide();
    EXPECT_TRUE(log->toPlainText().isEmpty());
    window.OnTimer();
    EXPECT_FALSE(window.timerRunning());
    window.AppendLog("second: x\r\n");
    EXPECT_TRUE(window.timerRunning());
    window.OnTimer();
    EXPECT_FALSE(window.timerRunning());
    window.show();
    EXPECT_EQ(log->toPlainText(), "second: x\n");
}

TEST_F(MacroDebugTest, PositionIsKeptOnTheDesktopAndStored) {
    settings.debugSX = -30000;
    settings.debugSY = 40;
    {
        CDialogMacroDebug window(library, settings);
        const platform::ScreenRect screen = CDialogCommon::VirtualScreen();
        EXPECT_EQ(settings.debugSX, screen.left);
        EXPECT_EQ(window.pos(), QPoint(settings.debugSX, settings.debugSY));
        window.move(screen.left + 5, screen.top + 6);
        // Esc and Enter only hide.
        window.show();
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_FALSE(window.isVisible());
        window.show();
        QTest::keyClick(&window, Qt::Key_Return);
        EXPECT_FALSE(window.isVisible());
    }
    const platform::ScreenRect screen = CDialogCommon::VirtualScreen();
    EXPECT_EQ(settings.debugSX, screen.left + 5);
    EXPECT_EQ(settings.debugSY, screen.top + 6);
}

class KeyMouseStatusWindowTest : public testing::Test {
protected:
    KeyMouseStatusWindowTest() : settings(Settings()), status(fake, fake), router(fake) {
        router.keyMouseStatusWindow = &status;
    }
    static platform::RawInputRecord Key(uint16_t vk, uint32_t message) {
        platform::RawInputRecord r;
        r.device = platform::RawInputRecord::Device::Keyboard;
        r.vkey = vk;
        r.message = message;
        return r;
    }
    static platform::RawInputRecord Mouse(uint16_t flags) {
        platform::RawInputRecord r;
        r.device = platform::RawInputRecord::Device::Mouse;
        r.buttonFlags = flags;
        return r;
    }
    platform::FakePlatform fake;
    CAppIni settings;
    KeyMouseStatus status;
    InputRouter router;
};

TEST_F(KeyMouseStatusWindowTest, ShowsKeysPositionAndButtonsFromTheRouter) {
    CDialogKeyMouseStatus window(status, settings);
    EXPECT_EQ(window.windowTitle(), "키보드 키/마우스 상태표시");
    EXPECT_FALSE(window.isVisible());

    // Written also while hidden.
    router.OnRawInput(Key(0x41, platform::WM_KEYDOWN));
    EXPECT_EQ(FieldText(window, 1062), "A key - 누름");
    router.OnRawInput(Key(0x41, platform::WM_KEYUP));
    EXPECT_EQ(FieldText(window, 1062), "A key - 뗌");
    platform::RawInputRecord injected = Key(0x42, platform::WM_KEYDOWN);
    injected.injected = true; // typed by a macro: not shown
    router.OnRawInput(injected);
    EXPECT_EQ(FieldText(window, 1062), "A key - 뗌");

    fake.SetCursor(-12, 345);
    router.OnRawInput(Mouse(platform::RI_MOUSE_RIGHT_BUTTON_DOWN));
    EXPECT_EQ(FieldText(window, 1063), "-12, 345");
    EXPECT_TRUE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdRight));
    EXPECT_FALSE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdLeft));
    router.OnRawInput(Mouse(platform::RI_MOUSE_BUTTON_5_DOWN));
    EXPECT_TRUE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdX2));
    router.OnRawInput(Mouse(platform::RI_MOUSE_RIGHT_BUTTON_UP));
    EXPECT_FALSE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdRight));
    EXPECT_TRUE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdX2));

    // The indicators show the shared 13 x 13 bitmaps.
    const QLabel* x2 = window.Control<QLabel>(CDialogKeyMouseStatus::IdX2);
    EXPECT_EQ(x2->pixmap().size(), QSize(13, 13));
    EXPECT_NE(x2->pixmap().toImage().pixel(6, 6),
              window.Control<QLabel>(CDialogKeyMouseStatus::IdLeft)->pixmap().toImage().pixel(6, 6));
}

TEST_F(KeyMouseStatusWindowTest, TimerSamplesModifiersAndImeOnlyWhileVisible) {
    CDialogKeyMouseStatus window(status, settings);
    fake.SetKeyDown(0xA2, true); // left Ctrl
    fake.SetKeyDown(0xA1, true); // right Shift
    fake.SetImeState(platform::ImeState::Open);
    window.OnTimer(); // hidden: nothing sampled
    EXPECT_FALSE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdCtrl));
    EXPECT_EQ(FieldText(window, 1064), "");
    EXPECT_FALSE(window.timerRunning()) << "hidden, the window does not wake up";

    window.show();
    EXPECT_TRUE(window.timerRunning());
    window.OnTimer(); // catches up at the first tick
    EXPECT_TRUE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdCtrl));
    EXPECT_FALSE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdAlt));
    EXPECT_TRUE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdShift));
    EXPECT_EQ(FieldText(window, 1064), "한글");

    fake.SetKeyDown(0xA2, false);
    fake.SetImeState(platform::ImeState::Closed);
    window.OnTimer();
    EXPECT_FALSE(window.IndicatorShowsDown(CDialogKeyMouseStatus::IdCtrl));
    EXPECT_EQ(FieldText(window, 1064), "영어");
    window.hide();
    EXPECT_FALSE(window.timerRunning());
}

TEST_F(KeyMouseStatusWindowTest, ButtonsHideAndPositionIsStored) {
    settings.statusSX = 40;
    settings.statusSY = 999999;
    {
        CDialogKeyMouseStatus window(status, settings);
        const platform::ScreenRect screen = CDialogCommon::VirtualScreen();
        EXPECT_EQ(settings.statusSX, 40);
        EXPECT_EQ(settings.statusSY, screen.top + screen.height - 1 - window.frameGeometry().height());
        window.show();
        QTest::mouseClick(window.Control<QPushButton>(CDialogKeyMouseStatus::IdOk), Qt::LeftButton);
        EXPECT_FALSE(window.isVisible());
        window.show();
        QTest::mouseClick(window.Control<QPushButton>(CDialogKeyMouseStatus::IdCancel), Qt::LeftButton);
        EXPECT_FALSE(window.isVisible());
        window.move(50, 60);
    }
    EXPECT_EQ(settings.statusSX, 50);
    EXPECT_EQ(settings.statusSY, 60);
    // The window gave the status model back: events after its end go nowhere.
    EXPECT_FALSE(status.onChanged);
    router.OnRawInput(Key(0x41, platform::WM_KEYDOWN));
}

} // namespace
} // namespace quillet::gui
