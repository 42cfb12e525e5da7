// quillet: the desktop program. It takes no command line; it works in the current directory, where it keeps
// Quillet.ini and, by default, the macro library macro.m.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QApplication>
#include <QSessionManager>

#include "platform/system_platform.h"
#include "gui/mainwindow/quillet_app.h"

#ifndef _WIN32
#include <csignal>

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

} // namespace

int main(int argc, char** argv) {
    using namespace quillet;

#ifndef _WIN32
    // Keys, mouse and screen go through X; the windows belong on the same X display (also under XWayland).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
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

    gui::AppOptions options;
    options.version.productVersion = QStringLiteral("Version: " QUILLET_VERSION);
    options.version.fileDescription = QStringLiteral(QUILLET_HOME_PAGE);
    gui::CQuilletApp quillet(backend->platform(), options);

#ifndef _WIN32
    // SIGTERM, SIGINT and SIGHUP (the terminal or the session going away) end the program as the exit button does,
    // minus the save question.
    app::SignalWatcher watcher({SIGTERM, SIGINT, SIGHUP});
    if (!watcher.ok()) std::fprintf(stderr, "quillet: warning: cannot catch SIGTERM, SIGINT and SIGHUP\n");
    QObject::connect(&watcher, &app::SignalWatcher::caught, &quillet, [&quillet](int signalNumber) {
        quillet.RequestShutdown(
            QStringLiteral("%1: ending as the exit button does").arg(QString::fromLocal8Bit(strsignal(signalNumber))));
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
