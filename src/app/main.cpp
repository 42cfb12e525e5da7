// quillet: the desktop program. It takes no command line; it works in the current directory, where it keeps
// Quillet.ini and, by default, the macro library macro.m.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// The running application, for the last resort below; null outside the event loop.
quillet::gui::CQuilletApp* gRunning = nullptr;

// When the X connection breaks (the X server or the session went away without notice) Qt ends the process with
// exit(): the keys can no longer be released then, but the settings still get written.
void SaveSettingsAtUnexpectedExit() {
    if (gRunning && !gRunning->shutDown()) gRunning->settings().Transfer(quillet::CAppIni::Save);
}

// Two programs in one folder would both react to every hotkey and send all input twice, and both write the same
// settings and library: the second one says so and ends. False when this one must end.
bool OnlyQuilletInThisFolder(const quillet::platform::InstanceLock& lock, const std::filesystem::path& folder) {
    using quillet::platform::InstanceLockStatus;
    if (lock.status() == InstanceLockStatus::Acquired) return true;
    if (lock.status() == InstanceLockStatus::Unavailable) {
        std::fprintf(stderr, "quillet: warning: cannot make sure that no other Quillet runs in this folder: %s\n",
                     lock.problem().c_str());
        return true;
    }
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
    return false;
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

    std::string error;
    std::string warning;
    const std::unique_ptr<platform::SystemPlatform> backend = platform::OpenSystemPlatform(error, warning);
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

    std::error_code noFolder;
    const std::filesystem::path folder = std::filesystem::current_path(noFolder);
    const platform::InstanceLock lock(folder);
    if (!OnlyQuilletInThisFolder(lock, folder)) return 1;

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

    quillet.Start();
    gRunning = &quillet;
    std::atexit(SaveSettingsAtUnexpectedExit);
    const int code = quillet.Exec();
    gRunning = nullptr;
    return code;
}
