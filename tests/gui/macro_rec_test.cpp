// The recorder's window on the offscreen platform with the fake backend: its controls, the option boxes and the
// record button following the model, and Record from the main window with keys typed on the desktop (through the
// fake input monitor) becoming the items of a macro that OK appends and Cancel drops. The recorder's rules
// themselves are tested headless.
#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/editors/condition_dialog.h"
#include "gui/editors/macro_rec.h"
#include "gui/mainwindow/main_window.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "modal_support.h"
#include "model/cp949.h"
#include "model/library_file.h"
#include "platform/fake/fake_platform.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

using R = CDialogMacroRec;
using D = CQuilletDlg;

constexpr uint8_t VK_A = 0x41, VK_B = 0x42, VK_F11 = 0x7A;

class MacroRecTest : public testing::Test {
protected:
    MacroRecTest()
        : hooks({[](const MessageBoxRequest&) { return QMessageBox::Ok; }, {}, {}}),
          settings((folder.path() / "Quillet.ini").string(), false), session(fake.platform(), settings, counter, loop) {
        settings.keyMacroRecord = VK_F11;
        settings.recOptions = 0xB7; // keys, buttons, movement, pauses, merging, absolute positions
        settings.recEventTimeInterval = 100;
    }

    // Runs act in the recorder that the next command opens modally; act must close it.
    void InNextRecorder(std::function<void(R&)> act) { modal.Run(std::move(act)); }
    // A click as assistive technology makes it: a mouse click at a wide check box's centre may miss its text.
    static void Click(QWidget& w, int id) { FindControl<QAbstractButton>(&w, id)->click(); }
    static bool Checked(QWidget& w, int id) { return FindControl<QAbstractButton>(&w, id)->isChecked(); }
    static bool Enabled(QWidget& w, int id) { return FindControl<QWidget>(&w, id)->isEnabled(); }
    // A person presses and releases a key anywhere on the desktop.
    void Tap(uint8_t vk) { test::TapKey(fake, loop, vk); }
    static std::vector<QString> Rows(const QListWidget* list) {
        std::vector<QString> rows;
        for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text());
        return rows;
    }

    test::TestFolder folder;
    ScopedDialogHooks hooks;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    Session session;
    Point lastRecordedPos;
    test::NextModal<R> modal{"recorder"};
};

TEST_F(MacroRecTest, ControlsCaptionsAndTheBoxesFollowTheOptionsAndTheRecordButton) {
    session.library().push_back(MakeNewMacro("Macro Rec. 1"));
    Macro macro;
    R recorder(session, macro, lastRecordedPos);
    EXPECT_EQ(recorder.windowTitle(), "매크로 기록");
    EXPECT_EQ(Cp949ToUtf8(macro.name), "Macro Rec. 2");
    EXPECT_EQ(FindControl<QLabel>(&recorder, R::IdHelp)->text(), "F11 key로 매크로 기록을 시작하거나 중지합니다.");
    EXPECT_EQ(FindControl<QLabel>(&recorder, R::IdSummary)->text(), "0개 항목이 기록됨 (0 초)");
    EXPECT_EQ(Rows(recorder.itemList()), std::vector<QString>{"    (시작)"});
    EXPECT_EQ(recorder.itemList()->currentRow(), 0);
    EXPECT_TRUE(recorder.displayTimer()->isActive());
    EXPECT_EQ(recorder.displayTimer()->interval(), 33);

    const std::pair<int, const char*> captions[] = {
        {R::IdRecord, "기록 대기 중"},
        {R::IdKeys, "키보드 키"},
        {R::IdButtons, "마우스 버튼"},
        {R::IdMovement, "마우스 움직임:"},
        {R::IdWheel, "마우스 휠"},
        {R::IdPauses, "시간 지연:"},
        {R::IdMerge, "버튼의 누르기/떼기 이벤트를 하나의 이벤트로 합치기"},
        {R::IdNormalized, "화면 해상도와 무관하게 마우스 위치 기록"},
        {R::IdAbsolute, "마우스의 절대 위치를 기록; 체크 해제인 경우 상대 위치를 기록"},
        {R::IdButtonPosition, "위치 포함"},
        {R::IdCondition, "시작/중지 조건"},
        {R::IdOk, "OK"},
        {R::IdCancel, "Cancel"}};
    for (const auto& [id, text] : captions) {
        auto* b = FindControl<QAbstractButton>(&recorder, id);
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->text(), text) << id;
        EXPECT_EQ(b->accessibleName(), text) << id;
    }
    EXPECT_EQ(FindControl<QLineEdit>(&recorder, R::IdDistance)->accessibleName(), "마우스 움직임:");
    EXPECT_EQ(FindControl<QLineEdit>(&recorder, R::IdPause)->accessibleName(), "시간 지연:");
    EXPECT_EQ(FindControl<QLineEdit>(&recorder, R::IdRepeat)->accessibleName(), "매크로 반복 실행 횟수:");
    EXPECT_EQ(FindControl<QLineEdit>(&recorder, R::IdRepeat)->text(), "1");
    EXPECT_EQ(FindControl<QLineEdit>(&recorder, R::IdPause)->text(), "100");
    EXPECT_FALSE(recorder.itemList()->accessibleName().isEmpty());
    EXPECT_FALSE(FindControl<QLabel>(&recorder, R::IdHelp)->text().isEmpty());

    // The boxes show recOptions; "resolution-independent" goes with "absolute".
    const int boxes[] = {R::IdKeys,  R::IdButtons,    R::IdMovement, R::IdWheel,         R::IdPauses,
                         R::IdMerge, R::IdNormalized, R::IdAbsolute, R::IdButtonPosition};
    int32_t shown = 0;
    for (int id : boxes) shown |= Checked(recorder, id) ? 1 << (id - R::IdKeys) : 0;
    EXPECT_EQ(shown, (1 << 0) | (1 << 1) | (1 << 2) | (1 << 3) | (1 << 5) | (1 << 7)) << "0xB7 as boxes 1011..1019";
    EXPECT_TRUE(Enabled(recorder, R::IdNormalized));
    Click(recorder, R::IdNormalized);
    EXPECT_EQ(settings.recOptions, 0xF7) << "a click stores at once";
    Click(recorder, R::IdAbsolute);
    EXPECT_EQ(settings.recOptions, 0x37);
    EXPECT_FALSE(Checked(recorder, R::IdNormalized));
    EXPECT_FALSE(Enabled(recorder, R::IdNormalized));

    // The record button: everything the person could change is locked while recording.
    FindControl<QLineEdit>(&recorder, R::IdDistance)->setText("4");
    Click(recorder, R::IdRecord);
    EXPECT_TRUE(recorder.model().recording());
    EXPECT_TRUE(Checked(recorder, R::IdRecord));
    EXPECT_EQ(FindControl<QAbstractButton>(&recorder, R::IdRecord)->text(), "매크로 기록 중");
    EXPECT_EQ(settings.recMouseDistance, 4);
    for (int id : boxes) EXPECT_FALSE(Enabled(recorder, id)) << id;
    for (int id : {R::IdDistance, R::IdPause, R::IdRepeat}) EXPECT_FALSE(Enabled(recorder, id)) << id;
    EXPECT_TRUE(Enabled(recorder, R::IdOk));
    Click(recorder, R::IdRecord);
    EXPECT_FALSE(recorder.model().recording());
    EXPECT_EQ(FindControl<QAbstractButton>(&recorder, R::IdRecord)->text(), "기록 대기 중");
    for (int id : boxes) EXPECT_EQ(Enabled(recorder, id), id != R::IdNormalized) << id;
}

TEST_F(MacroRecTest, RecordFromTheMainWindowTheRecordKeyTogglesAndOkAppendsTheMacro) {
    ASSERT_TRUE(SaveMacroLibrary("macro.m", {MakeNewMacro("first")}).ok);
    D w(session);
    w.show();
    const std::size_t depth = session.router().depth();
    InNextRecorder([&](R& recorder) {
        // The test plays the display timer's ticks itself: on a slow machine (a sanitizer build) 33 ms pass while
        // the condition dialog's loop runs below, and the real timer would take the batch first.
        ASSERT_TRUE(recorder.displayTimer()->isActive());
        recorder.displayTimer()->stop();
        EXPECT_EQ(session.router().depth(), depth + 1) << "the recorder takes live input while open";
        Tap(VK_A);   // waiting: not recorded
        Tap(VK_F11); // starts; its press is the first item and its release joins it
        EXPECT_TRUE(Checked(recorder, R::IdRecord));
        Tap(VK_A);
        fake.AdvanceMs(250);
        Tap(VK_B);

        // The condition dialog opens on the recorded macro and takes the live input while it is open.
        QTimer::singleShot(0, [&] {
            auto* conditions = qobject_cast<CDialogMacroStart*>(QApplication::activeModalWidget());
            if (!conditions) {
                ADD_FAILURE() << "no condition dialog open";
                return;
            }
            EXPECT_EQ(session.router().depth(), depth + 2);
            Tap(VK_A);
            conditions->reject();
        });
        Click(recorder, R::IdCondition);
        EXPECT_EQ(recorder.model().macro().itemCount(), 5) << "nothing recorded while the condition dialog was open";

        Tap(VK_F11); // stops, and is not recorded
        EXPECT_FALSE(recorder.model().recording());
        Tap(VK_A);

        // The display timer's tick takes the batch and selects the last line.
        EXPECT_EQ(recorder.itemList()->count(), 1);
        recorder.OnDisplayTimer();
        ASSERT_EQ(recorder.itemList()->count(), 5);
        EXPECT_EQ(recorder.itemList()->currentRow(), 4);
        EXPECT_TRUE(recorder.itemList()->item(4)->isSelected());
        EXPECT_EQ(FindControl<QLabel>(&recorder, R::IdSummary)->text(), "4개 항목이 기록됨 (0.382 초)");

        FindControl<QLineEdit>(&recorder, R::IdRepeat)->setText("3");
        Click(recorder, R::IdOk);
    });
    Click(w, D::IdRecord);
    EXPECT_FALSE(modal.pending());
    EXPECT_EQ(session.router().depth(), depth);

    ASSERT_EQ(w.library().size(), 2u);
    const Macro& m = w.library()[1];
    EXPECT_EQ(m.name, "Macro Rec. 1");
    EXPECT_EQ(m.repeatCount(), 3);
    EXPECT_EQ(m.startKey, 113);
    const std::vector<MacroItem> expected = {
        MacroItem{}, MakeKeyItem(VK_F11, ActionPress | ActionRelease), MakeKeyItem(VK_A, ActionPress | ActionRelease),
        MakeDelayItem(250, DelayTime, 0), MakeKeyItem(VK_B, ActionPress | ActionRelease)};
    EXPECT_TRUE(m.items == expected);
    EXPECT_TRUE(w.modified());
    EXPECT_EQ(w.SelectedEditIndex(), 1);
    EXPECT_EQ(FindControl<QListWidget>(&w, D::IdEditList)->item(1)->text(), "Macro Rec. 1");
    EXPECT_EQ(FindControl<QLabel>(&w, D::IdCount)->text(), "2개 매크로 기록됨.");
}

TEST_F(MacroRecTest, CancelDropsTheRecordingButKeepsTheOptionsAndRunModeOpensNothing) {
    ASSERT_TRUE(SaveMacroLibrary("macro.m", {MakeNewMacro("first")}).ok);
    D w(session);
    w.show();
    const std::string before = SerializeMacroLibrary(w.library());
    InNextRecorder([this](R& recorder) {
        Click(recorder, R::IdWheel);
        Tap(VK_F11);
        Tap(VK_A);
        EXPECT_EQ(recorder.model().macro().itemCount(), 3);
        Click(recorder, R::IdCancel); // while recording
    });
    Click(w, D::IdRecord);
    EXPECT_FALSE(modal.pending());
    EXPECT_EQ(SerializeMacroLibrary(w.library()), before);
    EXPECT_FALSE(w.modified());
    EXPECT_EQ(FindControl<QListWidget>(&w, D::IdEditList)->count(), 1);
    EXPECT_EQ(settings.recOptions, 0xBF) << "the options stay changed";

    // In run mode the button is off and the command refuses.
    Click(w, D::IdRunRadio);
    EXPECT_FALSE(Enabled(w, D::IdRecord));
    InNextRecorder([](R& recorder) {
        ADD_FAILURE() << "the recorder opened in run mode";
        recorder.reject();
    });
    w.OnRecord();
    modal.Cancel();
    EXPECT_EQ(SerializeMacroLibrary(w.library()), before);
}

} // namespace
} // namespace quillet::gui
