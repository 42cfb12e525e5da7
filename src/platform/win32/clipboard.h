// The Windows clipboard, for the macro editor's text export. Kept free of <windows.h>: the owner is an HWND.
#pragma once

#include <string_view>

namespace quillet::platform::win32 {

// Puts CP949 text on the clipboard the way other programs read plain text, whatever the system's ANSI code page:
// CF_TEXT with the bytes as they are (a NUL is added), CF_UNICODETEXT converted from code page 949, and CF_LOCALE
// Korean (0x0412), so that any other form the system makes from CF_TEXT reads it as CP949 too. Bytes that are not
// CP949 become the conversion's default character in the Unicode form. owner is the window that opens the clipboard
// (it may be null). False when the memory cannot be had or the clipboard cannot be opened (another program holds
// it): the clipboard is left as it was then. Costs three global blocks of about three times the text's size.
bool PutCp949TextOnClipboard(void* owner, std::string_view cp949);

} // namespace quillet::platform::win32
