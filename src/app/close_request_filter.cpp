#include "app/close_request_filter.h"

#include <QMetaObject>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace quillet::app {

CloseRequestFilter::CloseRequestFilter(std::function<void*()> mainWindow, QObject* parent)
    : QObject(parent), mainWindow_(std::move(mainWindow)) {}

bool CloseRequestFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) {
    // The window procedure's messages, sent and posted alike (the dispatcher's copy of posted ones is skipped so
    // that each counts once).
    if (eventType != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_CLOSE && msg->message != WM_SYSCOMMAND) return false;
    const HWND main = static_cast<HWND>(mainWindow_ ? mainWindow_() : nullptr);
    if (main == nullptr || msg->hwnd != main) return false;
    if (msg->message == WM_SYSCOMMAND) {
        // The low four bits of the command are the system's own.
        if ((msg->wParam & 0xFFF0) != SC_CLOSE) return false;
        if (result != nullptr) *result = 0;
        return true;
    }
    QMetaObject::invokeMethod(this, &CloseRequestFilter::closeRequested, Qt::QueuedConnection);
    if (result != nullptr) *result = 0;
    return true;
}

} // namespace quillet::app
