// Rules of the user interface that need no widget: window placement, the log's line cap, the run status texts and
// file dialog filters. Kept free of Qt so that they are tested on their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/macro.h"
#include "platform/platform.h"

namespace quillet::gui {

// Moves the stored top-left corner (x, y) of a window of size width x height so that the window lies inside the
// virtual screen. The lower bound is applied first, then the upper one, so a window larger than the virtual screen
// ends up with its right (bottom) edge one pixel inside the far border.
void ClampToVirtualScreen(int32_t& x, int32_t& y, int32_t width, int32_t height,
                          const platform::ScreenRect& virtualScreen);

// The log view's line cap: a view holding more than maxLines lines drops its oldest ones until 8/10 of maxLines
// remain. Returns how many lines to drop (0 while the count is within the cap, or when there is no cap).
int LogLinesToDrop(int lineCount, int maxLines);

// The three fields of the run status page for one macro (UTF-8).
struct RunStatusTexts {
    std::string position; // "<runPos + 1> / <item count>" while 1 <= runPos < item count, otherwise "종료"
    std::string passes;   // "<passCount> / <repeatCount>"
    std::string delay;    // "<delayLeft>"
};
RunStatusTexts RunStatusOf(const Macro& macro);

// Turns a file filter in the "description|pattern|description|pattern||" form into the form of the Qt file
// dialogs ("description (p1 p2);;..."). A description that already ends in a parenthesised pattern list loses it,
// so it is not shown twice; "*.*" becomes "*" so that files without an extension are listed too.
std::string QtFileFilter(std::string_view pairs);

} // namespace quillet::gui
