#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>

namespace tunalo {

// A song's picture as the player names it, read from the disk away from the user-interface thread.
// Only pictures on this computer are read: an address on the web is never fetched, so the program
// neither waits on the network nor tells a server what the user plays.
class CoverArt : public QObject {
    Q_OBJECT
public:
    // A picture file larger than this, or larger than kMaxSide pixels a side, is not read: a song's
    // cover is far smaller, and a file of that size is a mistake or a trap.
    static constexpr std::int64_t kMaxBytes = 16 * 1024 * 1024;
    static constexpr int kMaxSide = 8192;

    explicit CoverArt(QObject* parent = nullptr) : QObject(parent) {}
    ~CoverArt() override;

    // The local file a file:// address names; empty for anything else.
    static QString localFile(const QString& artUrl);
    // Reads the picture, scaled to fit side pixels a side; a null image when the file is missing,
    // too large, or no picture.
    static QImage read(const QString& path, int side);

    // Starts reading the picture of artUrl; ready follows, with a null picture when there is none
    // to show. A later call makes the earlier one's answer count for nothing.
    void load(const QString& artUrl, int side);
    const QString& artUrl() const { return m_artUrl; }

signals:
    // path is the picture's file when it read well, else empty.
    void ready(const QImage& picture, const QString& path);

private:
    QString m_artUrl;
    std::uint64_t m_asked = 0; // the number of the newest load
};

} // namespace tunalo
