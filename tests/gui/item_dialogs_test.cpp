// The seven item dialogs on the offscreen platform with the fake backend: their controls, opening on a new item and
// on an existing one, OK and Cancel, a refused OK, and the live input of the keyboard, mouse and delay dialogs
// delivered through the session's router. The rules themselves are tested headless with the item dialog models.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "engine/input_synth.h"
#include "gui/editors/delay_dialog.h"
#include "gui/editors/key_mouse_dialogs.h"
#include "gui/editors/macro_edit.h"
#include "gui/editors/small_item_dialogs.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/widgets/edit_ex.h"
#include "gui/widgets/list_box_ex.h"
#include "model/cp949.h"
#include "model/key_table.h"
#include "platform/fake/fake_platform.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

constexpr uint8_t VK_A = 0x41, VK_F5 = 0x74, VK_F9 = 0x78;

class ItemDialogsTest : public testing::Test {
protected:
    ItemDialogsTest()
        : hooks({[this](const MessageBoxRequest& r) {
                     messages.push_back(r.text);
                     return QMessageBox::Ok;
                 },
                 {},
                 [this](const ColorDialogRequest& r) -> std::optional<uint32_t> {
                     colorAskedWith.push_back(r.initial);
                     return chosenColor;
                 }}),
          settings((folder.path() / "Quillet.ini").string(), false), session(fake.platform(), settings, counter, loop) {
        EXPECT_TRUE(session.StartInputMonitoring());
        baseDepth = session.router().depth();
    }

    template <class W = QWidget> static W* C(QWidget& dialog, int id) {
        W* w = FindControl<W>(&dialog, id);
        EXPECT_NE(w, nullptr) << "no control " << id;
        return w;
    }
    // As a person's click; a disabled control ignores it.
    static void Click(QWidget& dialog, int id) { C<QAbstractButton>(dialog, id)->click(); }
    static void Type(QWidget& dialog, int id, const QString& text) {
        auto* edit = C<QLineEdit>(dialog, id);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    static QString Field(QWidget& dialog, int id) { return C<QLineEdit>(dialog, id)->text(); }
    static bool Checked(QWidget& dialog, int id) { return C<QAbstractButton>(dialog, id)->isChecked(); }
    static bool Enabled(QWidget& dialog, int id) { return C(dialog, id)->isEnabled(); }
    static void Show(QDialog& dialog) {
        dialog.show();
        dialog.activateWindow();
        QCoreApplication::processEvents(); // the window system's activation, already queued
    }

    // A person's key on the desktop, handled as the program handles it.
    void Key(uint8_t vk, bool down) {
        platform::RawInputRecord r;
        r.vkey = vk;
        r.message = down ? platform::WM_KEYDOWN : platform::WM_KEYUP;
        ASSERT_TRUE(fake.PushRaw(r));
        QCoreApplication::sendPostedEvents(&loop);
    }
    // A person moves the mouse to (x, y).
    void MoveMouse(int32_t x, int32_t y) {
        fake.SetCursor(x, y);
        platform::RawInputRecord r;
        r.device = platform::RawInputRecord::Device::Mouse;
        r.lastX = 1;
        ASSERT_TRUE(fake.PushRaw(r));
        QCoreApplication::sendPostedEvents(&loop);
    }

    test::TestFolder folder;
    std::vector<QString> messages;
    std::vector<uint32_t> colorAskedWith;
    std::optional<uint32_t> chosenColor;
    ScopedDialogHooks hooks;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    Session session;
    EditingContext editing; // what the editors opened here share
    std::size_t baseDepth = 0; // the router's consumers before any dialog
    ItemDialogMemory memory;
};

// Every control is there under its ID with its caption, and every one has an accessible name.
TEST_F(ItemDialogsTest, EveryDialogHasItsControlsCaptionsAndAccessibleNames) {
    const auto check = [](QDialog& dialog, const char* title, std::set<int> ids,
                          std::vector<std::pair<int, const char*>> captions) {
        SCOPED_TRACE(dialog.objectName().toStdString());
        EXPECT_EQ(dialog.windowTitle(), title);
        std::set<int> found;
        for (const QWidget* w : dialog.findChildren<QWidget*>()) {
            bool isId = false;
            const int id = w->objectName().toInt(&isId);
            if (!isId) continue;
            found.insert(id);
            EXPECT_FALSE(w->accessibleName().isEmpty()) << id;
        }
        ids.insert({1, 2});
        EXPECT_EQ(found, ids);
        captions.insert(captions.end(), {{1, "OK"}, {2, "Cancel"}});
        for (const auto& [id, text] : captions) {
            const auto* b = C<QAbstractButton>(dialog, id);
            if (!b) continue;
            EXPECT_EQ(b->text(), text) << id;
            EXPECT_EQ(b->accessibleName(), text) << id;
        }
    };
    // clang-format off
    MacroItem items[7];
    CDialogKeyboard keyboard(items[0], memory, settings, session);
    check(keyboard, "키보드 이벤트 추가", {1016, 1008, 1009, 1010, 1072},
          {{1008, "누르고 떼기"}, {1009, "누르기"}, {1010, "떼기"}, {1072, "한글입력상태"}});
    CDialogMouse mouse(items[1], memory, settings, session);
    check(mouse, "마우스 이벤트 추가", {1045, 1013, 1014, 1011, 1031, 1032, 1012, 1033, 1040, 1029, 1030, 1015, 1018, 1017},
          {{1011, "절대위치:"}, {1012, "휠 굴리기:"}, {1029, "클릭"}, {1030, "누르기"}, {1015, "떼기"},
           {1018, "마우스의 절대 위치를 기록"}, {1017, "화면 해상도와 무관하게 마우스 위치 기록"}});
    CDialogDelay delay(items[2], memory, settings, session);
    check(delay, "대기/시간지연 추가", {1008, 1006, 1049, 1009, 1016, 1019, 1020, 1010, 1110, 1111, 1123, 1112, 1113,
                                        1114, 1011, 1115, 1116, 1117, 1121, 1118, 1119, 1122, 1120, 1045},
          {{1008, "시간 지연:"}, {1009, "지연 시각:"}, {1010, "키 입력 대기:"}, {1111, "누를 때"}, {1123, "Modifier Key:"},
           {1112, "Ctrl"}, {1113, "Alt"}, {1114, "Shift"}, {1011, "화면 색 대기:"}, {1121, "..."}});
    CDialogString text(items[3], memory);
    check(text, "문자열 추가", {1014, 1013, 1011, 1012},
          {{1014, "이 문자열을 주석으로 사용"}, {1011, "랜덤 문자 생성 사용 (#, *, ?)"}, {1012, "연속 숫자 생성 사용($)"}});
    const MacroLibrary library{MakeNewMacro("one")};
    CDialogMacro call(items[4], memory, library, 1);
    check(call, "매크로 호출 추가", {1042, 1057, 1058, 1059}, {{1057, "순차적 실행"}, {1058, "병렬 실행"}, {1059, "실행 중단"}});
    CDialogCS section(items[5], memory);
    check(section, "독점실행구간 추가", {1047, 1048}, {{1047, "독점실행구간으로 들어감"}, {1048, "독점실행구간에서 나옴 "}});
    CDialogLoop loopDialog(items[6], memory);
    check(loopDialog, "반복구간 추가", {1050, 1052, 1100, 1101, 1056, 1057, 1058, 1051, 1055},
          {{1050, "반복구간으로 들어감:"}, {1056, "반복 숫자를 키보드 이벤트로 출력"}, {1057, "반복 숫자를 마우스 X 위치로 설정"},
           {1058, "반복 숫자를 마우스 Y 위치로 설정"}, {1051, "반복구간에서 나옴 "}});
    // clang-format on
    // The fields are named after the label in front of them.
    EXPECT_EQ(C(mouse, 1033)->accessibleName(), "휠 굴리기:");
    EXPECT_EQ(C(delay, 1120)->accessibleName(), "R, G, B 허용 편차:");
    EXPECT_EQ(C(loopDialog, 1100)->accessibleName(), "중지:");

    // The ask-user box of the loop dialog exists but is never in sight.
    Show(loopDialog);
    EXPECT_FALSE(C(loopDialog, 1055)->isVisible());
    // Three of them take live input while they exist; the others do not.
    EXPECT_EQ(session.router().depth(), baseDepth + 3);
}

// A person clicks a key list (it drops down) and presses a key: the key is chosen and the list closes, in every
// item dialog whose key list takes pressed keys. A key the table lacks leaves no row chosen.
TEST_F(ItemDialogsTest, KeyListsTakeAKeyPressedWhileTheyAreDroppedDown) {
    constexpr uint8_t VK_F6 = 0x75, VK_F13 = 0x7C;
    const auto dropDown = [](QComboBox* list) {
        QTest::mouseClick(list, Qt::LeftButton);
        QCoreApplication::processEvents();
        ASSERT_TRUE(list->view()->isVisible()) << "the click opens the list";
        ASSERT_FALSE(list->hasFocus()) << "the open list's popup holds the focus";
    };
    // The list dropped down, a key pressed and the 30 ms timer fired at once: the row chosen, the list closed.
    const auto pressInDroppedDown = [&](auto& dialog, QComboBox* keys, uint8_t vk, int expectedRow) {
        dropDown(keys);
        Key(vk, true);
        ASSERT_TRUE(dialog.captureTimer()->isActive());
        dialog.captureTimer()->stop();
        dialog.OnCaptureTimer();
        EXPECT_EQ(keys->currentIndex(), expectedRow) << vk;
        EXPECT_FALSE(keys->view()->isVisible()) << "choosing closes the list";
    };

    MacroItem keyItem;
    {
        CDialogKeyboard dialog(keyItem, memory, settings, session);
        Show(dialog);
        auto* keys = C<QComboBox>(dialog, CDialogKeyboard::IdKey);
        pressInDroppedDown(dialog, keys, VK_F6, KeyIndexOf(VK_F6));
        pressInDroppedDown(dialog, keys, VK_F13, -1); // not in the key table: no row
        dialog.accept();
    }
    EXPECT_EQ(keyItem.keyCode(), 0x30) << "no row chosen keeps the remembered key";

    MacroItem wait = MakeDelayItem(0x41, DelayKey);
    {
        CDialogDelay dialog(wait, memory, settings, session);
        Show(dialog);
        auto* keys = C<QComboBox>(dialog, CDialogDelay::IdKey);
        pressInDroppedDown(dialog, keys, VK_F6, KeyIndexOf(VK_F6));
        // Not while the focus is on another control, nor for a release.
        C(dialog, CDialogDelay::IdOnPress)->setFocus();
        Key(VK_A, true);
        EXPECT_FALSE(dialog.captureTimer()->isActive());
        keys->setFocus();
        Key(VK_A, false);
        EXPECT_FALSE(dialog.captureTimer()->isActive());
        Click(dialog, CDialogDelay::IdOk);
    }
    EXPECT_EQ(wait.delayValue() & 0xFF, VK_F6);
}

TEST_F(ItemDialogsTest, KeyboardDialogTakesUpPressedKeysAndWritesTheItemOnlyOnOk) {
    settings.macroOptions = 0x1; // the input-method option: the Hangul box may be used
    MacroItem item;
    {
        CDialogKeyboard dialog(item, memory, settings, session);
        Show(dialog);
        auto* keys = C<QComboBox>(dialog, CDialogKeyboard::IdKey);
        EXPECT_EQ(keys->currentIndex(), KeyIndexOf(0x30)); // the remembered key and action
        EXPECT_TRUE(Checked(dialog, CDialogKeyboard::IdPressRelease));
        EXPECT_TRUE(Enabled(dialog, CDialogKeyboard::IdHangul));
        EXPECT_TRUE(keys->hasFocus());

        // A pressed key is taken up 30 ms later while the list has the focus; a release is not a key to take.
        Key(VK_F5, true);
        EXPECT_TRUE(dialog.captureTimer()->isActive());
        EXPECT_EQ(dialog.captureTimer()->interval(), 30);
        EXPECT_TRUE(dialog.captureTimer()->isSingleShot());
        EXPECT_EQ(keys->currentIndex(), KeyIndexOf(0x30)); // not before the timer
        dialog.captureTimer()->stop();
        Key(VK_F5, false);
        EXPECT_FALSE(dialog.captureTimer()->isActive());
        dialog.OnCaptureTimer();
        EXPECT_EQ(keys->currentIndex(), KeyIndexOf(VK_F5));

        // With the focus elsewhere the key is not taken.
        C(dialog, CDialogKeyboard::IdPress)->setFocus();
        Key(VK_A, true);
        dialog.OnCaptureTimer();
        EXPECT_EQ(keys->currentIndex(), KeyIndexOf(VK_F5));

        Click(dialog, CDialogKeyboard::IdPress);
        Click(dialog, CDialogKeyboard::IdHangul);
        Click(dialog, CDialogKeyboard::IdOk);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(item, MakeKeyItem(VK_F5, ActionPress | ActionHangul));
    EXPECT_EQ(memory.keyCode, VK_F5);
    EXPECT_EQ(session.router().depth(), baseDepth); // the capture went with the dialog

    // Editing a recorded key (with its scan code) without the option, then Cancel: nothing changes.
    settings.macroOptions = 0;
    MacroItem recorded = MakeKeyItem(VK_A, ActionRelease | ActionHangul, 0x1E);
    const MacroItem before = recorded;
    CDialogKeyboard edit(recorded, memory, settings, session);
    Show(edit);
    EXPECT_EQ(edit.windowTitle(), "키보드 이벤트 편집");
    EXPECT_EQ(C<QComboBox>(edit, CDialogKeyboard::IdKey)->currentIndex(), KeyIndexOf(VK_A));
    EXPECT_TRUE(Checked(edit, CDialogKeyboard::IdRelease));
    EXPECT_TRUE(Checked(edit, CDialogKeyboard::IdHangul));
    EXPECT_FALSE(Enabled(edit, CDialogKeyboard::IdHangul));
    C<QComboBox>(edit, CDialogKeyboard::IdKey)->setCurrentIndex(KeyIndexOf(VK_F9));
    Click(edit, CDialogKeyboard::IdCancel);
    EXPECT_EQ(edit.result(), QDialog::Rejected);
    EXPECT_EQ(recorded, before);
    EXPECT_EQ(memory.keyCode, VK_F5);
    EXPECT_EQ(memory.keyAction, ActionPress | ActionHangul);
}

TEST_F(ItemDialogsTest, MouseDialogFollowsTheCursorAppliesTheAbsoluteRuleAndRefusesAnEmptyItem) {
    fake.SetPrimaryScreenSize(1000, 500);
    MacroItem item;
    CDialogMouse dialog(item, memory, settings, session);
    Show(dialog);
    using M = CDialogMouse;
    // The remembered move to an absolute (0, 0).
    EXPECT_TRUE(Checked(dialog, M::IdPosition));
    EXPECT_TRUE(Checked(dialog, M::IdAbsolute));
    EXPECT_TRUE(Enabled(dialog, M::IdNormalized));
    EXPECT_EQ(Field(dialog, M::IdX), "0");
    EXPECT_EQ(C<QComboBox>(dialog, M::IdButton)->currentIndex(), 0);
    EXPECT_TRUE(Checked(dialog, M::IdClick));
    EXPECT_TRUE(C<QLineEdit>(dialog, M::IdLiveX)->isReadOnly());

    // Every mouse event writes the live position; in absolute units while 1017 is checked.
    MoveMouse(-40, 300);
    EXPECT_EQ(Field(dialog, M::IdLiveX), "-40");
    EXPECT_EQ(Field(dialog, M::IdLiveY), "300");
    Click(dialog, M::IdNormalized);
    MoveMouse(250, 100);
    EXPECT_EQ(Field(dialog, M::IdLiveX), QString::number(ToAbsolute(250, 1000)));
    EXPECT_EQ(Field(dialog, M::IdLiveY), QString::number(ToAbsolute(100, 500)));

    // Relative: 1011 says so, and 1017 is cleared and disabled.
    Click(dialog, M::IdAbsolute);
    EXPECT_FALSE(dialog.AbsoluteChecked());
    EXPECT_EQ(C<QAbstractButton>(dialog, M::IdPosition)->text(), "상대위치:");
    EXPECT_EQ(C(dialog, M::IdPosition)->accessibleName(), "상대위치:");
    EXPECT_FALSE(Checked(dialog, M::IdNormalized));
    EXPECT_FALSE(Enabled(dialog, M::IdNormalized));
    Click(dialog, M::IdAbsolute);
    EXPECT_TRUE(Enabled(dialog, M::IdNormalized));
    EXPECT_FALSE(Checked(dialog, M::IdNormalized));

    // Nothing but the absolute bit: refused, and the dialog stays open.
    Click(dialog, M::IdPosition);
    Click(dialog, M::IdOk);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "마우스의 아무런 기능도 선택되지 않았습니다.");
    EXPECT_TRUE(dialog.isVisible());

    // X2 pressed at the position the editor's capture key writes.
    C<QComboBox>(dialog, M::IdButton)->setCurrentIndex(MouseItemModel::X2);
    Click(dialog, M::IdPress);
    Click(dialog, M::IdPosition);
    dialog.SetItemPosition(-7, 12);
    EXPECT_EQ(Field(dialog, M::IdX), "-7");
    Click(dialog, M::IdOk);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(item, MakeMouseItem(-7, 12, MouseMove | MouseXDown | MouseAbsolute | 0x20000));
    EXPECT_EQ(memory.mouseFlags, item.mouseFlags());

    // Editing a wheel item and cancelling leaves it as it was.
    MacroItem wheel = MakeMouseItem(5, 6, MouseWheel | static_cast<int32_t>(0xFF880000u));
    const MacroItem before = wheel;
    CDialogMouse edit(wheel, memory, settings, session);
    Show(edit);
    EXPECT_EQ(edit.windowTitle(), "마우스 이벤트 편집");
    EXPECT_TRUE(Checked(edit, M::IdWheel));
    EXPECT_EQ(Field(edit, M::IdWheelAmount), "-120");
    Type(edit, M::IdWheelAmount, "240");
    Click(edit, M::IdCancel);
    EXPECT_EQ(wheel, before);
    EXPECT_EQ(memory.mouseX, -7);
}

TEST_F(ItemDialogsTest, DelayDialogEnablesTheCheckedGroupAndCapturesTheColourUnderTheCursor) {
    using D = CDialogDelay;
    settings.keyMacroColorStart = VK_F9;
    const auto swatchPixel = [](D& dialog) {
        return ColorRefFromColor(dialog.swatch()->grab().toImage().pixelColor(4, 4));
    };

    MacroItem timed = MakeDelayItem(1500, DelayTime, 3);
    D dialog(timed, memory, settings, session);
    Show(dialog);
    EXPECT_EQ(dialog.windowTitle(), "대기/시간지연 편집");
    EXPECT_TRUE(Checked(dialog, D::IdTimeRadio));
    EXPECT_EQ(Field(dialog, D::IdSeconds), "1.500");
    EXPECT_EQ(C<QComboBox>(dialog, D::IdRandom)->currentText(), "+- 30%");
    EXPECT_EQ(C<QComboBox>(dialog, D::IdSecond)->currentText(), "--");
    EXPECT_EQ(C<QComboBox>(dialog, D::IdKey)->currentIndex(), KeyIndexOf(0x31));
    EXPECT_EQ(Field(dialog, D::IdRed), "255");
    EXPECT_EQ(Field(dialog, D::IdTolerance), "10");
    EXPECT_EQ(C<QLabel>(dialog, D::IdCaptureHint)->text(), "F9 key를 눌러 화면 색과 마우스 위치를 캡쳐합니다.");
    EXPECT_EQ(swatchPixel(dialog), 0xFFFFFFu);

    const std::vector<int> groups[] = {
        {D::IdSeconds, D::IdRandom},
        {D::IdHour, D::IdMinute, D::IdSecond},
        {D::IdKey, D::IdOnPress, D::IdModifiers},
        {D::IdRed, D::IdGreen, D::IdBlue, D::IdChooseColor, D::IdPosX, D::IdPosY, D::IdTolerance, D::IdCaptureHint}};
    const auto expectEnabled = [&](int group) {
        for (int g = 0; g < 4; ++g)
            for (int id : groups[g]) EXPECT_EQ(Enabled(dialog, id), g == group) << id;
    };
    expectEnabled(0);
    for (int id : {D::IdCtrl, D::IdAlt, D::IdShift}) EXPECT_FALSE(Enabled(dialog, id));

    // The key group: the modifier boxes only with 1123; 1111 names its state.
    Click(dialog, D::IdKeyRadio);
    expectEnabled(2);
    EXPECT_FALSE(Enabled(dialog, D::IdCtrl));
    Click(dialog, D::IdModifiers);
    for (int id : {D::IdCtrl, D::IdAlt, D::IdShift}) EXPECT_TRUE(Enabled(dialog, id));
    Click(dialog, D::IdOnPress);
    EXPECT_EQ(C<QAbstractButton>(dialog, D::IdOnPress)->text(), "뗄 때");
    Click(dialog, D::IdClockRadio);
    expectEnabled(1);
    EXPECT_FALSE(Enabled(dialog, D::IdCtrl));

    // The capture key over a known pixel, only while the colour radio is checked; a release does nothing.
    fake.SetPixel(30, 40, 0x00563412);
    fake.SetCursor(30, 40);
    Key(VK_F9, true);
    EXPECT_EQ(Field(dialog, D::IdRed), "255");
    Click(dialog, D::IdColorRadio);
    expectEnabled(3);
    Key(VK_F9, false);
    EXPECT_EQ(Field(dialog, D::IdRed), "255");
    Key(VK_F9, true);
    EXPECT_EQ(Field(dialog, D::IdRed), "18");
    EXPECT_EQ(Field(dialog, D::IdGreen), "52");
    EXPECT_EQ(Field(dialog, D::IdBlue), "86");
    EXPECT_EQ(Field(dialog, D::IdPosX), "30");
    EXPECT_EQ(Field(dialog, D::IdPosY), "40");
    EXPECT_EQ(dialog.swatch()->color(), 0x563412u);
    EXPECT_EQ(swatchPixel(dialog), 0x563412u);

    // Typing repaints the swatch; the chooser starts from the fields and fills them.
    Type(dialog, D::IdBlue, "300");
    EXPECT_EQ(dialog.swatch()->color(), 0xFF3412u);
    chosenColor = 0x00030201;
    Click(dialog, D::IdChooseColor);
    EXPECT_EQ(colorAskedWith, std::vector<uint32_t>{0xFF3412u});
    EXPECT_EQ(Field(dialog, D::IdRed), "1");
    EXPECT_EQ(Field(dialog, D::IdBlue), "3");
    EXPECT_EQ(swatchPixel(dialog), 0x030201u);
    chosenColor.reset();
    Click(dialog, D::IdChooseColor);
    EXPECT_EQ(Field(dialog, D::IdRed), "1");

    Type(dialog, D::IdTolerance, "20");
    Click(dialog, D::IdOk);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(timed, MakeDelayItem(0x14030201, DelayColor, PackPoint(30, 40)));

    // A new item opens on what was accepted; a clock without seconds is refused; Cancel remembers nothing.
    MacroItem added;
    D next(added, memory, settings, session);
    Show(next);
    EXPECT_EQ(next.windowTitle(), "대기/시간지연 추가");
    EXPECT_TRUE(Checked(next, D::IdColorRadio));
    EXPECT_EQ(Field(next, D::IdTolerance), "20");
    Click(next, D::IdClockRadio);
    Click(next, D::IdOk);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "지연 시각이 제대로 설정되지 않았습니다.");
    EXPECT_TRUE(next.isVisible());
    Click(next, D::IdCancel);
    EXPECT_EQ(memory.delayKind, DelayColor);
}

TEST_F(ItemDialogsTest, TextDialogStoresCrLfAndRefusesAnEmptyText) {
    using S = CDialogString;
    memory.textFlags = TextRandom;
    MacroItem item;
    S dialog(item, memory);
    Show(dialog);
    EXPECT_TRUE(Checked(dialog, S::IdRandom));
    Click(dialog, S::IdOk);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "문자열이 비어 있습니다.");
    EXPECT_TRUE(dialog.isVisible());

    // Enter makes a new line in the text; a comment disables the options but keeps them.
    auto* text = C<CEditEx>(dialog, S::IdText);
    QTest::keyClicks(text, "ab");
    QTest::keyClick(text, Qt::Key_Return);
    QInputMethodEvent hangul; // typed through the input method
    hangul.setCommitString(QStringLiteral("가"));
    QCoreApplication::sendEvent(text, &hangul);
    EXPECT_TRUE(dialog.isVisible());
    Click(dialog, S::IdComment);
    EXPECT_FALSE(Enabled(dialog, S::IdRandom));
    EXPECT_FALSE(Enabled(dialog, S::IdSequence));
    EXPECT_TRUE(Checked(dialog, S::IdRandom));
    Click(dialog, S::IdOk);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(item, MakeStringItem("ab\r\n" + Utf8ToCp949("가"), TextRandom | TextComment));

    // Editing shows the lines; Cancel keeps the item.
    MacroItem existing = MakeStringItem("x\r\ny", TextSequence);
    const MacroItem before = existing;
    S edit(existing, memory);
    EXPECT_EQ(edit.windowTitle(), "문자열 편집");
    EXPECT_EQ(C<CEditEx>(edit, S::IdText)->toPlainText(), "x\ny");
    EXPECT_TRUE(Enabled(edit, S::IdRandom));
    C<CEditEx>(edit, S::IdText)->setPlainText("z");
    edit.reject();
    EXPECT_EQ(existing, before);
}

TEST_F(ItemDialogsTest, CallSectionAndLoopDialogsRefuseWhatTheirModelsRefuse) {
    MacroLibrary library{MakeNewMacro("zero"), MakeNewMacro("own"), MakeNewMacro(Utf8ToCp949("둘"))};
    {
        using K = CDialogMacro;
        MacroItem item;
        K dialog(item, memory, library, 1);
        Show(dialog);
        auto* list = C<QComboBox>(dialog, K::IdMacro);
        EXPECT_EQ(list->itemText(2), "둘");
        EXPECT_EQ(list->currentIndex(), 0); // the remembered index
        EXPECT_TRUE(Checked(dialog, K::IdSequential));
        list->setCurrentIndex(1);
        Click(dialog, K::IdOk);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "자기 자신을 호출할 수 없습니다.");
        EXPECT_TRUE(dialog.isVisible());
        list->setCurrentIndex(2);
        Click(dialog, K::IdParallel);
        Click(dialog, K::IdOk);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(item, MakeCallItem(Utf8ToCp949("둘"), CallParallel));

        // A call of a macro renamed since: nothing chosen, OK asks for a choice; Cancel keeps the item.
        MacroItem stale = MakeCallItem("gone", CallStop);
        const MacroItem before = stale;
        K edit(stale, memory, library, 3);
        Show(edit);
        EXPECT_EQ(edit.windowTitle(), "매크로 호출 편집");
        EXPECT_EQ(C<QComboBox>(edit, K::IdMacro)->currentIndex(), -1);
        Click(edit, K::IdOk);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[1], "호출할 매크로가 선택되지 않았습니다.");
        Click(edit, K::IdCancel);
        EXPECT_EQ(stale, before);
    }
    {
        MacroItem item;
        CDialogCS dialog(item, memory);
        Show(dialog);
        EXPECT_TRUE(Checked(dialog, CDialogCS::IdEnter));
        Click(dialog, CDialogCS::IdLeave);
        Click(dialog, CDialogCS::IdOk);
        EXPECT_EQ(item, MakeExclusiveItem(false));
        EXPECT_EQ(memory.sectionEnter, 0);
    }
    {
        using L = CDialogLoop;
        MacroItem item;
        L dialog(item, memory);
        Show(dialog);
        EXPECT_TRUE(Checked(dialog, L::IdEnter));
        EXPECT_EQ(Field(dialog, L::IdStop), "10");
        Type(dialog, L::IdStart, "50");
        Type(dialog, L::IdStop, "20");
        Type(dialog, L::IdStep, "5");
        Click(dialog, L::IdOk);
        ASSERT_EQ(messages.size(), 3u);
        EXPECT_EQ(messages[2], "반복구간의 간격이 0보다 작아야 합니다.");
        EXPECT_TRUE(dialog.isVisible());
        Type(dialog, L::IdStep, "65531"); // cut to 16 bits: -5
        Click(dialog, L::IdOk);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(item, MakeLoopItem(LoopEnter, -5, 50, 20));

        // The hidden ask-user box shows the item's bit but is never read: OK clears it.
        MacroItem asking = MakeLoopItem(LoopOutputX | LoopAskUser, 1, 0, 3);
        L edit(asking, memory);
        EXPECT_EQ(edit.windowTitle(), "반복구간 편집");
        EXPECT_TRUE(Checked(edit, L::IdOutputX));
        EXPECT_TRUE(Checked(edit, L::IdAskUser));
        edit.accept();
        EXPECT_EQ(asking, MakeLoopItem(LoopOutputX, 1, 0, 3));
    }
}

// The macro editor's buttons open the dialog of each item type, modally over it, and take the item back on OK only.
TEST_F(ItemDialogsTest, TheMacroEditorAddsAndEditsItemsThroughTheirDialogs) {
    using E = CDialogMacroEdit;
    constexpr uint8_t VK_F10 = 0x79;
    settings.keyMousePosCapture = VK_F10;
    session.library() = {MakeNewMacro("zero"), MakeNewMacro("own")};
    Macro working = session.library()[1];
    E editor(session, editing, working, 1);
    Show(editor);
    const auto& items = editor.model().macro().items;
    for (int id : {E::IdAddKey, E::IdAddMouse, E::IdAddDelay, E::IdAddString, E::IdAddCall, E::IdAddExclusive,
                   E::IdAddLoop, E::IdEditItem})
        EXPECT_TRUE(Enabled(editor, id)) << id;

    // act runs in the dialog the next command opens, and must close it.
    const auto inNextDialog = [](const char* id, std::function<void(QDialog&)> act) {
        QTimer::singleShot(0, [id, act] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << "no dialog open";
            EXPECT_EQ(dialog->objectName(), id);
            act(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                dialog->reject();
            }
        });
    };

    inNextDialog("129", [](QDialog& d) {
        C<QComboBox>(d, CDialogKeyboard::IdKey)->setCurrentIndex(KeyIndexOf(VK_A));
        Click(d, CDialogKeyboard::IdOk);
    });
    Click(editor, E::IdAddKey);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1], MakeKeyItem(VK_A, ActionPress | ActionRelease));
    EXPECT_EQ(editor.focusWidget(), editor.itemList());
    EXPECT_EQ(C<QLabel>(editor, E::IdSummary)->text().left(12), "1개 항목이 기록됨 (");

    // While the mouse dialog runs, the capture key fills its position: relative captures give the movement.
    inNextDialog("131", [this](QDialog& d) {
        Click(d, CDialogMouse::IdAbsolute);
        MoveMouse(100, 100);
        Key(VK_F10, true);
        EXPECT_EQ(Field(d, CDialogMouse::IdX), "100");
        MoveMouse(130, 90);
        Key(VK_F10, true);
        EXPECT_EQ(Field(d, CDialogMouse::IdX), "30");
        EXPECT_EQ(Field(d, CDialogMouse::IdY), "-10");
        Click(d, CDialogMouse::IdOk);
    });
    Click(editor, E::IdAddMouse);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[2], MakeMouseItem(30, -10, MouseMove));
    // Afterwards the capture key adds an item again.
    Key(VK_F10, true);
    EXPECT_EQ(items.size(), 4u);

    // The call dialog knows which macro is being edited.
    inNextDialog("135", [this](QDialog& d) {
        C<QComboBox>(d, CDialogMacro::IdMacro)->setCurrentIndex(1);
        Click(d, CDialogMacro::IdOk);
        EXPECT_EQ(messages.back(), "자기 자신을 호출할 수 없습니다.");
        Click(d, CDialogMacro::IdCancel);
    });
    Click(editor, E::IdAddCall);
    EXPECT_EQ(items.size(), 4u);
    const std::pair<int, const char*> others[] = {
        {E::IdAddDelay, "130"}, {E::IdAddString, "134"}, {E::IdAddExclusive, "137"}, {E::IdAddLoop, "138"}};
    for (const auto& [button, dialog] : others) {
        inNextDialog(dialog, [](QDialog& d) { d.reject(); });
        Click(editor, button);
    }
    EXPECT_EQ(items.size(), 4u);

    // Edit opens the lowest selected row's dialog on a copy: Cancel keeps the item, OK replaces it.
    editor.itemList()->setCurrentRow(1);
    inNextDialog("129", [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "키보드 이벤트 편집");
        C<QComboBox>(d, CDialogKeyboard::IdKey)->setCurrentIndex(KeyIndexOf(VK_F9));
        Click(d, CDialogKeyboard::IdCancel);
    });
    Click(editor, E::IdEditItem);
    EXPECT_EQ(items[1], MakeKeyItem(VK_A, ActionPress | ActionRelease));
    inNextDialog("131", [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "마우스 이벤트 편집");
        Type(d, CDialogMouse::IdX, "5");
        Click(d, CDialogMouse::IdOk);
    });
    editor.itemList()->setCurrentRow(2); // the double-click's first press
    emit editor.itemList()->itemDoubleClicked(editor.itemList()->item(2));
    EXPECT_EQ(items[2], MakeMouseItem(5, -10, MouseMove));
    EXPECT_EQ(editor.model().SelectedRows(), std::vector<int>{2});
}

} // namespace
} // namespace quillet::gui
