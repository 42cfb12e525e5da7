// quillet: the desktop program. It takes no command line; it works in the current directory, where it keeps
// Quillet.ini and, by default, the macro library macro.m.
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <QApplication>
#include <QDir>
#include <QSessionManager>

#include "gui/mainwindow/quillet_app.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/translations.h"
#include "model/texts.h"
#include "platform/instance_lock.h"
#include "platform/system_platform.h"
#include "remote/remote_client.h"
#include "remote/remote_commands.h"
#include "remote/remote_server.h"

#ifdef _WIN32
#include "app/close_request_filter.h"
#else
#include <csignal>

#include "app/runtime_dir.h"
#include "app/signal_watcher.h"
#endif

#ifndef QUILLET_VERSION
#define QUILLET_VERSION "2.3"
#endif
#ifndef QUILLET_HOME_PAGE
#define QUILLET_HOME_PAGE "https://quillet.example.org/"
#endif

namespace {

// How long a second start waits for the running one to bring its window forward: it answers from its event loop,
// at once unless it is stuck.
constexpr std::chrono::milliseconds kShowWindowTimeout{1000};

// The running application, for the last resort below; null outside the event loop.
quillet::gui::CQuilletApp* gRunning = nullptr;

// When the X connection breaks (the X server or the session went away without notice) Qt ends the process with
// exit(): the keys can no longer be released then, but the settings still get written.
void SaveSettingsAtUnexpectedExit() {
    if (gRunning && !gRunning->shutDown()) gRunning->settings().Transfer(quillet::CAppIni::Save);
}

// Two programs in one folder would both react to every hotkey and send all input twice, and both write the same
// settings and library. The lock is taken before anything is built, so that a second start, which usually means
// "where is my window?", costs no more than a connection: it asks the running one to bring its window forward and
// ends with 0. Only when that one does not answer does the second say so in a message box (see below).
enum class FolderCheck { Alone, BroughtForward, AnotherRuns };

FolderCheck CheckFolder(const quillet::platform::InstanceLock& lock, const std::filesystem::path& folder) {
    using quillet::platform::InstanceLockStatus;
    if (lock.status() == InstanceLockStatus::Acquired) return FolderCheck::Alone;
    if (lock.status() == InstanceLockStatus::Unavailable) {
        std::fprintf(stderr, "quillet: warning: cannot make sure that no other Quillet runs in this folder: %s\n",
                     lock.problem().c_str());
        return FolderCheck::Alone;
    }
    if (!quillet::remote::AskToShowWindow(folder, kShowWindowTimeout)) return FolderCheck::AnotherRuns;
    const std::string pidText = lock.ownerPid() > 0 ? " (process " + std::to_string(lock.ownerPid()) + ")" : "";
    const std::u8string folderText = folder.u8string();
    std::fprintf(stderr, "quillet: another Quillet%s already runs in this folder (%s): brought its window forward. "
                         "Ending.\n",
                 pidText.c_str(), reinterpret_cast<const char*>(folderText.c_str()));
    return FolderCheck::BroughtForward;
}

// The running one did not answer (stuck, or too old to take requests): the user is told that two in one folder
// cannot be, and this one ends.
void SayAnotherRuns(const quillet::platform::InstanceLock& lock, const std::filesystem::path& folder) {
    const std::string pidText = lock.ownerPid() > 0 ? " (process " + std::to_string(lock.ownerPid()) + ")" : "";
    const std::u8string folderText = folder.u8string();
    std::fprintf(stderr,
                 "quillet: another Quillet%s already runs in this folder (%s); two in one folder would both react to "
                 "the hotkeys and send all input twice. Ending.\n",
                 pidText.c_str(), reinterpret_cast<const char*>(folderText.c_str()));
    using quillet::gui::Text;
    QString where = Text("폴더: %1").arg(QDir::toNativeSeparators(QString::fromStdU16String(folder.u16string())));
    if (lock.ownerPid() > 0) where += Text(" (프로세스 번호 %1)").arg(lock.ownerPid());
    quillet::gui::ShowMessageBox(nullptr,
                                 Text("Quillet이 이 폴더에서 이미 실행 중입니다.\n%1\n\n같은 폴더에서 두 개를 "
                                      "실행하면 두 프로그램이 모두 단축키에 반응하여 모든 입력을 두 번 "
                                      "보냅니다.")
                                     .arg(where),
        QMessageBox::Warning, QMessageBox::Ok);
}

} // namespace

int main(int argc, char** argv) {
    using namespace quillet;

#ifndef _WIN32
    // Keys, mouse and screen go through X; the windows belong on the same X display (also under XWayland).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
    // Qt wants a private runtime directory; plain X servers, ssh and su sessions give none.
    app::EnsurePrivateRuntimeDir();
#endif

    std::error_code noFolder;
    const std::filesystem::path folder = std::filesystem::current_path(noFolder);
    const platform::InstanceLock lock(folder);
    const FolderCheck folderCheck = CheckFolder(lock, folder);
    if (folderCheck == FolderCheck::BroughtForward) return 0;

    std::string error;
    std::string warning;
    const std::unique_ptr<platform::SystemPlatform> backend = platform::OpenSystemPlatform(error, warning, /*deferGuardian=*/true);
    if (!warning.empty()) std::fprintf(stderr, "quillet: warning: %s\n", warning.c_str());
    if (!backend) {
        std::fprintf(stderr, "quillet: cannot start: %s\n", error.c_str());
#ifndef _WIN32
        std::fprintf(stderr, "quillet: it needs an X display. Start it inside an X session, or on a machine without "
                             "one under a virtual X server, for example: xvfb-run -a quillet\n");
#endif
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // The main window ends the program, not the last window to close (the tool windows only hide).
    QApplication::setQuitOnLastWindowClosed(false);

    // Declared first so that it outlives every window.
    std::unique_ptr<QTranslator> qtKorean;
    // The answers to remote requests, made once the program runs (below). Declared before the application object
    // so that they are still there when its shutdown ends them, however it comes.
    std::unique_ptr<remote::RemoteCommands> commands;
    std::unique_ptr<remote::RemoteServer> server;
    // Made here, before anything is shown, because it reads Quillet.ini: the language of every window, the
    // "already running" message below included, comes from the settings. Nothing is written before Start().
    gui::AppOptions options;
    options.version.productVersion = QStringLiteral("Version: " QUILLET_VERSION);
    options.version.fileDescription = QStringLiteral(QUILLET_HOME_PAGE);
    gui::CQuilletApp quillet(backend->platform(), options);
    SetLanguage(LanguageFromSetting(quillet.settings().language));
    // Qt's own texts (standard buttons, file dialog) in the language of the program's: Korean from Qt's catalogue,
    // English as Qt has them.
    if (CurrentLanguage() == Language::Korean) qtKorean = gui::InstallQtKoreanTranslation();

    if (folderCheck == FolderCheck::AnotherRuns) {
        SayAnotherRuns(lock, folder);
        return 1;
    }

#ifndef _WIN32
    // SIGTERM, SIGINT and SIGHUP (the terminal or the session going away) end the program as the exit button does,
    // minus the save question.
    app::SignalWatcher watcher({SIGTERM, SIGINT, SIGHUP});
    if (!watcher.ok()) std::fprintf(stderr, "quillet: warning: cannot catch SIGTERM, SIGINT and SIGHUP\n");
    QObject::connect(&watcher, &app::SignalWatcher::caught, &quillet, [&quillet](int signalNumber) {
        quillet.RequestShutdown(
            QStringLiteral("%1: ending as the exit button does").arg(QString::fromLocal8Bit(strsignal(signalNumber))));
    });
#else
    // WM_CLOSE from another program (taskkill, an update or session tool) ends the program the same way.
    app::CloseRequestFilter closeFilter([&quillet]() -> void* {
        const QWidget* window = quillet.mainWindow();
        return window != nullptr && !quillet.shutDown() ? reinterpret_cast<void*>(window->winId()) : nullptr;
    });
    application.installNativeEventFilter(&closeFilter);
    QObject::connect(&closeFilter, &app::CloseRequestFilter::closeRequested, &quillet, [&quillet] {
        quillet.RequestShutdown(QStringLiteral("WM_CLOSE from another program: ending as the exit button does"));
    });
#endif
    // The session manager asks to save before the desktop session ends; the end itself quits the event loop, and
    // the shutdown after it runs as for the exit button.
    QObject::connect(
        &application, &QGuiApplication::commitDataRequest, &quillet,
        [&quillet](QSessionManager&) { quillet.SaveSettingsNow(); }, Qt::DirectConnection);

    // The guardian started in the background while Qt set itself up; it must be up before anything can send input.
    if (const std::string late = backend->FinishStart(); !late.empty())
        std::fprintf(stderr, "quillet: warning: %s\n", late.c_str());
    quillet.Start();
    gRunning = &quillet;

    // quillet-cli start/stop/status/mode and a second start in this folder reach the program here. The server hands
    // each request to the session's loop; it goes at the start of the shutdown, while the session still exists, so
    // that no request is handled after the session ended.
    if (quillet.session() != nullptr && quillet.loop() != nullptr) {
        commands = std::make_unique<remote::RemoteCommands>(*quillet.session(),
                                                            [&quillet] { return quillet.ShowAndRaiseMainWindow(); });
        std::string problem;
        if (const std::optional<remote::Endpoint> endpoint = remote::EndpointForFolder(folder, problem)) {
            server = std::make_unique<remote::RemoteServer>(
                *endpoint, *quillet.loop(),
                [&commands](const remote::Request& request) { return commands->Execute(request); });
            if (!server->listening()) problem = server->problem();
        }
        if (!server || !server->listening()) {
            server.reset();
            std::fprintf(stderr, "quillet: warning: quillet-cli start/stop/status/mode and a second start cannot "
                                 "reach this Quillet: %s\n",
                         problem.c_str());
        }
        QObject::connect(&quillet, &gui::CQuilletApp::shuttingDown, &quillet, [&server, &commands] {
            server.reset();
            commands.reset();
        });
    }
    std::atexit(SaveSettingsAtUnexpectedExit);
    const int code = quillet.Exec();
    gRunning = nullptr;
    return code;
}
