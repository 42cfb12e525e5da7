// The main window on the offscreen platform with the fake backend: the library commands on real files in a
// temporary folder (the current directory during each test), the save question and the protection of a damaged
// file, run and edit mode with their buttons and lists, input from the fake monitor, and the window's end.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "gui/editors/config_dialog.h"
#include "gui/mainwindow/library_names.h"
#include "gui/mainwindow/main_window.h"
#include "gui/mainwindow/marker_overlay.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/toolwindows/key_mouse_status.h"
#include "gui/toolwindows/macro_debug.h"
#include "gui/widgets/edit_log.h"
#include "modal_support.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "model/library_file.h"
#include "platform/fake/fake_platform.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

namespace fs = std::filesystem;
using D = CQuilletDlg;

constexpr uint8_t VK_A = 0x41, VK_F2 = 0x71, VK_F12 = 0x7B;

Macro Named(const char* utf8Name) {
    return MakeNewMacro(Utf8ToCp949(utf8Name));
}

// "첫째" (F2 starts it: A down, A up), "second" (holds A: down only, then waits a long time), "third".
MacroLibrary ThreeMacros() {
    Macro first = Named("첫째");
    first.items.push_back(MakeKeyItem(VK_A, ActionPress | ActionRelease));
    Macro second = Named("second");
    second.startKey = 0x74; // F5
    second.items.push_back(MakeKeyItem(VK_A, ActionPress));
    second.items.push_back(MakeDelayItem(100000, DelayTime));
    return {first, second, Named("third")};
}

std::vector<std::string> NamesIn(const std::string& file) {
    MacroLibrary library;
    EXPECT_TRUE(LoadMacroLibrary(file, library).ok()) << file;
    std::vector<std::string> names;
    for (const Macro& m : library) names.push_back(Cp949ToUtf8(m.name));
    return names;
}

std::vector<std::string> ListLines(const QListWidget* list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
    return lines;
}

class MainWindowTest : public testing::Test {
protected:
    MainWindowTest()
        : hooks({[this](const MessageBoxRequest& r) {
                     messages.push_back(r.text);
                     if (answers.empty()) {
                         ADD_FAILURE() << "unexpected message box: " << r.text.toStdString();
                         return QMessageBox::NoButton;
                     }
                     const QMessageBox::StandardButton b = answers.front();
                     answers.pop_front();
                     return b;
                 },
                 [this](const FileDialogRequest& r) -> std::optional<QString> {
                     fileRequests.push_back(r);
                     if (duringFileDialog) duringFileDialog();
                     if (chosenFiles.empty()) {
                         ADD_FAILURE() << "unexpected file dialog";
                         return std::nullopt;
                     }
                     std::optional<QString> f = chosenFiles.front();
                     chosenFiles.pop_front();
                     return f;
                 },
                 {}}),
          settings((folder.path() / "Quillet.ini").string(), false) {
        EXPECT_TRUE(SaveMacroLibrary("macro.m", ThreeMacros()).ok);
    }

    std::unique_ptr<D> Open() {
        sessions.push_back(std::make_unique<Session>(fake.platform(), settings, counter, loop));
        auto w = std::make_unique<D>(*sessions.back());
        w->show();
        return w;
    }
    template <class W = QWidget> W* C(D& w, int id) { return w.Control<W>(id); }
    QListWidget* EditList(D& w) { return C<QListWidget>(w, D::IdEditList); }
    void Click(D& w, int id) { QTest::mouseClick(C<QAbstractButton>(w, id), Qt::LeftButton); }
    void Select(D& w, int row) { EditList(w)->setCurrentRow(row); }
    QString Count(D& w) { return C<QLabel>(w, D::IdCount)->text(); }
    // A person presses and releases a key: the records go through the monitor's poster to the window's thread.
    void Tap(D&, uint8_t vk) { test::TapKey(fake, loop, vk); }
    // One tick of the engine timer, delivered as the program delivers it.
    void Tick(D& w, uint32_t ms = 33) {
        fake.AdvanceMs(ms);
        fake.FireTimers();
        QCoreApplication::sendPostedEvents(&loop);
        (void)w;
    }
    // One expiry of a window timer of the session's loop, now.
    void FireWindowTimer(D&, int id) {
        auto* timer = loop.findChild<QTimer*>(QStringLiteral("timer%1").arg(id));
        ASSERT_NE(timer, nullptr) << "timer " << id << " does not run";
        QMetaObject::invokeMethod(timer, "timeout");
    }
    std::string FileBytes(const char* name) {
        std::ifstream in(folder.path() / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    test::TestFolder folder; // the current directory for the test
    std::deque<QMessageBox::StandardButton> answers;
    std::vector<QString> messages;
    std::deque<std::optional<QString>> chosenFiles;
    std::vector<FileDialogRequest> fileRequests;
    std::function<void()> duringFileDialog; // what happens while the dialog's own event loop runs
    ScopedDialogHooks hooks;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    std::vector<std::unique_ptr<Session>> sessions; // one per window opened, outliving it
};

TEST_F(MainWindowTest, StartsInEditModeWithTheLibraryAndEveryControl) {
    settings.macroSel = 1;
    auto w = Open();
    EXPECT_EQ(w->windowTitle(), "Quillet V2.3");
    const std::pair<int, const char*> captions[] = {{D::IdRunRadio, "매크로 실행 가능"},
                                                    {D::IdEditRadio, "실행 중단과 편집"},
                                                    {D::IdOpen, "..."},
                                                    {D::IdSave, "저장"},
                                                    {D::IdRecord, "기록"},
                                                    {D::IdAdd, "추가"},
                                                    {D::IdEdit, "편집"},
                                                    {D::IdCopy, "복사"},
                                                    {D::IdDelete, "삭제"},
                                                    {D::IdUp, "^"},
                                                    {D::IdDown, "v"},
                                                    {D::IdSettings, "설정"},
                                                    {D::IdExit, "종료"},
                                                    {D::IdInputStatus, "입력상태"},
                                                    {D::IdRunStatus, "실행상태"},
                                                    {D::IdExport, "내보내기"},
                                                    {D::IdImport, "가져오기..."}};
    for (const auto& [id, text] : captions) EXPECT_EQ(C<QAbstractButton>(*w, id)->text(), text) << id;
    EXPECT_EQ(C<QLabel>(*w, D::IdToggleHint)->text(),
              "F12 key를 눌러 \"매크로 실행 가능\"과 \"실행 중단과 편집\" 상태를 토글합니다.");
    EXPECT_EQ(C<QLineEdit>(*w, D::IdFileName)->text(), "macro.m");
    EXPECT_TRUE(C<QLineEdit>(*w, D::IdFileName)->isReadOnly());
    EXPECT_EQ(ListLines(EditList(*w)), (std::vector<std::string>{"첫째", "second", "third"}));
    EXPECT_EQ(w->SelectedEditIndex(), 1);
    EXPECT_EQ(Count(*w), "3개 매크로 기록됨.");
    EXPECT_FALSE(w->modified());

    EXPECT_TRUE(C<QRadioButton>(*w, D::IdEditRadio)->isChecked());
    EXPECT_FALSE(C<QRadioButton>(*w, D::IdRunRadio)->isChecked());
    EXPECT_TRUE(EditList(*w)->isVisible());
    EXPECT_FALSE(C(*w, D::IdRunList)->isVisible());
    for (int id : {D::IdCopy, D::IdDelete, D::IdUp, D::IdDown, D::IdOpen, D::IdSave, D::IdExit, D::IdInputStatus})
        EXPECT_TRUE(C(*w, id)->isEnabled()) << id;
    for (int id : {D::IdAdd, D::IdEdit, D::IdSettings, D::IdRecord}) EXPECT_TRUE(C(*w, id)->isEnabled()) << id;
    EXPECT_FALSE(C(*w, D::IdRunStatus)->isEnabled());

    // Hidden tool windows, input watched; no timer runs while there is nothing to do.
    EXPECT_FALSE(w->macroDebugWindow()->isVisible());
    EXPECT_FALSE(w->keyMouseStatusWindow()->isVisible());
    EXPECT_TRUE(fake.monitoring());
    EXPECT_EQ(w->WindowTimerInterval(1000), -1);
    EXPECT_EQ(w->WindowTimerInterval(1001), -1);
    EXPECT_EQ(w->WindowTimerInterval(1002), -1);
    EXPECT_EQ(w->WindowTimerInterval(1003), -1);
    EXPECT_EQ(w->engineTimer().timerId, -1);
    EXPECT_FALSE(w->keyMouseStatusWindow()->timerRunning());
    EXPECT_FALSE(w->macroDebugWindow()->timerRunning());
    EXPECT_EQ(w->trayIcon()->toolTip(), "Quillet 프로그램 - 더블클릭 하세요.");
}

TEST_F(MainWindowTest, AStoredPositionOffTheDesktopIsBroughtBack) {
    settings.windowSX = -5000;
    settings.windowSY = 100000;
    auto w = Open();
    const platform::ScreenRect desktop = CDialogCommon::VirtualScreen();
    EXPECT_EQ(settings.windowSX, desktop.left);
    EXPECT_LT(settings.windowSY + w->height(), desktop.top + desktop.height);
    EXPECT_EQ(w->pos(), QPoint(settings.windowSX, settings.windowSY));
}

TEST_F(MainWindowTest, InputThatCannotBeWatchedIsShownInTheWindow) {
    fake.SetMonitorStartFails(true);
    auto w = Open();
    EXPECT_TRUE(w->notice().contains("단축키")) << w->notice().toStdString();
    EXPECT_TRUE(w->findChild<QLabel*>("notice")->isVisible());
}

TEST_F(MainWindowTest, EnterEscAndCloseRequestsLeaveTheWindowOpen) {
    auto w = Open();
    QTest::keyClick(w.get(), Qt::Key_Escape);
    QTest::keyClick(w.get(), Qt::Key_Return);
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowCloseButtonHint));
}

TEST_F(MainWindowTest, CopyDeleteAndMovesKeepListCountAndModifiedFlagInStep) {
    settings.macroSel = 0;
    auto w = Open();
    Click(*w, D::IdUp); // the first line cannot go up
    EXPECT_FALSE(w->modified());

    Click(*w, D::IdCopy);
    EXPECT_TRUE(w->modified());
    EXPECT_EQ(ListLines(EditList(*w)), (std::vector<std::string>{"첫째", "second", "third", "Macro Copy 1"}));
    EXPECT_EQ(w->SelectedEditIndex(), 3);
    EXPECT_EQ(w->library()[3].items.size(), w->library()[0].items.size());
    EXPECT_EQ(Count(*w), "4개 매크로 기록됨.");

    Click(*w, D::IdDown); // the last line cannot go down
    Click(*w, D::IdUp);
    Click(*w, D::IdUp);
    EXPECT_EQ(ListLines(EditList(*w)), (std::vector<std::string>{"첫째", "Macro Copy 1", "second", "third"}));
    EXPECT_EQ(w->SelectedEditIndex(), 1);
    EXPECT_EQ(Cp949ToUtf8(w->library()[1].name), "Macro Copy 1");
    Click(*w, D::IdDown);
    EXPECT_EQ(Cp949ToUtf8(w->library()[2].name), "Macro Copy 1");
    EXPECT_EQ(w->SelectedEditIndex(), 2);

    Click(*w, D::IdDelete); // the same index is selected again
    EXPECT_EQ(ListLines(EditList(*w)), (std::vector<std::string>{"첫째", "second", "third"}));
    EXPECT_EQ(w->SelectedEditIndex(), 2);
    EXPECT_EQ(Count(*w), "3개 매크로 기록됨.");
    Click(*w, D::IdDelete); // the last line: no selection afterwards
    EXPECT_EQ(w->SelectedEditIndex(), -1);
    EXPECT_EQ(w->library().size(), 2u);

    // Without a selection the commands do nothing.
    for (int id : {D::IdCopy, D::IdDelete, D::IdUp, D::IdDown}) Click(*w, id);
    EXPECT_EQ(w->library().size(), 2u);
    EXPECT_EQ(ListLines(EditList(*w)), (std::vector<std::string>{"첫째", "second"}));
    // Nothing is written until Save.
    EXPECT_EQ(NamesIn("macro.m"), (std::vector<std::string>{"첫째", "second", "third"}));
}

TEST_F(MainWindowTest, SaveWritesTheNamedFileAndAFailedSaveSaysSoAndStaysModified) {
    settings.macroSel = 2;
    auto w = Open();
    Click(*w, D::IdDelete);
    Click(*w, D::IdSave);
    EXPECT_FALSE(w->modified());
    EXPECT_EQ(NamesIn("macro.m"), (std::vector<std::string>{"첫째", "second"}));
    EXPECT_TRUE(messages.empty());

    // A library name whose folder does not exist cannot be written.
    settings.macroFileName = "missing-folder/lib.m";
    C<QLineEdit>(*w, D::IdFileName)->setText("missing-folder/lib.m");
    Select(*w, 0);
    Click(*w, D::IdCopy);
    answers = {QMessageBox::Ok};
    Click(*w, D::IdSave);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("missing-folder/lib.m")) << messages[0].toStdString();
    EXPECT_TRUE(w->modified());
}

TEST_F(MainWindowTest, ExportAndImportGoThroughTheirFileDialogsAndAskAboutNameClashes) {
    auto w = Open();
    const QString one = QString::fromStdString((folder.path() / "one.json").string());
    const QString all = QString::fromStdString((folder.path() / "all").string()); // ".json" is added
    Select(*w, 0);
    chosenFiles = {one, all};
    w->OnExportSelected();
    w->OnExportAll();
    ASSERT_EQ(fileRequests.size(), 2u);
    EXPECT_EQ(fileRequests[0].mode, FileDialogRequest::Save);
    EXPECT_EQ(fileRequests[0].initialPath, "첫째.json");
    EXPECT_EQ(fileRequests[1].initialPath, "macro.json");
    EXPECT_NE(FileBytes("one.json").find("\"name\": \"첫째\""), std::string::npos);
    EXPECT_EQ(FileBytes("one.json").find("\"second\""), std::string::npos);
    EXPECT_NE(FileBytes("all.json").find("\"third\""), std::string::npos);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(w->modified()) << "exporting changes nothing";

    // Every name is taken: [아니요] adds them under new names, after the list, the first of them selected.
    chosenFiles = {QString::fromStdString((folder.path() / "all.json").string())};
    answers = {QMessageBox::No};
    w->OnImport();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("가져올 매크로 중 3개는 같은 이름의 매크로가 이미 목록에 있습니다: \"첫째\", "
                                       "\"second\", \"third\""))
        << messages[0].toStdString();
    EXPECT_EQ(ListLines(EditList(*w)),
              (std::vector<std::string>{"첫째", "second", "third", "첫째 (2)", "second (2)", "third (2)"}));
    EXPECT_EQ(w->SelectedEditIndex(), 3);
    EXPECT_EQ(Count(*w), "6개 매크로 기록됨.");
    EXPECT_TRUE(w->modified());
    EXPECT_TRUE(w->library()[4].SameContent([&] {
        Macro m = w->library()[1];
        m.name = Utf8ToCp949("second (2)");
        return m;
    }()));

    // [예] replaces the macro of that name where it is; Cancel adds nothing.
    w->library()[0].startKey = 0x7B;
    chosenFiles = {one, one};
    answers = {QMessageBox::Yes, QMessageBox::Cancel};
    w->OnImport();
    EXPECT_EQ(w->library()[0].startKey, 0x71);
    EXPECT_EQ(w->library().size(), 6u);
    w->OnImport();
    EXPECT_EQ(w->library().size(), 6u);

    // A text that does not fit is reported with its line and column, and nothing is added.
    std::ofstream(folder.path() / "broken.json") << "{\"format\": \"quillet-macros\",\n \"version\": \"1\"}";
    chosenFiles = {QString::fromStdString((folder.path() / "broken.json").string())};
    answers = {QMessageBox::Ok};
    messages.clear();
    w->OnImport();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].indexOf("2번째 줄 13번째 글자: expected an integer"), -1) << messages[0].toStdString();
    EXPECT_EQ(w->library().size(), 6u);

    // Edit-mode commands: in run mode the buttons are off and the commands do nothing.
    C<QRadioButton>(*w, D::IdRunRadio)->click();
    EXPECT_FALSE(C(*w, D::IdExport)->isEnabled());
    EXPECT_FALSE(C(*w, D::IdImport)->isEnabled());
    w->OnImport();
    w->OnExportAll();
    EXPECT_EQ(fileRequests.size(), 6u) << "no dialog in run mode";
}

TEST_F(MainWindowTest, OpenWithoutChangesAsksNothingAndMakesTheNameRelative) {
    ASSERT_TRUE(SaveMacroLibrary("other.m", {Named("하나")}).ok);
    auto w = Open();
    chosenFiles = {QDir::current().absoluteFilePath("other")}; // no extension: ".m" is added
    Click(*w, D::IdOpen);
    ASSERT_EQ(fileRequests.size(), 1u);
    EXPECT_EQ(fileRequests[0].mode, FileDialogRequest::OpenOrNew);
    EXPECT_EQ(fileRequests[0].initialPath, "macro.m");
    EXPECT_EQ(fileRequests[0].filter, "Macro file (*.m)|*.m|All Files(*.*)|*.*||");
    EXPECT_EQ(settings.macroFileName, "other.m");
    EXPECT_EQ(C<QLineEdit>(*w, D::IdFileName)->text(), "other.m");
    EXPECT_EQ(ListLines(EditList(*w)), (std::vector<std::string>{"하나"}));
    EXPECT_EQ(w->SelectedEditIndex(), 0);
    EXPECT_EQ(Count(*w), "1개 매크로 기록됨.");
    EXPECT_FALSE(w->modified());
    EXPECT_TRUE(messages.empty());

    // Cancelled: nothing changes.
    chosenFiles = {std::nullopt};
    Click(*w, D::IdOpen);
    EXPECT_EQ(settings.macroFileName, "other.m");
    EXPECT_EQ(w->library().size(), 1u);
}

TEST_F(MainWindowTest, TheSettingsDialogRoundTripsItsFieldsAndIsWrittenOnOk) {
    settings.colorDelay = 10; // a hand-edited file
    auto w = Open();
    // Cancel after a title change: the caption stays; the corrected colour period is kept all the same.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CDialogConfig*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->Control<QLineEdit>(CDialogConfig::IdTitle)->setText(QStringLiteral("다른 이름"));
        dialog->reject();
    });
    Click(*w, D::IdSettings);
    EXPECT_EQ(w->windowTitle(), "Quillet V2.3");
    EXPECT_EQ(settings.colorDelay, 33);
    EXPECT_FALSE(fs::exists(folder.path() / "Quillet.ini")) << "Cancel writes no file";

    // OK: every field shown comes back as it was, the changed ones change, and the file is written at once.
    const int32_t optionsBefore = settings.macroOptions, runKeyBefore = settings.keyMacroRun,
                  captureBefore = settings.keyMousePosCapture, sequenceBefore = settings.sequenceStart,
                  layoutBefore = settings.hangulKeyboard;
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CDialogConfig*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->Control<QLineEdit>(CDialogConfig::IdColorDelay)->text(), "33");
        dialog->Control<QLineEdit>(CDialogConfig::IdTitle)->setText(QStringLiteral("내 매크로"));
        dialog->Control<QLineEdit>(CDialogConfig::IdColorDelay)->setText(QStringLiteral("5"));
        dialog->Control<QLineEdit>(CDialogConfig::IdEventDelay)->setText(QStringLiteral("0"));
        dialog->Control<QCheckBox>(CDialogConfig::IdReleaseOnStop)->setChecked(true);
        dialog->accept();
    });
    Click(*w, D::IdSettings);
    EXPECT_EQ(w->windowTitle(), "내 매크로");
    EXPECT_EQ(settings.colorDelay, 33);
    EXPECT_EQ(settings.eventDelay, 1);
    EXPECT_EQ(settings.macroOptions, optionsBefore | OptionReleaseHeldOnStop);
    EXPECT_EQ(settings.keyMacroRun, runKeyBefore);
    EXPECT_EQ(settings.keyMousePosCapture, captureBefore);
    EXPECT_EQ(settings.sequenceStart, sequenceBefore);
    EXPECT_EQ(settings.hangulKeyboard, layoutBefore);
    const CAppIni stored((folder.path() / "Quillet.ini").string(), false);
    EXPECT_EQ(stored.title, Utf8ToCp949("내 매크로"));
    EXPECT_EQ(stored.macroOptions, settings.macroOptions);
}

TEST(FileDialogTest, TheOpenDialogTakesTheNameOfALibraryThatDoesNotExistYet) {
    const test::TestFolder folder;
    const ScopedDialogHooks real({}); // the real dialog, driven below
    FileDialogRequest request;
    request.mode = FileDialogRequest::OpenOrNew;
    request.initialPath = QStringLiteral("macro.m");
    request.filter = QStringLiteral("Macro file (*.m)|*.m|All Files(*.*)|*.*||");
    // A person types a new name and presses Open.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(QStringLiteral("brand-new.m"));
        static_cast<QDialog*>(dialog)->accept(); // the Open button
    });
    const std::optional<QString> chosen = AskFileName(request);
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(chosen->endsWith("/brand-new.m")) << chosen->toStdString();
}

TEST_F(MainWindowTest, OpenAfterChangesAsksToSaveFirst) {
    ASSERT_TRUE(SaveMacroLibrary("other.m", {Named("하나")}).ok);
    settings.macroSel = 0;
    auto w = Open();

    // No: the changes are dropped, the new library is not modified.
    Click(*w, D::IdDelete);
    answers = {QMessageBox::No};
    chosenFiles = {QDir::current().absoluteFilePath("other.m")};
    Click(*w, D::IdOpen);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "매크로가 변경되었습니다. 저장할까요?");
    EXPECT_EQ(NamesIn("macro.m"), (std::vector<std::string>{"첫째", "second", "third"}));
    EXPECT_FALSE(w->modified());
    EXPECT_EQ(settings.macroFileName, "other.m");

    // Yes: saved under the current name first. A name that does not exist yet begins an empty library.
    Click(*w, D::IdCopy);
    answers = {QMessageBox::Yes};
    chosenFiles = {QDir::current().absoluteFilePath("new.m")};
    Click(*w, D::IdOpen);
    EXPECT_EQ(NamesIn("other.m"), (std::vector<std::string>{"하나", "Macro Copy 1"}));
    EXPECT_EQ(settings.macroFileName, "new.m");
    EXPECT_TRUE(w->library().empty());
    EXPECT_EQ(Count(*w), "0개 매크로 기록됨.");
    EXPECT_EQ(messages.size(), 2u); // only the question: a missing file is not an error
    Click(*w, D::IdSave);
    EXPECT_TRUE(fs::exists(folder.path() / "new.m"));
}

TEST_F(MainWindowTest, OpenGivesUpWhenRunModeWasEnteredWhileTheDialogWasOpen) {
    ASSERT_TRUE(SaveMacroLibrary("other.m", {Named("하나")}).ok);
    auto w = Open();
    duringFileDialog = [&] { Tap(*w, VK_F12); };
    chosenFiles = {QDir::current().absoluteFilePath("other.m")};
    Click(*w, D::IdOpen);
    EXPECT_TRUE(w->engine().runMode);
    EXPECT_EQ(settings.macroFileName, "macro.m");
    EXPECT_EQ(w->library().size(), 3u);
}

TEST_F(MainWindowTest, ExitAsksOnlyWhenModifiedAndStoresTheSelection) {
    {
        settings.macroSel = 2;
        auto w = Open();
        Select(*w, 1);
        Click(*w, D::IdExit); // unmodified: no question
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(w->result(), QDialog::Accepted);
        EXPECT_EQ(settings.macroSel, 1);
    }
    {
        auto w = Open();
        Select(*w, 0);
        Click(*w, D::IdDelete);
        answers = {QMessageBox::No};
        Click(*w, D::IdExit);
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(messages.size(), 1u);
        EXPECT_EQ(NamesIn("macro.m").size(), 3u); // not saved
    }
    {
        auto w = Open();
        Select(*w, 0);
        Click(*w, D::IdDelete);
        answers = {QMessageBox::Yes};
        Click(*w, D::IdExit);
        EXPECT_EQ(NamesIn("macro.m"), (std::vector<std::string>{"second", "third"}));
    }
}

TEST_F(MainWindowTest, ExitStaysWhenTheSaveFailsAndTheUserDoesNotWantToLoseTheChanges) {
    settings.macroFileName = "missing-folder/lib.m";
    auto w = Open();
    EXPECT_TRUE(w->library().empty());
    chosenFiles = {QDir::current().absoluteFilePath("macro.m")};
    Click(*w, D::IdOpen);
    // Point the library at a file that cannot be written, then change it.
    settings.macroFileName = "missing-folder/lib.m";
    C<QLineEdit>(*w, D::IdFileName)->setText("missing-folder/lib.m");
    Select(*w, 0);
    Click(*w, D::IdCopy);
    answers = {QMessageBox::Yes, QMessageBox::No}; // save: yes; it fails; go on without saving: no
    Click(*w, D::IdExit);
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].contains("missing-folder/lib.m"));
    EXPECT_TRUE(w->modified());

    answers = {QMessageBox::Yes, QMessageBox::Yes}; // ... go on without saving: yes
    Click(*w, D::IdExit);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(MainWindowTest, ADamagedLibraryIsReportedAndNeverWrittenOverUnasked) {
    std::string bytes = SerializeMacroLibrary(ThreeMacros());
    bytes.resize(bytes.size() - 10); // cut inside the last macro
    {
        std::ofstream out(folder.path() / "macro.m", std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    answers = {QMessageBox::Ok};
    auto w = Open();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("\"macro.m\"")) << messages[0].toStdString();
    EXPECT_EQ(w->protectedFile(), "macro.m");
    EXPECT_EQ(ListLines(EditList(*w)), (std::vector<std::string>{"첫째", "second"})); // the whole macros before
    EXPECT_FALSE(w->modified());

    // Save asks first; No keeps the file as it was, and the changes stay unsaved.
    Select(*w, 0);
    Click(*w, D::IdCopy);
    answers = {QMessageBox::No};
    Click(*w, D::IdSave);
    EXPECT_EQ(FileBytes("macro.m"), bytes);
    EXPECT_TRUE(w->modified());

    // The exit's save question with Yes still asks about the damaged file; No stays in the program.
    answers = {QMessageBox::Yes, QMessageBox::No};
    Click(*w, D::IdExit);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(FileBytes("macro.m"), bytes);

    // Yes to both writes it.
    answers = {QMessageBox::Yes, QMessageBox::Yes};
    Click(*w, D::IdExit);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(NamesIn("macro.m"), (std::vector<std::string>{"첫째", "second", "Macro Copy 1"}));
}

TEST_F(MainWindowTest, UnchangedDamagedLibraryIsLeftAloneAtExit) {
    const std::string garbage = "this is not a macro library";
    {
        std::ofstream out(folder.path() / "macro.m", std::ios::binary | std::ios::trunc);
        out << garbage;
    }
    answers = {QMessageBox::Ok};
    auto w = Open();
    EXPECT_EQ(messages.size(), 1u);
    Click(*w, D::IdExit);
    w.reset();
    EXPECT_EQ(FileBytes("macro.m"), garbage);
}

TEST_F(MainWindowTest, RunAndEditModeSwitchButtonsAndLists) {
    settings.macroOptions |= OptionStartSelected;
    settings.macroSel = 1;
    auto w = Open();
    Click(*w, D::IdRunRadio);
    EXPECT_TRUE(w->engine().runMode);
    EXPECT_TRUE(C<QRadioButton>(*w, D::IdRunRadio)->isChecked());
    EXPECT_FALSE(C<QRadioButton>(*w, D::IdEditRadio)->isChecked());
    for (int id : D::kEditButtonIds) EXPECT_FALSE(C(*w, id)->isEnabled()) << id;
    for (int id : {D::IdRunStatus, D::IdSave, D::IdExit, D::IdInputStatus}) EXPECT_TRUE(C(*w, id)->isEnabled()) << id;
    EXPECT_FALSE(EditList(*w)->isVisible());
    auto* runList = C<QListWidget>(*w, D::IdRunList);
    EXPECT_TRUE(runList->isVisible());
    ASSERT_EQ(runList->count(), 3);
    EXPECT_EQ(runList->item(0)->text(), FromCp949(RunListText(w->library()[0])));
    EXPECT_TRUE(runList->item(0)->text().startsWith("첫째 - "));
    EXPECT_TRUE(w->engineTimer().timerId > 0);
    EXPECT_EQ(settings.macroOptions & OptionRunModeOn, OptionRunModeOn);

    // The selected macro was started on entering and is marked in the run list.
    EXPECT_TRUE(IsRunning(w->library()[1]));
    EXPECT_EQ(w->WindowTimerInterval(kTimerTray), 500);
    EXPECT_FALSE(runList->item(0)->isSelected());
    EXPECT_TRUE(runList->item(1)->isSelected());

    // The status window is shown by 1023 and hidden again on leaving run mode.
    Click(*w, D::IdRunStatus);
    EXPECT_TRUE(w->macroDebugWindow()->isVisible());
    Click(*w, D::IdEditRadio);
    EXPECT_FALSE(w->engine().runMode);
    EXPECT_FALSE(IsRunning(w->library()[1]));
    EXPECT_FALSE(w->macroDebugWindow()->isVisible());
    EXPECT_TRUE(EditList(*w)->isVisible());
    EXPECT_FALSE(runList->isVisible());
    EXPECT_EQ(settings.macroOptions & OptionRunModeOn, 0);
    // Edit mode enables the edit buttons again, except those whose dialogs are still to come.
    for (int id : {D::IdCopy, D::IdDelete, D::IdUp, D::IdDown, D::IdOpen, D::IdAdd, D::IdEdit, D::IdSettings})
        EXPECT_TRUE(C(*w, id)->isEnabled()) << id;
    for (int id : D::kPendingDialogButtons) EXPECT_FALSE(C(*w, id)->isEnabled()) << id;
    EXPECT_FALSE(C(*w, D::IdRunStatus)->isEnabled());
}

TEST_F(MainWindowTest, TheToggleKeyAndHotkeysWorkThroughTheInputMonitor) {
    auto w = Open();
    Tap(*w, VK_F2); // edit mode: the hotkey does nothing
    EXPECT_FALSE(IsRunning(w->library()[0]));
    Tap(*w, VK_F12);
    EXPECT_TRUE(w->engine().runMode);
    EXPECT_TRUE(C<QRadioButton>(*w, D::IdRunRadio)->isChecked());

    // F2 starts the first macro; the engine timer's ticks arrive on the window's thread and type its key.
    fake.ClearEvents();
    Tap(*w, VK_F2);
    EXPECT_TRUE(IsRunning(w->library()[0]));
    Tick(*w);
    const std::vector<platform::FakeEvent> keys = fake.KeyEvents();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].vk, VK_A);
    EXPECT_EQ(keys[1].flags & platform::KEYEVENTF_KEYUP, platform::KEYEVENTF_KEYUP);
    EXPECT_FALSE(IsRunning(w->library()[0]));

    // What the program sends itself is not a hotkey.
    platform::RawInputRecord injected;
    injected.vkey = VK_F12;
    injected.message = platform::WM_KEYDOWN;
    injected.injected = true;
    fake.PushRaw(injected);
    QCoreApplication::sendPostedEvents(w.get());
    EXPECT_TRUE(w->engine().runMode);

    Tap(*w, VK_F12);
    EXPECT_FALSE(w->engine().runMode);
    EXPECT_TRUE(C<QRadioButton>(*w, D::IdEditRadio)->isChecked());
    // The key/mouse status model saw the person's keys.
    EXPECT_EQ(w->keyMouseStatus().keyText(), Utf8ToCp949("F12 key - 뗌"));
}

TEST_F(MainWindowTest, RunModeStoredAtExitIsRestoredAndAutoStartMacrosStart) {
    MacroLibrary library = ThreeMacros();
    library[2].flags |= FlagAutoStart;
    library[2].items.push_back(MakeDelayItem(100000, DelayTime));
    ASSERT_TRUE(SaveMacroLibrary("macro.m", library).ok);
    settings.macroOptions |= OptionRunModeOn;
    auto w = Open();
    EXPECT_TRUE(w->engine().runMode);
    EXPECT_TRUE(C<QRadioButton>(*w, D::IdRunRadio)->isChecked());
    EXPECT_TRUE(C(*w, D::IdRunList)->isVisible());
    EXPECT_TRUE(IsRunning(w->library()[2]));
    EXPECT_FALSE(IsRunning(w->library()[0]));
}

TEST_F(MainWindowTest, TheEndStopsEverythingReleasesHeldKeysAndStoresThePosition) {
    settings.macroOptions = (settings.macroOptions | OptionRunModeOn) & ~OptionReleaseHeldOnStop;
    auto w = Open();
    Tap(*w, 0x74); // F5: "second" presses A and then waits
    Tick(*w);
    ASSERT_EQ(fake.KeyEvents().size(), 1u);
    ASSERT_TRUE(IsRunning(w->library()[1]));
    w->move(150, 160);
    fake.ClearEvents();

    w->Destroy();
    EXPECT_FALSE(w->engine().runMode);
    EXPECT_FALSE(IsRunning(w->library()[1]));
    // A is let go although the release setting is off; the setting itself is unchanged.
    const std::vector<platform::FakeEvent> keys = fake.KeyEvents();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].vk, VK_A);
    EXPECT_EQ(keys[0].flags & platform::KEYEVENTF_KEYUP, platform::KEYEVENTF_KEYUP);
    EXPECT_EQ(settings.macroOptions & OptionReleaseHeldOnStop, 0);
    // Run mode is remembered for the next start.
    EXPECT_EQ(settings.macroOptions & OptionRunModeOn, OptionRunModeOn);
    EXPECT_FALSE(fake.monitoring());
    EXPECT_EQ(w->engineTimer().timerId, -1);
    EXPECT_EQ(w->macroDebugWindow(), nullptr);
    EXPECT_EQ(w->keyMouseStatusWindow(), nullptr);
    EXPECT_EQ(settings.windowSX, 150);
    EXPECT_EQ(settings.windowSY, 160);
    EXPECT_EQ(w->WindowTimerInterval(1000), -1);
    // Input after the end changes nothing.
    EXPECT_FALSE(fake.PushRaw({}));
}

TEST_F(MainWindowTest, StatusButtonsShowAndHideTheToolWindows) {
    auto w = Open();
    Click(*w, D::IdInputStatus);
    EXPECT_TRUE(w->keyMouseStatusWindow()->isVisible());
    Click(*w, D::IdInputStatus);
    EXPECT_FALSE(w->keyMouseStatusWindow()->isVisible());
    Click(*w, D::IdRunRadio);
    Click(*w, D::IdRunStatus);
    EXPECT_TRUE(w->macroDebugWindow()->isVisible());
    Click(*w, D::IdRunStatus);
    EXPECT_FALSE(w->macroDebugWindow()->isVisible());
}

TEST_F(MainWindowTest, TrayBlinksInRunModeAndTheEngineLogReachesTheStatusWindow) {
    settings.macroOptions |= OptionTrayBlink;
    auto w = Open();
    Click(*w, D::IdRunRadio);
    FireWindowTimer(*w, kTimerTray);
    EXPECT_EQ(w->trayIcon()->toolTip(), "Quillet 프로그램 - 매크로 실행 중입니다.");
    Click(*w, D::IdEditRadio);
    EXPECT_EQ(w->trayIcon()->toolTip(), "Quillet 프로그램 - 더블클릭 하세요.");

    Click(*w, D::IdRunRadio);
    Tap(*w, VK_F2);
    Tick(*w);
    EXPECT_GE(w->macroDebugWindow()->log()->pendingCount(), 1u);
}

TEST_F(MainWindowTest, ColourMarkersAndImageResultsGetWindowsOfTheirOwn) {
    auto w = Open();
    w->DrawColorMarkers({{{96, 196, 8, 8}, kMarkerStartColor}, {{296, 96, 8, 8}, kMarkerStopColor}});
    CMarkerOverlay* overlay = w->markerOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_EQ(overlay->geometry(), QRect(95, 95, 210, 110)); // both outlines, pen centred on the edges
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    w->DrawColorMarkers({});
    EXPECT_FALSE(overlay->isVisible());

    std::vector<uint8_t> red(30 * 20 * 3);
    for (std::size_t i = 0; i < red.size(); i += 3) red[i + 2] = 255; // B, G, R
    const std::string title = Utf8ToCp949("그림");
    w->ShowImageResult(title, BgrImageView{30, 20, 90, red.data()});
    QLabel* result = w->ImageResultWindow(title);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->windowTitle(), "그림");
    EXPECT_EQ(result->pixmap().size(), QSize(30, 20));
    EXPECT_EQ(result->pixmap().toImage().pixelColor(0, 0), QColor(255, 0, 0));
    result->close(); // shown again at the next result
    w->ShowImageResult(title, BgrImageView{30, 20, 90, red.data()});
    EXPECT_EQ(w->ImageResultWindow(title), result);
    EXPECT_TRUE(result->isVisible());
}

TEST(LibraryNamesTest, ChosenPathsBecomeRelativeAndGetTheExtension) {
    EXPECT_EQ(LibraryNameForChosenPath("/home/a/work/lib.m", "/home/a/work"), "lib.m");
    EXPECT_EQ(LibraryNameForChosenPath("/home/a/work/sub/lib", "/home/a/work/"), "sub/lib.m");
    EXPECT_EQ(LibraryNameForChosenPath("/home/a/work2/lib.m", "/home/a/work"), "/home/a/work2/lib.m");
    EXPECT_EQ(LibraryNameForChosenPath("/home/a/lib.dat", "/home/a/work"), "/home/a/lib.dat");
    EXPECT_EQ(LibraryNameForChosenPath("/home/a.d/lib", "/home/b"), "/home/a.d/lib.m");
#ifndef _WIN32
    EXPECT_EQ(LibraryNameForChosenPath("/home/a/Work/lib.m", "/home/a/work"), "/home/a/Work/lib.m");
#endif

    EXPECT_EQ(LibraryNameToCp949("매크로.m"), Utf8ToCp949("매크로.m"));
    EXPECT_EQ(LibraryNameToCp949(QString::fromUtf8("emoji-\xF0\x9F\x98\x80.m")), std::nullopt);
    EXPECT_EQ(LibraryNameToCp949(QString(kLibraryNameMax + 1, 'x')), std::nullopt);
    EXPECT_EQ(LibraryNameToCp949(QString(kLibraryNameMax, 'x')), std::string(kLibraryNameMax, 'x'));
}

} // namespace
} // namespace quillet::gui
