// The application's life: start-up (settings, the 1 ms timer, pictures, the main window with its library and run
// mode) and shutdown in the reverse order (main window, 1 ms timer, settings saved). main() opens the platform
// backend and the QApplication, then hands both to CQuilletApp.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QObject>
#include <QString>

#include "engine/mm_timer.h"
#include "gui/mainwindow/main_window.h"
#include "gui/mainwindow/qt_event_loop.h"
#include "model/settings.h"
#include "platform/platform.h"

namespace quillet::gui {

struct AppOptions {
    std::string iniPath;                     // empty: "Quillet.ini" in the current directory
    CQuilletDlg::VersionInfo version;        // the version label and link of the main window
    bool writeDemoLibrary = true;            // first start: the demo library where "macro.m" is missing
    std::function<void(const QString&)> log; // one line for the user; empty: standard error
};

// The first-start library: when name is the default "macro.m" and no such file exists, the bundled demo library
// is written there. Returns the note for the user, empty when nothing was written.
QString WriteDemoLibraryIfMissing(const std::string& cp949Name);

class CQuilletApp : public QObject {
    Q_OBJECT
public:
    explicit CQuilletApp(platform::Platform platform, AppOptions options = {});
    ~CQuilletApp() override; // Shutdown() when started and not yet shut down

    // Settings loaded, the 1 ms timer started, pictures loaded, the main window created (which loads the library,
    // restores run mode and starts watching input) and shown.
    void Start();
    // Runs the event loop until the main window closes, then Shutdown(). Returns the exit code.
    int Exec();
    // Ends the program as the exit button does, but without the save question: unsaved library changes are not
    // written (the user was not asked); the settings are saved as at every end. why goes to the log.
    void RequestShutdown(const QString& why);
    // The main window destroyed (tool windows, macros stopped and held keys released, position, tray icon), the
    // 1 ms timer killed, the settings saved. Later calls do nothing. False when the settings could not be written.
    bool Shutdown();
    // Writes the settings as they are now, window positions included (before the desktop session ends, in case
    // the process does not get to its regular end).
    bool SaveSettingsNow();

    // A Quit event that does not come from the main window's end (the session manager's "die", the platform's
    // termination request) first ends the program as RequestShutdown does; otherwise the main window, which
    // refuses to be closed, would cancel it.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Brings the main window forward, for a second start of the program or a tray double-click: a minimised
    // window is restored, a hidden one shown, then raised and activated (under X11 the activation goes to the
    // window manager as a _NET_ACTIVE_WINDOW request). False when there is no window (before Start, after the
    // main window closed, while shutting down).
    bool ShowAndRaiseMainWindow();

    CAppIni& settings() { return *settings_; }
    // The running program; null before Start and after Shutdown.
    Session* session() const { return session_.get(); }
    // The session's event loop (Qt's, on this thread); null before Start and after Shutdown.
    EventLoop* loop() const { return loop_.get(); }
    CQuilletDlg* mainWindow() const { return window_.get(); }
    bool shutDown() const { return shutDown_; }

signals:
    // The main window has closed (exit button or RequestShutdown).
    void mainWindowClosed();
    // Shutdown begins: the session and its loop still exist and are gone when the slots have returned. What works
    // on the session from outside (a server of remote requests) ends here.
    void shuttingDown();

private:
    void Log(const QString& line) const;

    platform::Platform platform_;
    AppOptions options_;
    std::unique_ptr<CAppIni> settings_;
    TimerCounter counter_;
    std::unique_ptr<CMmTimer> resolutionTimer_;
    bool flushingInput_ = false; // RequestShutdown is handling the input that came before it
    std::unique_ptr<QtEventLoop> loop_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<CQuilletDlg> window_;
    bool started_ = false;
    bool windowClosed_ = false;
    bool shutDown_ = false;
};

} // namespace quillet::gui
