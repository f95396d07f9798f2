// Draws the program's artwork into the folder given as the only argument:
//   build/bin/tunalo-artworktool assets
// The pictures are committed; run this again only to change them. The main window's background is
// drawn by the program itself, at the size it shows.
#include "ui/artwork.h"

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>

namespace {

QImage blank(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage icon(int side)
{
    QImage image = blank(side, side);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, side, side);
    fill.setColorAt(0, QColor(0xff, 0x9a, 0x1f));
    fill.setColorAt(1, QColor(0xd8, 0x3a, 0x12));
    p.setBrush(fill);
    p.setPen(QPen(QColor(0x7a, 0x20, 0x08), std::max(1.0, side / 32.0)));
    const qreal inset = std::max(0.5, side / 32.0);
    p.drawRoundedRect(QRectF(inset, inset, side - 2 * inset, side - 2 * inset), side * 0.2, side * 0.2);
    p.translate(side * 0.08, side * 0.1);
    tunalo::artwork::drawNotes(p, side * 0.84, Qt::white);
    return image;
}

QImage warningSign()
{
    QImage image = blank(111, 111);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(55.5, 6);
    triangle.lineTo(106, 100);
    triangle.lineTo(5, 100);
    triangle.closeSubpath();
    QLinearGradient fill(0, 6, 0, 100);
    fill.setColorAt(0, QColor(0xff, 0xb3, 0x2e));
    fill.setColorAt(1, QColor(0xf2, 0x7a, 0x00));
    p.setPen(QPen(QColor(0x5a, 0x2a, 0x00), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x12, 0x08));
    QPainterPath bar;
    bar.moveTo(49, 36);
    bar.lineTo(62, 36);
    bar.lineTo(59, 74);
    bar.lineTo(52, 74);
    bar.closeSubpath();
    p.drawPath(bar);
    p.drawEllipse(QPointF(55.5, 86), 6.5, 6.5);
    return image;
}

void drawFlower(QPainter& p, QPointF centre, qreal radius, qreal turn)
{
    constexpr int kPetals = 12;
    p.save();
    p.translate(centre);
    p.rotate(turn);
    for (int petal = 0; petal < kPetals; ++petal) {
        p.save();
        p.rotate(360.0 * petal / kPetals);
        QRadialGradient shade(QPointF(radius * 0.55, 0), radius * 0.6);
        shade.setColorAt(0, QColor(0xff, 0xa8, 0x2a));
        shade.setColorAt(1, QColor(0xe0, 0x55, 0x05));
        p.setBrush(shade);
        p.setPen(QPen(QColor(0xb0, 0x40, 0x00, 120), 1));
        p.drawEllipse(QRectF(radius * 0.12, -radius * 0.17, radius * 0.9, radius * 0.34));
        p.restore();
    }
    QRadialGradient heart(QPointF(0, 0), radius * 0.3);
    heart.setColorAt(0, QColor(0x6b, 0x3a, 0x0a));
    heart.setColorAt(1, QColor(0x2e, 0x16, 0x04));
    p.setBrush(heart);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(0, 0), radius * 0.26, radius * 0.26);
    p.restore();
}

QImage flowers()
{
    QImage image = blank(521, 369);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 521, 369);
    fill.setColorAt(0, QColor(0xff, 0xf6, 0xe6));
    fill.setColorAt(0.6, QColor(0xff, 0xe2, 0xb8));
    fill.setColorAt(1, QColor(0xc9, 0xd9, 0x9a));
    p.fillRect(image.rect(), fill);
    // Soft out-of-focus light, as behind a close-up of a flower bed.
    QRandomGenerator random(7);
    for (int spot = 0; spot < 40; ++spot) {
        const QPointF centre(380 + random.bounded(160), random.bounded(369));
        const qreal radius = 8 + random.bounded(22);
        QRadialGradient glow(centre, radius);
        glow.setColorAt(0, QColor(0x9c, 0xc4, 0x5a, 110));
        glow.setColorAt(1, QColor(0x9c, 0xc4, 0x5a, 0));
        p.setBrush(glow);
        p.setPen(Qt::NoPen);
        p.drawEllipse(centre, radius, radius);
    }
    // Stems and leaves.
    p.setPen(QPen(QColor(0x4f, 0x7a, 0x2a), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(478, 90), QPointF(500, 369));
    p.drawLine(QPointF(455, 250), QPointF(440, 369));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5f, 0x8f, 0x33));
    p.drawEllipse(QRectF(480, 200, 40, 16));
    p.drawEllipse(QRectF(415, 320, 34, 14));
    drawFlower(p, QPointF(478, 78), 62, 5);
    drawFlower(p, QPointF(455, 238), 48, 20);
    drawFlower(p, QPointF(505, 330), 40, 12);
    drawFlower(p, QPointF(420, 20), 30, 0);
    return image;
}

bool save(const QImage& image, const QDir& folder, const QString& name)
{
    const bool saved = image.save(folder.filePath(name), "PNG");
    if (!saved)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(folder.filePath(name)));
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tunalo-artworktool FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        ok = save(icon(side), folder, QStringLiteral("icon-%1.png").arg(side)) && ok;
    ok = save(warningSign(), folder, QStringLiteral("warning.png")) && ok;
    ok = save(flowers(), folder, QStringLiteral("flowers.png")) && ok;
    return ok ? 0 : 1;
}
