// Windows: a WM_CLOSE that reaches the main window from outside the program (taskkill without /F, a session or
// update tool, another program) ends Quillet as the exit button does, minus the save question: the Windows
// counterpart of SIGTERM on POSIX. The person's own close commands on the main window (the title bar, Alt+F4, the
// system menu: WM_SYSCOMMAND with SC_CLOSE) change nothing, as the main window wants; they are dropped here before
// the system turns them into a WM_CLOSE. Other windows of the program are left alone.
//
//   CloseRequestFilter filter([&] { return mainWindowHandle(); });
//   QCoreApplication::instance()->installNativeEventFilter(&filter);
//   QObject::connect(&filter, &CloseRequestFilter::closeRequested, ...);
//
// closeRequested is emitted from the event loop after the message has been answered, never from inside the window
// procedure. Install it on the thread of the event loop; it must outlive its installation.
#pragma once

#include <functional>

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace quillet::app {

class CloseRequestFilter : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // mainWindow returns the main window's HWND, or null while there is none.
    explicit CloseRequestFilter(std::function<void*()> mainWindow, QObject* parent = nullptr);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void closeRequested();

private:
    std::function<void*()> mainWindow_;
};

} // namespace quillet::app
