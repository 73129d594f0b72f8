// Draws the program icon (a chip with an arrow into it) as PNG files of every carried size.
// scalable/vorta-fwupdate-tool.svg holds the same shapes; change both together.
// Not part of the build; run it again only to change the icon:
//   g++ -std=c++20 -fPIC DrawIcon.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw-icon
//   QT_QPA_PLATFORM=offscreen /tmp/draw-icon tool/resources/icons
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

QImage Draw(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // Pins on all four sides.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xB0, 0xB8, 0xC4));
    for (int i = 0; i < 4; ++i) {
        const double at = 17 + i * 8.5;
        p.drawRoundedRect(QRectF(at, 3, 4.5, 8), 1, 1);
        p.drawRoundedRect(QRectF(at, 53, 4.5, 8), 1, 1);
        p.drawRoundedRect(QRectF(3, at, 8, 4.5), 1, 1);
        p.drawRoundedRect(QRectF(53, at, 8, 4.5), 1, 1);
    }
    // The package.
    QLinearGradient body(0, 9, 0, 55);
    body.setColorAt(0, QColor(0x3A, 0x4A, 0x60));
    body.setColorAt(1, QColor(0x1E, 0x28, 0x36));
    p.setBrush(body);
    p.setPen(QPen(QColor(0x12, 0x18, 0x22), 1.2));
    p.drawRoundedRect(QRectF(9.5, 9.5, 45, 45), 6, 6);
    // Orientation dot.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x6A, 0x7C, 0x94));
    p.drawEllipse(QPointF(16.5, 16.5), 2.2, 2.2);

    // A green arrow going down into the chip: new firmware written in.
    QPainterPath arrow;
    arrow.moveTo(27, 17);
    arrow.lineTo(37, 17);
    arrow.lineTo(37, 31);
    arrow.lineTo(44, 31);
    arrow.lineTo(32, 46);
    arrow.lineTo(20, 31);
    arrow.lineTo(27, 31);
    arrow.closeSubpath();
    QLinearGradient green(0, 17, 0, 46);
    green.setColorAt(0, QColor(0x7C, 0xE0, 0x6A));
    green.setColorAt(1, QColor(0x2E, 0xA0, 0x3C));
    p.setBrush(green);
    p.setPen(QPen(QColor(0x1C, 0x6A, 0x26), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(arrow);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2").arg(out).arg(size);
        QDir().mkpath(dir);
        if (!Draw(size).save(dir + QStringLiteral("/vorta-fwupdate-tool.png"))) {
            return 1;
        }
    }
    return 0;
}
