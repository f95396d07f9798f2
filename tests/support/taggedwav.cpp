#include "support/taggedwav.h"

#include <QByteArray>
#include <QFile>

#include <cstdint>

namespace tunalo::test {

namespace {

void appendLittleEndian(QByteArray& bytes, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A RIFF chunk: its name, its length and its bytes, padded to an even length.
QByteArray chunk(const char* name, QByteArray body)
{
    QByteArray bytes(name, 4);
    appendLittleEndian(bytes, static_cast<std::uint32_t>(body.size()), 4);
    if (body.size() % 2 != 0)
        body.append('\0');
    return bytes + body;
}

} // namespace

QByteArray taggedWav(const QString& title, const QString& artist, double seconds)
{
    constexpr std::uint32_t kRate = 8000;
    QByteArray format;
    appendLittleEndian(format, 1, 2); // plain samples
    appendLittleEndian(format, 1, 2); // one channel
    appendLittleEndian(format, kRate, 4);
    appendLittleEndian(format, kRate * 2, 4);
    appendLittleEndian(format, 2, 2);
    appendLittleEndian(format, 16, 2);
    // The tags: INAM holds the title, IART the artist, each text ending in a NUL.
    const QByteArray tags =
        QByteArray("INFO") + chunk("INAM", title.toUtf8() + '\0') + chunk("IART", artist.toUtf8() + '\0');
    const QByteArray wave = QByteArray("WAVE") + chunk("fmt ", format) + chunk("LIST", tags) +
                            chunk("data", QByteArray(static_cast<qsizetype>(kRate * 2 * seconds), '\0'));
    return chunk("RIFF", wave);
}

bool writeTaggedWav(const QString& path, const QString& title, const QString& artist)
{
    const QByteArray bytes = taggedWav(title, artist);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace tunalo::test
