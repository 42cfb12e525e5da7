#include "gui/editors/trail_overlay.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QPolygonF>
#include <QRegion>
#include <QScreen>

#include "gui/text.h"
#include "gui/widgets/dialog_common.h"

namespace quillet::gui {

namespace {

// A rectangle [left, right) x [top, bottom) in 64 bits: sums of any two 32-bit trail coordinates fit.
struct Span {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return left >= right || top >= bottom; }
    Span widened(int64_t by) const { return {left - by, top - by, right + by, bottom + by}; }
};

Span SpanOf(const platform::ScreenRect& r) {
    return {r.left, r.top, int64_t{r.left} + r.width, int64_t{r.top} + r.height};
}

Span United(const Span& a, const Span& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

Span Intersected(const Span& a, const Span& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// Only called for spans inside the (widened) screen, whose coordinates fit an int.
QRect ToQRect(const Span& s) {
    return QRect(static_cast<int>(s.left), static_cast<int>(s.top), static_cast<int>(s.right - s.left),
                 static_cast<int>(s.bottom - s.top));
}

// Cuts the segment a-b down to the part inside `area` (Liang-Barsky). False when no part is inside; endClipped
// tells whether b itself was outside, so that the polyline must not continue from it.
bool ClipSegment(QPointF& a, QPointF& b, const QRectF& area, bool& endClipped) {
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - area.left(), area.right() - a.x(), a.y() - area.top(), area.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false; // parallel to this edge and outside it
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1) return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return false;
            t1 = std::min(t1, t);
        }
    }
    const QPointF from = a;
    endClipped = t1 < 1.0;
    if (endClipped) b = from + t1 * QPointF(dx, dy);
    if (t0 > 0.0) a = from + t0 * QPointF(dx, dy);
    return true;
}

double DeviceScale() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double scale = screen ? screen->devicePixelRatio() : 1.0;
    return scale > 0 ? scale : 1.0;
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
    // Qt reports the screens in device-independent pixels; the trail is in device pixels.
    const double scale = DeviceScale();
    const platform::ScreenRect r = CDialogCommon::VirtualScreen();
    const auto device = [scale](int32_t v) { return static_cast<int32_t>(std::lround(v * scale)); };
    ShowTrail(trail, {device(r.left), device(r.top), device(r.width), device(r.height)});
}

void CTrailOverlay::ShowTrail(const MouseTrail& trail, const platform::ScreenRect& screen) {
    // Everything the pens can touch: the points and boxes, widened by the pen on every side, and of that only what
    // lies on the screen. Points can be anywhere in 32 bits (moves to 40000 or to -32768 are ordinary items), so the
    // picture is never sized by them alone.
    Span bounds;
    for (const platform::ScreenPoint& p : trail.line)
        bounds = United(bounds, {p.x, p.y, int64_t{p.x} + 1, int64_t{p.y} + 1});
    for (const platform::ScreenRect& r : trail.pressBoxes) bounds = United(bounds, SpanOf(r));
    for (const platform::ScreenRect& r : trail.selectedBoxes) bounds = United(bounds, SpanOf(r));
    const Span shown = Intersected(bounds.widened(kPenWidth), SpanOf(screen));
    if (bounds.empty() || shown.empty()) {
        Erase();
        return;
    }

    // Lines and boxes are cut to a little more than the picture, so that the pen's ends at a cut lie outside it and
    // the pixels inside are exactly those an uncut drawing would give. A polyline is broken where it leaves.
    const Span cut = shown.widened(2 * kPenWidth);
    const QRectF cutArea(QPointF(static_cast<double>(cut.left), static_cast<double>(cut.top)),
                         QPointF(static_cast<double>(cut.right), static_cast<double>(cut.bottom)));
    std::vector<QPolygonF> lines; // from the second point on: the first mouse item only places the pen
    bool continues = false;
    for (std::size_t i = 1; i < trail.line.size(); ++i) {
        QPointF a(trail.line[i - 1].x, trail.line[i - 1].y);
        QPointF b(trail.line[i].x, trail.line[i].y);
        bool endClipped = false;
        if (!ClipSegment(a, b, cutArea, endClipped)) {
            continues = false;
            continue;
        }
        if (!continues) lines.emplace_back(QPolygonF{a});
        lines.back() << b;
        continues = !endClipped;
    }
    const auto onPicture = [&](const std::vector<platform::ScreenRect>& boxes) {
        std::vector<QRect> kept;
        for (const platform::ScreenRect& r : boxes) {
            const Span box = SpanOf(r);
            if (box.empty() || Intersected(box.widened(kPenWidth), shown).empty()) continue;
            kept.push_back(ToQRect(Intersected(box, cut)));
        }
        return kept;
    };
    const std::vector<QRect> pressBoxes = onPicture(trail.pressBoxes);
    const std::vector<QRect> selectedBoxes = onPicture(trail.selectedBoxes);
    if (lines.empty() && pressBoxes.empty() && selectedBoxes.empty()) {
        Erase();
        return;
    }
    const QRect area = ToQRect(shown);
    origin_ = area.topLeft();

    // Drawn without antialiasing: every pixel is either the trail or see-through, so the window's shape is exact.
    picture_ = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
    picture_.fill(Qt::transparent);
    {
        QPainter painter(&picture_);
        painter.translate(-origin_);
        QPen red(ColorFromColorRef(kLineColor), kPenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(red);
        painter.setBrush(Qt::NoBrush);
        for (const QPolygonF& line : lines) painter.drawPolyline(line);
        painter.setBrush(ColorFromColorRef(kPressFill));
        for (const QRect& r : pressBoxes) painter.drawRect(r);
        painter.setPen(QPen(ColorFromColorRef(kSelectedColor), kPenWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        for (const QRect& r : selectedBoxes) painter.drawRect(r);
    }

    // Trail positions are device pixels; the window system places widgets in device-independent ones.
    const double scale = DeviceScale();
    const QSize logical(std::max(1, static_cast<int>(area.width() / scale)),
                        std::max(1, static_cast<int>(area.height() / scale)));
    QImage shape = picture_.createAlphaMask(Qt::ThresholdAlphaDither);
    if (logical != area.size()) shape = shape.scaled(logical);
    // A line can pass just outside the screen's corner: then there is nothing to show after all.
    const QRegion visible(QBitmap::fromImage(shape));
    if (visible.isEmpty()) {
        Erase();
        return;
    }
    setGeometry(QRect(QPoint(static_cast<int>(origin_.x() / scale), static_cast<int>(origin_.y() / scale)), logical));
    setMask(visible);
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
