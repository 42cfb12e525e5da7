// Draws the program's icons and indicator bitmaps into resources/. Not part of the build; run it after changing a
// picture:
//   g++ -std=c++20 -fPIC resources/make_images.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_images
//   QT_QPA_PLATFORM=offscreen /tmp/make_images resources
#include <QBuffer>
#include <QFile>
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

// The condition dialog's four tab symbols side by side, 16 x 16 each: a key cap (hotkeys), a clock (time), a colour
// drop (colours) and a framed landscape (image). Transparent where the tab shows its own background.
QImage TabIcons() {
    QImage image(64, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x30, 0x30, 0x30);

    // Key cap with a letter.
    p.setPen(QPen(ink, 1));
    p.setBrush(QColor(0xF2, 0xF2, 0xF2));
    p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 2, 2);
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    p.drawRoundedRect(QRectF(3.5, 3.5, 9, 7), 1.5, 1.5);
    p.setPen(QPen(ink, 1.4));
    p.drawLine(QPointF(6.5, 9), QPointF(8, 5));
    p.drawLine(QPointF(8, 5), QPointF(9.5, 9));
    p.drawLine(QPointF(7, 7.8), QPointF(9, 7.8));

    // Clock face with hands.
    p.translate(16, 0);
    p.setPen(QPen(ink, 1.2));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(8, 4));
    p.drawLine(QPointF(8, 8), QPointF(11, 9.5));

    // Colour drop.
    p.translate(16, 0);
    QPainterPath drop;
    drop.moveTo(8, 1.5);
    drop.cubicTo(11, 6, 13.5, 8, 13.5, 10.5);
    drop.cubicTo(13.5, 13.5, 11, 14.8, 8, 14.8);
    drop.cubicTo(5, 14.8, 2.5, 13.5, 2.5, 10.5);
    drop.cubicTo(2.5, 8, 5, 6, 8, 1.5);
    QLinearGradient colours(2, 0, 14, 0);
    colours.setColorAt(0.0, QColor(0xE0, 0x30, 0x30));
    colours.setColorAt(0.5, QColor(0x30, 0xB0, 0x30));
    colours.setColorAt(1.0, QColor(0x30, 0x50, 0xE0));
    p.setPen(QPen(ink, 1));
    p.setBrush(colours);
    p.drawPath(drop);

    // Framed picture: sky, sun and a hill.
    p.translate(16, 0);
    p.setPen(QPen(ink, 1));
    p.setBrush(QColor(0xA8, 0xD8, 0xF8));
    p.drawRect(QRectF(1.5, 2.5, 13, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF8, 0xC8, 0x20));
    p.drawEllipse(QRectF(9, 4, 3.5, 3.5));
    p.setBrush(QColor(0x30, 0x90, 0x40));
    QPainterPath hill;
    hill.moveTo(2, 13);
    hill.lineTo(6.5, 7.5);
    hill.lineTo(10, 11);
    hill.lineTo(11.5, 9.5);
    hill.lineTo(14, 13);
    hill.closeSubpath();
    p.drawPath(hill);
    return image;
}

// A Windows icon file holding the images as PNG (which every Windows since Vista reads), largest last. The
// directory entries say 0 for a side of 256.
bool WriteIco(const QString& path, const QList<QImage>& images) {
    QList<QByteArray> pngs;
    for (const QImage& image : images) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG")) return false;
        pngs.append(bytes);
    }
    QByteArray out;
    auto u16 = [&out](int v) {
        out.append(char(v & 0xFF));
        out.append(char((v >> 8) & 0xFF));
    };
    auto u32 = [&u16](qsizetype v) {
        u16(int(v & 0xFFFF));
        u16(int((v >> 16) & 0xFFFF));
    };
    u16(0); // reserved
    u16(1); // icon
    u16(int(images.size()));
    qsizetype offset = 6 + 16 * images.size();
    for (qsizetype i = 0; i < images.size(); ++i) {
        out.append(char(images[i].width() >= 256 ? 0 : images[i].width()));
        out.append(char(images[i].height() >= 256 ? 0 : images[i].height()));
        out.append(char(0)); // no palette
        out.append(char(0));
        u16(1);  // planes
        u16(32); // bits per pixel
        u32(pngs[i].size());
        u32(offset);
        offset += pngs[i].size();
    }
    for (const QByteArray& png : pngs) out.append(png);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
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
    // The program's icon for the desktop menus (hicolor theme) and for quillet.exe.
    for (int size : {48, 128, 256})
        ok &= Icon(size, blue).save(QStringLiteral("%1/icons/128-%2.png").arg(dir).arg(size));
    QList<QImage> sizes;
    for (int size : {16, 32, 48, 64, 128, 256}) sizes.append(Icon(size, blue));
    ok &= WriteIco(dir + QStringLiteral("/icons/quillet.ico"), sizes);
    ok &= Indicator(QColor(0x1E, 0x5A, 0x1E)).save(dir + QStringLiteral("/bitmaps/143.png"));
    ok &= Indicator(QColor(0x3C, 0xF0, 0x3C)).save(dir + QStringLiteral("/bitmaps/144.png"));
    ok &= TabIcons().save(dir + QStringLiteral("/bitmaps/135.png"));
    return ok ? 0 : 1;
}
