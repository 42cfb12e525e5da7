// The application's start-up and shutdown on the fake backend, in a temporary working folder: the first-start
// demo library, the order of the end (settings written last, the library only when the user said so).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <QFile>
#include <QTimer>

#include "gui/mainwindow/quillet_app.h"
#include "gui/message_box.h"
#include "model/cp949.h"
#include "model/library_file.h"
#include "platform/fake/fake_platform.h"
#include "test_folder.h"

namespace quillet::gui {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class QuilletAppTest : public testing::Test {
protected:
    AppOptions Options() {
        AppOptions options;
        options.iniPath = (folder.path() / "Quillet.ini").string();
        options.log = [this](const QString& line) { log.push_back(line); };
        return options;
    }
    // The settings as the next start would read them.
    CAppIni Stored() { return CAppIni((folder.path() / "Quillet.ini").string(), false); }

    test::TestFolder folder;
    platform::FakePlatform fake;
    std::vector<QString> log;
};

TEST_F(QuilletAppTest, FirstStartWritesTheDemoLibraryOnceAndSaysSo) {
    {
        CQuilletApp app(fake.platform(), Options());
        app.Start();
        ASSERT_TRUE(fs::exists(folder.path() / "macro.m"));
        QFile demo(":/examples/demo.m");
        ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
        EXPECT_EQ(Bytes(folder.path() / "macro.m"), demo.readAll().toStdString());
        EXPECT_EQ(app.mainWindow()->library().size(), 4u);
        EXPECT_FALSE(app.mainWindow()->modified());
        EXPECT_TRUE(app.mainWindow()->notice().contains("macro.m"));
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRUE(log[0].contains("demo library"));
    }
    // Present from now on: never written again.
    ASSERT_TRUE(SaveMacroLibrary("macro.m", {MakeNewMacro("mine")}).ok);
    const std::string mine = Bytes(folder.path() / "macro.m");
    CQuilletApp again(fake.platform(), Options());
    again.Start();
    EXPECT_EQ(Bytes(folder.path() / "macro.m"), mine);
    EXPECT_TRUE(again.mainWindow()->notice().isEmpty());
}

TEST_F(QuilletAppTest, OnlyTheDefaultNameGetsTheDemo) {
    {
        CIni ini("Property", (folder.path() / "Quillet.ini").string());
        ini.WriteString("macroFileName", "work.m");
    }
    CQuilletApp app(fake.platform(), Options());
    app.Start();
    EXPECT_FALSE(fs::exists(folder.path() / "work.m"));
    EXPECT_FALSE(fs::exists(folder.path() / "macro.m"));
    EXPECT_TRUE(app.mainWindow()->library().empty());
    EXPECT_TRUE(log.empty());
}

TEST_F(QuilletAppTest, StartAndShutdownRunInOrderAndSaveTheSettingsLast) {
    ASSERT_TRUE(SaveMacroLibrary("macro.m", {MakeNewMacro("a"), MakeNewMacro("b")}).ok);
    CQuilletApp app(fake.platform(), Options());
    app.Start();
    // The system timer resolution is raised from start-up to the end; on Windows by a 1 ms timer that runs
    // until then, elsewhere (no process-wide resolution to raise) without a running timer.
    ASSERT_EQ(fake.beginPeriods().size(), 1u);
    EXPECT_TRUE(fake.endPeriods().empty());
#ifdef _WIN32
    ASSERT_FALSE(fake.timers().empty());
    const std::shared_ptr<platform::FakeTimerState> resolution = fake.timers().front();
    EXPECT_TRUE(resolution->running);
    EXPECT_EQ(resolution->periodMs, 1u);
#else
    EXPECT_TRUE(fake.timers().empty());
#endif
    CQuilletDlg* w = app.mainWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(fake.monitoring());
    EXPECT_FALSE(fs::exists(folder.path() / "Quillet.ini")); // written only at the end

    w->model().OnRunRadio();
    w->move(220, 230);
    w->Control<QWidget>(CQuilletDlg::IdInputStatus)->setFocus();
    EXPECT_TRUE(app.Shutdown());
    EXPECT_EQ(app.mainWindow(), nullptr);
    EXPECT_EQ(fake.endPeriods().size(), 1u);
#ifdef _WIN32
    EXPECT_FALSE(resolution->running);
#endif
    EXPECT_FALSE(fake.monitoring());

    CAppIni stored = Stored();
    EXPECT_EQ(stored.windowSX, 220);
    EXPECT_EQ(stored.windowSY, 230);
    EXPECT_EQ(stored.macroOptions & OptionRunModeOn, OptionRunModeOn); // back in run mode next time
    EXPECT_TRUE(app.Shutdown());                                       // once only
}

TEST_F(QuilletAppTest, ARequestedShutdownSavesTheSettingsButNotTheUnsavedLibrary) {
    ASSERT_TRUE(SaveMacroLibrary("macro.m", {MakeNewMacro("a"), MakeNewMacro("b")}).ok);
    const std::string before = Bytes(folder.path() / "macro.m");
    CQuilletApp app(fake.platform(), Options());
    app.Start();
    bool closed = false;
    QObject::connect(&app, &CQuilletApp::mainWindowClosed, [&closed] { closed = true; });
    app.mainWindow()->OnCopy();
    ASSERT_TRUE(app.mainWindow()->modified());

    app.RequestShutdown("Terminated"); // no question: the test would fail on an unanswered message box
    EXPECT_TRUE(closed);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].contains("not saved")) << log[0].toStdString();
    EXPECT_TRUE(app.Shutdown());
    EXPECT_EQ(Bytes(folder.path() / "macro.m"), before);
    EXPECT_TRUE(fs::exists(folder.path() / "Quillet.ini"));
    EXPECT_EQ(Stored().macroSel, 2); // the selection at the end: the copy
}

TEST_F(QuilletAppTest, AQuitFromTheSystemEndsTheProgramInsteadOfBeingRefused) {
    CQuilletApp app(fake.platform(), Options());
    app.Start();
    bool closed = false;
    QObject::connect(&app, &CQuilletApp::mainWindowClosed, [&closed] { closed = true; });
    EXPECT_FALSE(app.mainWindow()->close()); // the window itself refuses
    QEvent quit(QEvent::Quit);
    EXPECT_FALSE(app.eventFilter(QCoreApplication::instance(), &quit)); // the event goes on to close the windows
    EXPECT_TRUE(closed);
    EXPECT_TRUE(app.mainWindow()->close());
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.back().contains("session"));
}

TEST_F(QuilletAppTest, ExecEndsWithTheExitButtonAndWritesTheSettings) {
    CQuilletApp app(fake.platform(), Options());
    app.Start();
    QTimer::singleShot(0, app.mainWindow(), [&app] { app.mainWindow()->OnExit(); });
    EXPECT_EQ(app.Exec(), 0);
    EXPECT_TRUE(app.shutDown());
    EXPECT_TRUE(fs::exists(folder.path() / "Quillet.ini"));
}

TEST_F(QuilletAppTest, SettingsThatCannotBeWrittenAreReported) {
    AppOptions options = Options();
    options.iniPath = (folder.path() / "no-such-folder" / "Quillet.ini").string();
    CQuilletApp app(fake.platform(), options);
    app.Start();
    EXPECT_FALSE(app.Shutdown());
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.back().contains("could not write the settings"));
}

} // namespace
} // namespace quillet::gui
