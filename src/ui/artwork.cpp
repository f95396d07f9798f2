#include "ui/artwork.h"

#include <QImage>

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
} // namespace

QIcon programIcon()
{
    ensureLoaded();
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/tunalo/icon-%1.png").arg(side), QSize(side, side));
    return icon;
}

// Read through QImage: a QPixmap read from a file stays in Qt's picture cache as well, so a form
// that lets its picture go would not give its memory back.
QPixmap picture(const QString& name)
{
    ensureLoaded();
    return QPixmap::fromImage(QImage(QStringLiteral(":/tunalo/%1.png").arg(name)));
}

} // namespace tunalo::artwork
