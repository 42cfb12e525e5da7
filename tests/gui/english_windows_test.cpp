// The windows in English: no Hangul left in any text, accessible name or tooltip of the main window (edit and run
// mode), the tool windows, the settings dialog, the recorder and the main window's message boxes, with a library
// whose macro names are ASCII. And the settings dialog's language list: it stores the setting, makes later windows
// English and says that the main window follows after a restart. The language is process-wide: every test here
// puts Korean back at its end.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "gui/editors/config_dialog.h"
#include "gui/editors/macro_rec.h"
#include "gui/mainwindow/main_window.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/toolwindows/key_mouse_status.h"
#include "gui/toolwindows/macro_debug.h"
#include "gui/translations.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "model/library_file.h"
#include "model/texts.h"
#include "no_hangul.h"
#include "platform/fake/fake_platform.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

using D = CQuilletDlg;

// English from construction to destruction; Korean again afterwards, whatever the test did.
struct InLanguage {
    explicit InLanguage(Language language) { SetLanguage(language); }
    ~InLanguage() { SetLanguage(Language::Korean); }
};

MacroLibrary AsciiMacros() {
    Macro first = MakeNewMacro("first");
    first.items.push_back(MakeKeyItem(0x41, ActionPress | ActionRelease));
    first.items.push_back(MakeDelayItem(500, DelayTime));
    Macro second = MakeNewMacro("second");
    second.startKey = 0x74; // F5
    second.items.push_back(MakeKeyItem(0x42, ActionPress));
    return {first, second};
}

class LanguageTest : public testing::Test {
protected:
    explicit LanguageTest(Language language = Language::English)
        : language_(language),
          hooks({[this](const MessageBoxRequest& r) {
                     messages.push_back(r.text);
                     return answer;
                 },
                 {},
                 {}}),
          settings((folder.path() / "Quillet.ini").string(), false) {
        EXPECT_TRUE(SaveMacroLibrary("macro.m", AsciiMacros()).ok);
    }

    std::unique_ptr<D> Open() {
        sessions.push_back(std::make_unique<Session>(fake.platform(), settings, counter, loop));
        auto w = std::make_unique<D>(*sessions.back());
        w->show();
        return w;
    }
    static void Click(D& w, int id) { w.Control<QAbstractButton>(id)->click(); }
    // Runs step inside the settings dialog that the next click opens; step closes it.
    static void InNextSettingsDialog(std::function<void(CDialogConfig&)> step) {
        QTimer::singleShot(0, [step = std::move(step)] {
            auto* dialog = qobject_cast<CDialogConfig*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            step(*dialog);
        });
    }

    InLanguage language_; // first: outlives every window below
    test::TestFolder folder;
    std::vector<QString> messages;
    QMessageBox::StandardButton answer = QMessageBox::No;
    ScopedDialogHooks hooks;
    platform::FakePlatform fake;
    CAppIni settings;
    TimerCounter counter;
    QtEventLoop loop;
    std::vector<std::unique_ptr<Session>> sessions;
};

using EnglishWindowsTest = LanguageTest;

TEST_F(EnglishWindowsTest, TheMainWindowAndItsToolWindowsShowNoHangulInEditAndRunMode) {
    settings.macroOptions |= OptionTrayBlink;
    auto w = Open();
    EXPECT_EQ(w->Control<QAbstractButton>(D::IdExit)->text(), "Exit");
    EXPECT_EQ(w->Control<QLabel>(D::IdCount)->text(), "Macros: 2");
    auto* tray = w->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->toolTip(), "Quillet - double-click to open");
    // The tool windows are the main window's children: they are walked with it, shown or not.
    w->keyMouseStatusWindow()->show();
    w->keyMouseStatusWindow()->OnTimer();
    EXPECT_EQ(test::HangulReport(w.get()), "") << "edit mode";

    Click(*w, D::IdRunRadio);
    ASSERT_TRUE(w->Control<QListWidget>(D::IdRunList)->isVisible());
    EXPECT_GT(w->Control<QListWidget>(D::IdRunList)->count(), 0);
    w->macroDebugWindow()->show();
    w->macroDebugWindow()->OnTimer();
    // The blinking tray shows the run-mode tooltip.
    for (int i = 0; i < 2; ++i) {
        auto* timer = loop.findChild<QTimer*>(QStringLiteral("timer1001"));
        ASSERT_NE(timer, nullptr);
        QMetaObject::invokeMethod(timer, "timeout");
    }
    EXPECT_EQ(tray->toolTip(), "Quillet - macros are running");
    EXPECT_EQ(test::HangulReport(w.get()), "") << "run mode";
    EXPECT_EQ(test::HangulReport(w->macroDebugWindow()), "");
    EXPECT_EQ(test::HangulReport(w->keyMouseStatusWindow()), "");
    Click(*w, D::IdEditRadio);

    // The save question at exit, and a failed save.
    Click(*w, D::IdCopy);
    std::filesystem::create_directory(folder.path() / "folder.m");
    w->Control<QLineEdit>(D::IdFileName)->setText(QStringLiteral("folder.m"));
    Click(*w, D::IdSave);
    answer = QMessageBox::No;
    Click(*w, D::IdExit);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].startsWith("Could not save the macro file \"folder.m\".")) << messages[0].toStdString();
    EXPECT_EQ(messages[1], "The macros have changed. Save them?");
    for (const QString& m : messages) EXPECT_FALSE(test::HasHangul(m)) << m.toStdString();
}

TEST_F(EnglishWindowsTest, TheSettingsDialogAndTheRecorderShowNoHangul) {
    settings.language = "en"; // as the program started in English has it
    Session session(fake.platform(), settings, counter, loop);
    {
        CDialogConfig dialog(settings);
        dialog.show();
        EXPECT_EQ(dialog.windowTitle(), "Quillet Settings");
        // Only the language list is left in both languages: its caption and the name of Korean in Korean.
        EXPECT_EQ(test::HangulReport(&dialog), "QComboBox#1048 item: 한국어\n"
                                               "QLabel#languageLabel text: 언어 / Language:");
        auto* list = dialog.Control<QComboBox>(CDialogConfig::IdLanguage);
        EXPECT_EQ(list->accessibleName(), "Language:");
        EXPECT_EQ(list->itemData(0, Qt::AccessibleTextRole).toString(), "Korean");
        EXPECT_EQ(list->currentIndex(), 1) << "English is the language the program runs in";
    }
    Macro macro;
    Point lastRecordedPos;
    CDialogMacroRec recorder(session, macro, lastRecordedPos);
    recorder.show();
    EXPECT_EQ(recorder.windowTitle(), "Record Macro");
    EXPECT_EQ(test::HangulReport(&recorder), "");
}

class KoreanFirstTest : public LanguageTest {
protected:
    KoreanFirstTest() : LanguageTest(Language::Korean) {}
};

TEST_F(KoreanFirstTest, TheLanguageListStoresTheSettingAndSaysTheMainWindowFollowsAfterARestart) {
    auto w = Open();
    // Cancel changes nothing, though the note showed.
    InNextSettingsDialog([](CDialogConfig& dialog) {
        auto* list = dialog.Control<QComboBox>(CDialogConfig::IdLanguage);
        auto* note = dialog.findChild<QLabel*>(QStringLiteral("languageNote"));
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_EQ(list->itemText(0), QString::fromUtf8("한국어"));
        EXPECT_EQ(list->itemText(1), "English");
        EXPECT_TRUE(note->isHidden());
        list->setCurrentIndex(1);
        EXPECT_FALSE(note->isHidden());
        // In the language chosen, not in the one the dialog speaks.
        EXPECT_EQ(note->text(), TextIn(Language::English, "새로 여는 창부터 이 언어로 보입니다. 메인 창과 도구 창은 "
                                                          "다시 시작하면 바뀝니다."));
        EXPECT_TRUE(note->text().startsWith("Windows opened from now on"));
        list->setCurrentIndex(0);
        EXPECT_TRUE(note->isHidden());
        list->setCurrentIndex(1);
        dialog.reject();
    });
    Click(*w, D::IdSettings);
    EXPECT_EQ(settings.language, "");
    EXPECT_EQ(CurrentLanguage(), Language::Korean);

    // OK without a change leaves the setting absent.
    InNextSettingsDialog([](CDialogConfig& dialog) { dialog.accept(); });
    Click(*w, D::IdSettings);
    EXPECT_EQ(settings.language, "");

    // English: stored at once, the program speaks it from now on, the main window keeps its Korean until a restart.
    const QString hintBefore = w->Control<QLabel>(D::IdToggleHint)->text();
    InNextSettingsDialog([](CDialogConfig& dialog) {
        dialog.Control<QComboBox>(CDialogConfig::IdLanguage)->setCurrentIndex(1);
        dialog.accept();
    });
    Click(*w, D::IdSettings);
    EXPECT_EQ(settings.language, "en");
    EXPECT_EQ(CurrentLanguage(), Language::English);
    EXPECT_EQ(CAppIni((folder.path() / "Quillet.ini").string(), false).language, "en");
    EXPECT_EQ(w->Control<QLabel>(D::IdToggleHint)->text(), hintBefore);
    EXPECT_EQ(w->Control<QLabel>(D::IdCount)->text(), QString::fromUtf8("2개 매크로 기록됨."));
    {
        CDialogConfig next(settings);
        EXPECT_EQ(next.windowTitle(), "Quillet Settings");
        EXPECT_EQ(next.Control<QComboBox>(CDialogConfig::IdLanguage)->currentIndex(), 1);
        EXPECT_TRUE(next.findChild<QLabel*>(QStringLiteral("languageNote"))->isHidden());
    }

    // And back: the note in Korean, the setting "ko".
    InNextSettingsDialog([](CDialogConfig& dialog) {
        dialog.Control<QComboBox>(CDialogConfig::IdLanguage)->setCurrentIndex(0);
        EXPECT_TRUE(test::HasHangul(dialog.findChild<QLabel*>(QStringLiteral("languageNote"))->text()));
        dialog.accept();
    });
    Click(*w, D::IdSettings);
    EXPECT_EQ(settings.language, "ko");
    EXPECT_EQ(CurrentLanguage(), Language::Korean);
}

} // namespace
} // namespace quillet::gui
