#include "gui/editors/clipboard_text.h"

#include <QWidget>

#ifdef _WIN32
#include "platform/win32/clipboard.h"
#else
#include <QClipboard>
#include <QGuiApplication>

#include "gui/text.h"
#endif

namespace quillet::gui {

#ifdef _WIN32

void CopyCp949TextToClipboard(QWidget* owner, const std::string& cp949) {
    platform::win32::PutCp949TextOnClipboard(owner != nullptr ? reinterpret_cast<void*>(owner->winId()) : nullptr,
                                             cp949);
}

#else

void CopyCp949TextToClipboard(QWidget*, const std::string& cp949) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(FromCp949(cp949));
}

#endif

} // namespace quillet::gui
