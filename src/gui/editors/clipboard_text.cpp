#include "gui/editors/clipboard_text.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#else
#include <QClipboard>
#include <QGuiApplication>
#endif

#include <QWidget>

#include "gui/text.h"

namespace quillet::gui {

#ifdef _WIN32

void CopyCp949TextToClipboard(QWidget* owner, const std::string& cp949) {
    // CF_TEXT wants a movable global block holding the bytes and a NUL.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, cp949.size() + 1);
    if (block == nullptr) return;
    auto* bytes = static_cast<char*>(GlobalLock(block));
    if (bytes == nullptr) {
        GlobalFree(block);
        return;
    }
    std::memcpy(bytes, cp949.data(), cp949.size());
    bytes[cp949.size()] = '\0';
    GlobalUnlock(block);

    HWND window = owner != nullptr ? reinterpret_cast<HWND>(owner->winId()) : nullptr;
    if (!OpenClipboard(window)) {
        GlobalFree(block);
        return;
    }
    EmptyClipboard();
    // On success the block belongs to the system; otherwise it is still ours to free.
    if (SetClipboardData(CF_TEXT, block) == nullptr) GlobalFree(block);
    CloseClipboard();
}

#else

void CopyCp949TextToClipboard(QWidget*, const std::string& cp949) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(FromCp949(cp949));
}

#endif

} // namespace quillet::gui
