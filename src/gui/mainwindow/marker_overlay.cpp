#include "gui/mainwindow/marker_overlay.h"

#include <algorithm>

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTimer>

#include "gui/text.h"
#include "editing/main_window_model.h"

namespace quillet::gui {

CMarkerOverlay::CMarkerOverlay(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint |
                          Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint),
      linger_(new QTimer(this)) {
    setObjectName(QStringLiteral("colorMarkers"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    linger_->setSingleShot(true);
    connect(linger_, &QTimer::timeout, this, [this] {
        markers_.clear();
        hide();
    });
}

QRect CMarkerOverlay::OuterRect(const platform::MarkerRect& m) {
    const int half = kMarkerPenWidth / 2;
    return QRect(m.rect.left - half, m.rect.top - half, m.rect.width + kMarkerPenWidth,
                 m.rect.height + kMarkerPenWidth);
}

void CMarkerOverlay::ShowMarkers(const std::vector<platform::MarkerRect>& markers) {
    markers_ = markers;
    if (markers_.empty()) {
        linger_->stop();
        hide();
        return;
    }
    // Marker positions are device pixels; the window system places widgets in device-independent ones.
    const QScreen* screen = QGuiApplication::primaryScreen();
    scale_ = screen ? screen->devicePixelRatio() : 1.0;
    if (scale_ <= 0) scale_ = 1.0;

    QRect bounds;
    for (const platform::MarkerRect& m : markers_) bounds |= OuterRect(m);
    origin_ = bounds.topLeft();
    const auto toLogical = [this](const QRect& r) {
        const QRect shifted = r.translated(-origin_);
        return QRect(static_cast<int>(shifted.x() / scale_), static_cast<int>(shifted.y() / scale_),
                     std::max(1, static_cast<int>(shifted.width() / scale_)),
                     std::max(1, static_cast<int>(shifted.height() / scale_)));
    };
    QRegion outlines;
    for (const platform::MarkerRect& m : markers_) {
        const QRect outer = OuterRect(m);
        const QRect inner = outer.adjusted(kMarkerPenWidth, kMarkerPenWidth, -kMarkerPenWidth, -kMarkerPenWidth);
        QRegion ring(toLogical(outer));
        if (inner.isValid()) ring -= QRegion(toLogical(inner));
        outlines |= ring;
    }
    setGeometry(QRect(QPoint(static_cast<int>(origin_.x() / scale_), static_cast<int>(origin_.y() / scale_)),
                      toLogical(bounds).size()));
    setMask(outlines);
    if (!isVisible()) show();
    raise();
    update();
    linger_->start(kLingerMs);
}

void CMarkerOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // In order, so that a later marker covers an earlier one where they overlap.
    for (const platform::MarkerRect& m : markers_) {
        const QRect outer = OuterRect(m).translated(-origin_);
        const QRectF r(outer.x() / scale_, outer.y() / scale_, outer.width() / scale_, outer.height() / scale_);
        painter.fillRect(r, ColorFromColorRef(m.color));
    }
}

} // namespace quillet::gui
