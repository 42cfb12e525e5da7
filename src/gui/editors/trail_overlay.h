// The mouse trail of the macro editor drawn over the screen: a red line through the positions of the mouse items,
// a filled dark-red box where an item presses a button and, when asked, blue boxes around the selected ones. A
// program cannot draw on other programs' windows here, so the trail is drawn in a frameless, always-on-top window
// that lets every click through and is shaped to exactly the pixels it paints (no compositor needed for
// transparency). It stays until it is erased or its editor closes.
#pragma once

#include <cstdint>

#include <QImage>
#include <QPoint>
#include <QWidget>

#include "editing/macro_editor.h"

namespace quillet::gui {

class CTrailOverlay : public QWidget {
    Q_OBJECT
public:
    // Colours 0x00BBGGRR and the pen width of the trail.
    static constexpr uint32_t kLineColor = 0x0000FF;     // red
    static constexpr uint32_t kSelectedColor = 0xFF0000; // blue
    static constexpr uint32_t kPressFill = 0x000080;     // dark red
    static constexpr int kPenWidth = 2;

    explicit CTrailOverlay(QWidget* parent = nullptr);

    // Shows this trail (screen pixels) instead of the previous one, clipped to the virtual screen (the bounding
    // rectangle of all screens, in the same device pixels); a trail with nothing to draw on it hides the window.
    void ShowTrail(const MouseTrail& trail);
    // As above, clipped to `screen` (device pixels). Any coordinates are accepted, however far off the screen: a
    // line leaving it is drawn up to its edge, as drawing on the screen itself would be. The picture and the window
    // never exceed `screen`, so they cost at most 4 bytes per pixel of it (plus a one-bit mask of the same size).
    void ShowTrail(const MouseTrail& trail, const platform::ScreenRect& screen);
    void Erase();

    // What is drawn, in screen pixels from origin(); a null image while nothing is shown.
    const QImage& picture() const { return picture_; }
    QPoint origin() const { return origin_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QPoint origin_;
};

} // namespace quillet::gui
