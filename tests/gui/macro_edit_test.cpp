// The macro editor's window on the offscreen platform with the fake backend: Add and Edit from the main window
// (the library grows, or stays byte for byte as it was after Cancel), the OK check's message, the list's keys and
// undo routed to the model, live input through the router, the test run driven tick by tick, the trail window and
// the hidden test group. The editor's rules themselves are tested headless with its model.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/editors/macro_edit.h"
#include "gui/editors/trail_overlay.h"
#include "gui/mainwindow/main_window.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/widgets/list_box_ex.h"
#include "modal_support.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "model/library_file.h"
#include "platform/fake/fake_platform.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

using E = CDialogMacroEdit;
using D = CQuilletDlg;

constexpr uint8_t VK_A = 0x41, VK_B = 0x42, VK_C = 0x43, VK_INSERT = 0x2D, VK_F10 = 0x79;

Macro KeysMacro(const char* name) {
    Macro m = MakeNewMacro(name);
    for (uint8_t vk : {VK_A, VK_B, VK_C}) m.items.push_back(MakeKeyItem(vk, ActionPress | ActionRelease));
    return m;
}

std::vector<QString> Rows(const QListWidget* list) {
    std::vector<QString> rows;
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text());
    return rows;
}

class MacroEditTest : public testing::Test {
protected:
    MacroEditTest()
        : hooks({[this](const MessageBoxRequest& r) {
                     messages.push_back(r.text);
                     return QMessageBox::Ok;
                 },
                 {},
                 {}}),
          settings((folder.path() / "Quillet.ini").string(), false), session(fake.platform(), settings, counter, loop) {
        settings.macroOptions &= ~OptionHideEditorTest; // the test group shown
    }

    // Runs act in the macro editor that the next command opens modally; act must close it.
    void InNextEditor(std::function<void(E&)> act) { modal.Run(std::move(act)); }
    static void Click(QWidget& w, int id) { QTest::mouseClick(FindControl<QAbstractButton>(&w, id), Qt::LeftButton); }
    // A person replaces the text of a field.
    static void Type(QWidget& w, int id, const QString& text) {
        auto* edit = FindControl<QLineEdit>(&w, id);
        edit->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Backspace);
            return;
        }
        // Through the input method, as Hangul is typed.
        QInputMethodEvent typed;
        typed.setCommitString(text);
        QCoreApplication::sendEvent(edit, &typed);
    }
    // A person presses and releases a key anywhere on the desktop.
    void Tap(uint8_t vk) { test::TapKey(fake, loop, vk); }
    // One period of the test run's timer and of the window's display timer.
    void TestTick(E& editor) {
        fake.AdvanceMs(33);
        fake.FireTimers();
        QCoreApplication::sendPostedEvents(&loop);
        editor.OnDisplayTimer();
    }
    std::vector<uint8_t> KeysDown() const {
        std::vector<uint8_t> keys;
        for (const platform::FakeEvent& e : fake.KeyEvents())
            if ((e.flags & 0x2) == 0) keys.push_back(e.vk); // without KEYEVENTF_KEYUP
        return keys;
    }

    test::TestFolder folder;
    std::vector<QString> messages;
    ScopedDialogHooks hooks;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    Session session;
    EditingContext editing; // what the editors opened here share
    test::NextModal<E> modal{"macro editor"};
};

TEST_F(MacroEditTest, ANewMacroShowsItsDefaultsAndEveryControlHasACaptionAndAnAccessibleName) {
    session.library().push_back(MakeNewMacro("Macro 1"));
    settings.keyMousePosCapture = VK_F10;
    Macro working;
    E editor(session, editing, working, 1);
    EXPECT_EQ(editor.windowTitle(), "매크로 추가");
    EXPECT_EQ(FindControl<QLineEdit>(&editor, E::IdName)->text(), "Macro 2");
    EXPECT_EQ(FindControl<QLineEdit>(&editor, E::IdRepeat)->text(), "1");
    EXPECT_TRUE(FindControl<QLabel>(&editor, E::IdHint)->text().startsWith("F10 key를 눌러 현재 마우스 위치를"));
    EXPECT_EQ(FindControl<QLabel>(&editor, E::IdSummary)->text(), "0개 항목이 기록됨 (0 초)");
    EXPECT_EQ(Rows(editor.itemList()), std::vector<QString>{"    (시작)"});
    EXPECT_EQ(editor.itemList()->SelectedRows(), std::vector<int>{0});

    const std::pair<int, const char*> captions[] = {{E::IdCondition, "시작/중지 조건"},
                                                    {E::IdAddKey, "키보드 추가"},
                                                    {E::IdAddMouse, "마우스 추가"},
                                                    {E::IdAddDelay, "지연 추가"},
                                                    {E::IdAddString, "문자열 추가"},
                                                    {E::IdAddCall, "매크로 호출"},
                                                    {E::IdAddExclusive, "독점영역 추가"},
                                                    {E::IdAddLoop, "반복구간 추가"},
                                                    {E::IdEditItem, "편집"},
                                                    {E::IdDelete, "삭제"},
                                                    {E::IdUp, "^"},
                                                    {E::IdDown, "v"},
                                                    {E::IdHideTest, "매크로 테스트 숨기기"},
                                                    {E::IdOk, "OK"},
                                                    {E::IdCancel, "Cancel"},
                                                    {E::IdTestStart, "매크로 시험 실행"},
                                                    {E::IdTestStop, "중단"},
                                                    {E::IdTestHotkeys, "시작/중지 단축키 사용"},
                                                    {E::IdTrail, "마우스 궤적 표시"},
                                                    {E::IdEraseTrail, "지우기"},
                                                    {E::IdBlueBoxes, "선택항목 파란색 박스 표시"}};
    for (const auto& [id, text] : captions) {
        auto* b = FindControl<QAbstractButton>(&editor, id);
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->text(), text) << id;
        EXPECT_EQ(b->accessibleName(), text) << id;
    }
    EXPECT_EQ(FindControl<QWidget>(&editor, E::IdName)->accessibleName(), "매크로 이름:");
    EXPECT_EQ(FindControl<QWidget>(&editor, E::IdRepeat)->accessibleName(), "매크로 반복 실행 횟수:");
    EXPECT_FALSE(editor.itemList()->accessibleName().isEmpty());

    // Idle: the stop button and the buttons of dialogs not built yet are off, the rest on.
    for (int id : E::kEditingControls) {
        const bool pending = std::find(E::kPendingDialogButtons.begin(), E::kPendingDialogButtons.end(), id) !=
                             E::kPendingDialogButtons.end();
        EXPECT_EQ(FindControl<QWidget>(&editor, id)->isEnabled(), !pending && id != E::IdTestStop) << id;
    }
}

TEST_F(MacroEditTest, AddFromTheMainWindowAppendsOnOkAndAnEmptyNameKeepsTheEditorOpen) {
    ASSERT_TRUE(SaveMacroLibrary("macro.m", {KeysMacro("first")}).ok);
    D w(session);
    w.show();
    InNextEditor([this](E& editor) {
        Type(editor, E::IdName, "");
        Click(editor, E::IdOk);
        EXPECT_TRUE(editor.isVisible());
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "매크로 이름이 지정되지 않았습니다. 이름을 입력하시기 바랍니다.");

        Type(editor, E::IdName, "둘째");
        Type(editor, E::IdRepeat, "65536");
        Click(editor, E::IdOk);
        EXPECT_FALSE(editor.isVisible());
    });
    Click(w, D::IdAdd);
    EXPECT_FALSE(modal.pending());
    ASSERT_EQ(w.library().size(), 2u);
    EXPECT_EQ(Cp949ToUtf8(w.library()[1].name), "둘째");
    EXPECT_EQ(w.library()[1].repeatCount(), 65535);
    EXPECT_TRUE(w.modified());
    EXPECT_EQ(w.SelectedEditIndex(), 1);
    EXPECT_EQ(FindControl<QListWidget>(&w, D::IdEditList)->item(1)->text(), "둘째");
    EXPECT_EQ(FindControl<QLabel>(&w, D::IdCount)->text(), "2개 매크로 기록됨.");
}

TEST_F(MacroEditTest, EditCancelledLeavesTheLibraryByteForByteAndOkReplacesTheMacro) {
    ASSERT_TRUE(SaveMacroLibrary("macro.m", {KeysMacro("first"), KeysMacro("second")}).ok);
    settings.macroSel = 1;
    D w(session);
    w.show();
    const std::string before = SerializeMacroLibrary(w.library());

    // Everything changed in the editor, then Cancel.
    InNextEditor([](E& editor) {
        EXPECT_EQ(editor.windowTitle(), "매크로 편집");
        Type(editor, E::IdName, "renamed");
        editor.itemList()->setFocus();
        QTest::keyClick(editor.itemList(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(editor.itemList(), Qt::Key_Delete);
        EXPECT_EQ(editor.itemList()->count(), 1);
        Click(editor, E::IdCancel);
    });
    Click(w, D::IdEdit);
    EXPECT_EQ(SerializeMacroLibrary(w.library()), before);
    EXPECT_FALSE(w.modified());

    // The other macro's name is refused; the macro's own name is not. A double-click opens the editor too.
    InNextEditor([this](E& editor) {
        Type(editor, E::IdName, "first");
        Click(editor, E::IdOk);
        EXPECT_EQ(messages.back(), "같은 이름의 매크로가 존재합니다. 다른 이름을 입력하시기 바랍니다.");
        Type(editor, E::IdName, "second");
        Click(editor, E::IdDelete); // the start item alone is selected: nothing goes
        editor.itemList()->setCurrentRow(3);
        Click(editor, E::IdDelete);
        Click(editor, E::IdOk);
    });
    QListWidget* list = FindControl<QListWidget>(&w, D::IdEditList);
    emit list->itemDoubleClicked(list->item(1));
    EXPECT_EQ(w.library()[1].itemCount(), 3);
    EXPECT_EQ(w.library()[0].itemCount(), 4);
    EXPECT_TRUE(w.modified());
    EXPECT_EQ(w.SelectedEditIndex(), 1);

    // In run mode neither command opens anything.
    Click(w, D::IdRunRadio);
    InNextEditor([](E& editor) {
        ADD_FAILURE() << "an editor opened in run mode";
        editor.reject();
    });
    w.OnEdit();
    w.OnAdd();
    EXPECT_TRUE(modal.pending());
    modal.Cancel();
    EXPECT_EQ(w.library().size(), 2u);
}

// A string with line breaks and tabs is one row high like every other, with the breaks shown as marks; the item and
// the clipboard export keep them.
TEST_F(MacroEditTest, EveryRowIsOneLineHighWhateverTheStringHolds) {
    Macro working = KeysMacro("lines");
    working.items.insert(working.items.begin() + 2, MakeStringItem("one\r\ntwo\r\nthree\tend"));
    E editor(session, editing, working, 0);
    editor.show();
    QCoreApplication::processEvents();
    CListBoxEx* list = editor.itemList();
    ASSERT_EQ(list->count(), 5);
    const QString row = list->item(2)->text();
    EXPECT_EQ(row, QStringLiteral("    문자열 'one¶two¶three→end'"));
    for (int i = 0; i < list->count(); ++i) {
        EXPECT_FALSE(list->item(i)->text().contains(QLatin1Char('\n'))) << i;
        EXPECT_EQ(list->visualItemRect(list->item(i)).height(), list->visualItemRect(list->item(0)).height()) << i;
    }
    EXPECT_EQ(working.items[2].text(), "one\r\ntwo\r\nthree\tend");
    EXPECT_NE(MacroText(working, 0).find("one\r\ntwo"), std::string::npos) << "the export keeps the breaks";
}

TEST_F(MacroEditTest, ListKeysLiveInputAndUndoAllGoThroughTheModel) {
    ASSERT_TRUE(session.StartInputMonitoring());
    settings.keyMousePosCapture = VK_F10;
    Macro working = KeysMacro("keys");
    E editor(session, editing, working, 0);
    editor.show();
    editor.activateWindow(); // the window's shortcuts work in the active window
    QCoreApplication::processEvents();
    ASSERT_TRUE(editor.isActiveWindow());
    CListBoxEx* list = editor.itemList();
    auto* name = FindControl<QLineEdit>(&editor, E::IdName);
    const QString summary = FindControl<QLabel>(&editor, E::IdSummary)->text();

    // Copy row 1 and paste it after row 2; the list keys leave the summary alone.
    list->setFocus();
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(list->count(), 5);
    EXPECT_EQ(list->item(3)->text(), list->item(1)->text());
    EXPECT_EQ(list->SelectedRows(), std::vector<int>{3});
    EXPECT_EQ(FindControl<QLabel>(&editor, E::IdSummary)->text(), summary);

    // The capture key, pressed while any window has the focus, adds the cursor's position after the selection.
    fake.SetCursor(321, 654);
    Tap(VK_F10);
    ASSERT_EQ(list->count(), 6);
    EXPECT_EQ(working.items[4], MakeMouseItem(321, 654, MouseMove | MouseAbsolute));
    EXPECT_EQ(list->item(4)->text(), FromCp949(editor.model().RowText(4)));
    EXPECT_EQ(list->SelectedRows(), std::vector<int>{4});
    // The Insert key's release copies the macro as text.
    Tap(VK_INSERT);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), FromCp949(editor.model().ExportText()));

    // Undo from the name field undoes the model's last step (the capture), not the field's typing.
    name->setFocus();
    QTest::keyClicks(name, "X");
    EXPECT_EQ(editor.model().nameText(), "keysX");
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->count(), 1);
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(list->count(), 6);
    EXPECT_EQ(name->text(), "keysX");
    QTest::keyClick(name, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(name->text(), "keys");
    EXPECT_EQ(editor.model().nameText(), "keys");
    // Redo from a button, through the window's shortcut.
    FindControl<QWidget>(&editor, E::IdOk)->setFocus();
    QTest::keyClick(FindControl<QWidget>(&editor, E::IdOk), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(name->text(), "keysX");

    // The delete button refreshes the summary.
    list->setCurrentRow(4);
    Click(editor, E::IdDelete);
    EXPECT_EQ(list->count(), 5);
    EXPECT_EQ(FindControl<QLabel>(&editor, E::IdSummary)->text(), FromCp949(editor.model().summary()));
    EXPECT_NE(FindControl<QLabel>(&editor, E::IdSummary)->text(), summary);
}

TEST_F(MacroEditTest, ATestRunStartsAtTheSelectedRowFollowsTheRunningItemAndStopsByItself) {
    Macro working = KeysMacro("keys");
    E editor(session, editing, working, 0);
    editor.show();
    CListBoxEx* list = editor.itemList();
    list->setCurrentRow(2); // the person's selection

    Click(editor, E::IdTestStart);
    ASSERT_TRUE(editor.model().testing());
    EXPECT_TRUE(editor.displayTimer()->isActive());
    EXPECT_EQ(editor.displayTimer()->interval(), 33);
    EXPECT_TRUE(FindControl<QWidget>(&editor, E::IdTestStop)->isEnabled());
    for (int id : {E::IdName, E::IdOk, E::IdCancel, E::IdTestStart, E::IdDelete, E::IdTrail, E::IdBlueBoxes})
        EXPECT_FALSE(FindControl<QWidget>(&editor, id)->isEnabled()) << id;
    EXPECT_TRUE(list->isEnabled());
    EXPECT_TRUE(FindControl<QWidget>(&editor, E::IdHideTest)->isEnabled());

    std::vector<std::vector<int>> shown;
    for (int i = 0; i < 20 && editor.model().testing(); ++i) {
        TestTick(editor);
        shown.push_back(list->SelectedRows());
    }
    EXPECT_FALSE(editor.model().testing());
    EXPECT_EQ(KeysDown(), (std::vector<uint8_t>{VK_B, VK_C}));
    EXPECT_EQ(shown.front(), std::vector<int>{3}); // the next item to run
    EXPECT_EQ(shown.back(), std::vector<int>{0});  // the end: the start item
    EXPECT_FALSE(editor.displayTimer()->isActive());
    EXPECT_FALSE(FindControl<QWidget>(&editor, E::IdTestStop)->isEnabled());
    EXPECT_TRUE(FindControl<QWidget>(&editor, E::IdTestStart)->isEnabled());
    EXPECT_TRUE(FindControl<QWidget>(&editor, E::IdOk)->isEnabled());

    // Stopped by its button before the end: nothing more is sent.
    fake.ClearEvents();
    list->setCurrentRow(1);
    Click(editor, E::IdTestStart);
    TestTick(editor);
    Click(editor, E::IdTestStop);
    EXPECT_FALSE(editor.model().testing());
    const std::size_t sent = fake.KeyEvents().size();
    TestTick(editor);
    EXPECT_EQ(fake.KeyEvents().size(), sent);
    EXPECT_TRUE(FindControl<QWidget>(&editor, E::IdName)->isEnabled());
}

TEST_F(MacroEditTest, TheTrailIsDrawnOverTheScreenAndGoesWithTheEditor) {
    Macro working = MakeNewMacro("trail");
    working.items.push_back(MakeMouseItem(100, 100, MouseMove | MouseAbsolute));
    working.items.push_back(MakeKeyItem(VK_A, ActionPress));
    working.items.push_back(MakeMouseItem(200, 150, MouseMove | MouseAbsolute | MouseLeftDown | MouseLeftUp));
    E editor(session, editing, working, 0);
    editor.show();
    Click(editor, E::IdTrail);
    CTrailOverlay* overlay = editor.trailOverlay();
    ASSERT_NE(overlay, nullptr);
    ASSERT_TRUE(overlay->isVisible());
    EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::FramelessWindowHint));

    const QRect area = overlay->geometry();
    EXPECT_TRUE(area.contains(QRect(100, 100, 105, 55))) << area.x() << "," << area.y() << " " << area.width();
    EXPECT_TRUE(QRect(95, 95, 115, 65).contains(area)) << area.x() << "," << area.y() << " " << area.width();
    const auto colorAt = [&](int x, int y) { return overlay->picture().pixelColor(QPoint(x, y) - overlay->origin()); };
    const auto shownAt = [&](int x, int y) { return overlay->mask().contains(QPoint(x, y) - overlay->origin()); };
    // A red line from (100, 100) to (200, 150), a dark-red box around the click, nothing elsewhere.
    EXPECT_EQ(colorAt(150, 125), QColor(255, 0, 0));
    EXPECT_TRUE(shownAt(150, 125));
    EXPECT_EQ(colorAt(200, 150), QColor(128, 0, 0));
    EXPECT_EQ(colorAt(203, 146), QColor(255, 0, 0)); // the box's outline
    EXPECT_EQ(colorAt(120, 140).alpha(), 0);
    EXPECT_FALSE(shownAt(120, 140));

    // Blue boxes around the selected mouse item when asked for.
    Click(editor, E::IdBlueBoxes);
    editor.itemList()->setCurrentRow(3);
    Click(editor, E::IdTrail);
    EXPECT_EQ(colorAt(200, 138), QColor(0, 0, 255));
    EXPECT_EQ(colorAt(200, 142), QColor(0, 0, 255));
    EXPECT_TRUE(shownAt(188, 150));

    Click(editor, E::IdEraseTrail);
    EXPECT_FALSE(overlay->isVisible());
    Click(editor, E::IdTrail);
    EXPECT_TRUE(overlay->isVisible());
    Click(editor, E::IdCancel);
    EXPECT_FALSE(overlay->isVisible());
}

TEST_F(MacroEditTest, HidingTheTestGroupCutsTheWindowAndIsRemembered) {
    Macro working = KeysMacro("keys");
    {
        E editor(session, editing, working, 0);
        editor.show();
        const QSize full = editor.fullSize();
        EXPECT_EQ(editor.size(), full);
        Click(editor, E::IdHideTest);
        EXPECT_EQ(editor.height(), MacroEditor::HiddenHeight(full.height()));
        EXPECT_EQ(editor.width(), full.width());
        EXPECT_FALSE(editor.findChild<QGroupBox*>("testGroup")->isVisible());
        EXPECT_NE(settings.macroOptions & OptionHideEditorTest, 0);
    }
    E editor(session, editing, working, 0);
    editor.show();
    EXPECT_TRUE(FindControl<QCheckBox>(&editor, E::IdHideTest)->isChecked());
    EXPECT_EQ(editor.height(), MacroEditor::HiddenHeight(editor.fullSize().height()));
    Click(editor, E::IdHideTest);
    EXPECT_EQ(editor.size(), editor.fullSize());
    EXPECT_TRUE(editor.findChild<QGroupBox*>("testGroup")->isVisible());
}

} // namespace
} // namespace quillet::gui
