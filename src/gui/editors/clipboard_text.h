// Puts text on the system clipboard in the form other programs of the desktop read as plain text: on Windows the
// CP949 bytes themselves with a closing NUL (CF_TEXT), with the same text as Unicode and the Korean locale beside
// them, so that Hangul reads right also on systems whose code page is not 949; elsewhere (X11) the text as
// Unicode, which Qt offers as UTF-8 and the other text targets X programs ask for.
#pragma once

#include <string>

class QWidget;

namespace quillet::gui {

// owner: the window that opens the clipboard on Windows (its native window is created if it has none yet).
// Nothing happens when the clipboard cannot be opened or the memory not allocated.
void CopyCp949TextToClipboard(QWidget* owner, const std::string& cp949);

} // namespace quillet::gui
