#include "gui/editors/trail_overlay.h"

#include <algorithm>

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QPolygon>
#include <QScreen>

#include "gui/text.h"

namespace quillet::gui {

namespace {

QRect ToQRect(const platform::ScreenRect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}

} // namespace

CTrailOverlay::CTrailOverlay(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint |
                          Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
    setObjectName(QStringLiteral("mouseTrail"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void CTrailOverlay::ShowTrail(const MouseTrail& trail) {
    // Everything the pens can touch: the points and boxes, widened by the pen on every side.
    QRect bounds;
    for (const platform::ScreenPoint& p : trail.line) bounds |= QRect(p.x, p.y, 1, 1);
    for (const platform::ScreenRect& r : trail.pressBoxes) bounds |= ToQRect(r);
    for (const platform::ScreenRect& r : trail.selectedBoxes) bounds |= ToQRect(r);
    const bool drawsLine = trail.line.size() >= 2; // the first mouse item only places the pen
    if (bounds.isEmpty() || (!drawsLine && trail.pressBoxes.empty() && trail.selectedBoxes.empty())) {
        Erase();
        return;
    }
    bounds.adjust(-kPenWidth, -kPenWidth, kPenWidth, kPenWidth);
    origin_ = bounds.topLeft();

    // Drawn without antialiasing: every pixel is either the trail or see-through, so the window's shape is exact.
    picture_ = QImage(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    picture_.fill(Qt::transparent);
    {
        QPainter painter(&picture_);
        painter.translate(-origin_);
        QPen red(ColorFromColorRef(kLineColor), kPenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        if (drawsLine) {
            QPolygon line;
            for (const platform::ScreenPoint& p : trail.line) line << QPoint(p.x, p.y);
            painter.setPen(red);
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(line);
        }
        painter.setPen(red);
        painter.setBrush(ColorFromColorRef(kPressFill));
        for (const platform::ScreenRect& r : trail.pressBoxes) painter.drawRect(ToQRect(r));
        painter.setPen(QPen(ColorFromColorRef(kSelectedColor), kPenWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        for (const platform::ScreenRect& r : trail.selectedBoxes) painter.drawRect(ToQRect(r));
    }

    // Trail positions are device pixels; the window system places widgets in device-independent ones.
    const QScreen* screen = QGuiApplication::primaryScreen();
    double scale = screen ? screen->devicePixelRatio() : 1.0;
    if (scale <= 0) scale = 1.0;
    const QSize logical(std::max(1, static_cast<int>(bounds.width() / scale)),
                        std::max(1, static_cast<int>(bounds.height() / scale)));
    QImage shape = picture_.createAlphaMask(Qt::ThresholdAlphaDither);
    if (logical != bounds.size()) shape = shape.scaled(logical);
    setGeometry(QRect(QPoint(static_cast<int>(origin_.x() / scale), static_cast<int>(origin_.y() / scale)), logical));
    setMask(QBitmap::fromImage(shape));
    if (!isVisible()) show();
    raise();
    update();
}

void CTrailOverlay::Erase() {
    picture_ = QImage();
    hide();
}

void CTrailOverlay::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(rect(), picture_);
}

} // namespace quillet::gui
