// Draws the program's icons and indicator bitmaps into resources/. Not part of the build; run it after changing a
// picture:
//   g++ -std=c++20 -fPIC resources/make_images.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_images
//   QT_QPA_PLATFORM=offscreen /tmp/make_images resources
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

// A white quill on a rounded square of the given colour; 128 is the program's icon, 130 its alternate while run
// mode blinks in the tray.
QImage Icon(int size, QColor background) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(QPen(background.darker(150), 2));
    p.setBrush(background);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    QPainterPath vane;
    vane.moveTo(16, 50);
    vane.cubicTo(18, 30, 34, 12, 54, 9);
    vane.cubicTo(50, 28, 36, 44, 16, 50);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(vane);
    p.setPen(QPen(background.darker(130), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 47), QPointF(46, 18));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 50), QPointF(10, 56));
    return image;
}

// A 13 x 13 round indicator: 143 (up) dark green, 144 (down) bright green.
QImage Indicator(QColor fill) {
    QImage image(13, 13, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(fill.darker(170), 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(1.5, 1.5, 10, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawEllipse(QRectF(3.5, 3, 4, 3));
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    const QColor blue(0x1F, 0x5F, 0xAF);
    const QColor amber(0xE0, 0x8A, 0x00);
    bool ok = true;
    for (int size : {16, 32, 64}) {
        ok &= Icon(size, blue).save(QStringLiteral("%1/icons/128-%2.png").arg(dir).arg(size));
        ok &= Icon(size, amber).save(QStringLiteral("%1/icons/130-%2.png").arg(dir).arg(size));
    }
    ok &= Indicator(QColor(0x1E, 0x5A, 0x1E)).save(dir + QStringLiteral("/bitmaps/143.png"));
    ok &= Indicator(QColor(0x3C, 0xF0, 0x3C)).save(dir + QStringLiteral("/bitmaps/144.png"));
    return ok ? 0 : 1;
}
