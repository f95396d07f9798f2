#include "ui/artwork.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
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

} // namespace tunalo::artwork
