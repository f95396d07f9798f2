#include "ui/artwork.h"

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

QPixmap picture(const QString& name)
{
    ensureLoaded();
    return QPixmap(QStringLiteral(":/tunalo/%1.png").arg(name));
}

} // namespace tunalo::artwork
