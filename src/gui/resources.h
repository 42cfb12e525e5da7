// The program's pictures: the main icon (128), the tray's alternate icon while run mode blinks (130), and the up
// (143, dark green) and down (144, bright green) indicators of the key/mouse status window.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace quillet::gui {

// Registers the compiled-in resources; needed once before the first picture is loaded (the functions below call
// it themselves).
void InitGuiResources();

QIcon MainIcon();        // 128
QIcon BlinkIcon();       // 130
QPixmap IndicatorUp();   // 143, 13 x 13
QPixmap IndicatorDown(); // 144, 13 x 13

} // namespace quillet::gui
