#include "ui/coverart.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QPointer>
#include <QThreadPool>
#include <QUrl>

namespace tunalo {

CoverArt::~CoverArt() = default;

QString CoverArt::localFile(const QString& artUrl)
{
    const QUrl url(artUrl);
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

QImage CoverArt::read(const QString& path, int side)
{
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile() || file.size() > kMaxBytes)
        return {};
    QImageReader reader(path);
    // The header says how large the picture is before anything is decoded.
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxSide || size.height() > kMaxSide)
        return {};
    reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio));
    return reader.read();
}

void CoverArt::load(const QString& artUrl, int side)
{
    m_artUrl = artUrl;
    const std::uint64_t asked = ++m_asked;
    const QString path = localFile(artUrl);
    if (path.isEmpty()) {
        emit ready({}, {});
        return;
    }
    QPointer<CoverArt> self(this);
    QThreadPool::globalInstance()->start([self, asked, path, side] {
        const QImage picture = read(path, side);
        // Handed back to the user-interface thread, where alone it is safe to ask whether the reader
        // is still there; an answer to an earlier question is dropped, and one that comes after the
        // program has ended goes nowhere.
        QCoreApplication* const app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [self, asked, picture, path] {
                if (self && asked == self->m_asked)
                    emit self->ready(picture, picture.isNull() ? QString() : path);
            },
            Qt::QueuedConnection);
    });
}

} // namespace tunalo
