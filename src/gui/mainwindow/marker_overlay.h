// The colour markers of run mode: hollow rectangles over the screen. A program cannot draw on other programs'
// windows here, so the rectangles are drawn in a frameless, always-on-top window that lets every click through and
// is shaped to the rectangles' outlines (so it needs no compositor for transparency). They stay until the next
// draw, or vanish shortly after the draws stop.
#pragma once

#include <vector>

#include <QWidget>

#include "platform/platform.h"

class QTimer;

namespace quillet::gui {

class CMarkerOverlay : public QWidget {
    Q_OBJECT
public:
    // How long the markers stay after the last draw (the main window draws every 500 ms while marking is on).
    static constexpr int kLingerMs = 700;

    explicit CMarkerOverlay(QWidget* parent = nullptr);

    // Shows these rectangles (screen pixels, outlines kPenWidth wide, colours 0x00BBGGRR) instead of the previous
    // ones. An empty list hides the overlay.
    void ShowMarkers(const std::vector<platform::MarkerRect>& markers);
    const std::vector<platform::MarkerRect>& markers() const { return markers_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Outline of one marker in screen pixels: its rectangle with the pen centred on the edges.
    static QRect OuterRect(const platform::MarkerRect& m);

    std::vector<platform::MarkerRect> markers_;
    QPoint origin_; // screen pixel at the overlay's top-left corner
    double scale_ = 1.0;
    QTimer* linger_;
};

} // namespace quillet::gui
