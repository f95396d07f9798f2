#include "ui/artwork.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <iterator>

// The pictures are compiled into a static library, which keeps them only when something names them.
static void loadPictures()
{
    Q_INIT_RESOURCE(tunalo);
}

namespace tunalo::artwork {

namespace {
void ensureLoaded()
{
    static const bool loaded = (loadPictures(), true);
    (void)loaded;
}

constexpr int kIconSides[] = {16, 24, 32, 48, 64, 128, 256};
constexpr int kLargestIconSide = std::end(kIconSides)[-1];

// The program's icon, read from the program's pictures each time a size is asked for. The window
// manager and the tray take the sizes they need and keep their own copies; Qt's own icon would keep
// every size it was once asked for, 360 KB held all day by a program that waits in the tray.
class ProgramIconEngine : public QIconEngine {
public:
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        const int wanted = std::max(size.width(), size.height());
        const auto side = std::find_if(std::begin(kIconSides), std::end(kIconSides),
                                       [wanted](int shipped) { return shipped >= wanted; });
        QImage picture(QStringLiteral(":/tunalo/icon-%1.png").arg(side == std::end(kIconSides) ? kLargestIconSide : *side));
        if (picture.size() != size)
            picture = picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPixmap result = QPixmap::fromImage(std::move(picture));
        if (mode == QIcon::Disabled || mode == QIcon::Selected) {
            QStyleOption option;
            option.palette = QApplication::palette();
            result = QApplication::style()->generatedIconPixmap(mode, result, &option);
        }
        return result;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        QPixmap picture = pixmap(rect.size() * ratio, mode, state);
        picture.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, picture);
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min({size.width(), size.height(), kLargestIconSide});
        return {side, side};
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int side : kIconSides)
            sizes.append(QSize(side, side));
        return sizes;
    }
    QIconEngine* clone() const override { return new ProgramIconEngine; }
};

} // namespace

QIcon programIcon()
{
    ensureLoaded();
    return QIcon(new ProgramIconEngine);
}

// Read through QImage: a QPixmap read from a file stays in Qt's picture cache as well, so a form
// that lets its picture go would not give its memory back.
QPixmap picture(const QString& name)
{
    ensureLoaded();
    return QPixmap::fromImage(QImage(QStringLiteral(":/tunalo/%1.png").arg(name)));
}

void drawNotes(QPainter& painter, qreal side, const QColor& colour)
{
    painter.save();
    painter.scale(side / 100.0, side / 100.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(18, 62, 26, 19));
    painter.drawEllipse(QRectF(56, 54, 26, 19));
    painter.drawRect(QRectF(37, 22, 7, 50));
    painter.drawRect(QRectF(75, 14, 7, 50));
    QPainterPath beam;
    beam.moveTo(37, 22);
    beam.lineTo(82, 14);
    beam.lineTo(82, 28);
    beam.lineTo(37, 36);
    beam.closeSubpath();
    painter.drawPath(beam);
    painter.restore();
}

QPixmap background(const QSize& size, qreal devicePixelRatio)
{
    // Drawn in the design's own 700 x 472 pixels, scaled to the window.
    constexpr qreal kWidth = 700;
    constexpr qreal kHeight = 472;
    QPixmap picture(size * devicePixelRatio);
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size.width() / kWidth, size.height() / kHeight);
    QLinearGradient fill(0, 0, 0, kHeight);
    fill.setColorAt(0, QColor(0x33, 0x3d, 0x4a));
    fill.setColorAt(1, QColor(0x16, 0x1b, 0x22));
    p.fillRect(QRectF(0, 0, kWidth, kHeight), fill);
    // Sound rings behind the button column.
    p.setBrush(Qt::NoBrush);
    for (int ring = 1; ring <= 9; ++ring) {
        p.setPen(QPen(QColor(0xff, 0x9a, 0x1f, 60 - ring * 5), 3));
        p.drawEllipse(QPointF(40, 440), ring * 38.0, ring * 38.0);
    }
    // The header band with the name.
    QLinearGradient band(0, 0, kWidth, 0);
    band.setColorAt(0, QColor(0xd8, 0x3a, 0x12));
    band.setColorAt(1, QColor(0xff, 0x9a, 0x1f));
    p.fillRect(QRectF(0, 0, kWidth, 66), band);
    p.fillRect(QRectF(0, 66, kWidth, 3), QColor(0x7a, 0x20, 0x08));
    p.save();
    p.translate(14, 7);
    drawNotes(p, 52, Qt::white);
    p.restore();
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(38);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    p.setFont(name);
    p.setPen(Qt::white);
    p.drawText(QRectF(76, 0, 400, 66), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("TUNALO"));
    QFont tag(QStringLiteral("DejaVu Sans"));
    tag.setPixelSize(14);
    tag.setItalic(true);
    p.setFont(tag);
    p.setPen(QColor(0xff, 0xf1, 0xe0));
    p.drawText(QRectF(300, 0, 388, 66), Qt::AlignVCenter | Qt::AlignRight,
               QStringLiteral("tell your friends what you are listening to"));
    return picture;
}

} // namespace tunalo::artwork
