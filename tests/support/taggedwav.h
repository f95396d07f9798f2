#pragma once

#include <QByteArray>
#include <QString>

namespace tunalo::test {

// Writes half a second of silence as a WAV file whose tags name the title and the artist; false
// when the file cannot be written.
bool writeTaggedWav(const QString& path, const QString& title, const QString& artist);
// The bytes of such a file, lasting the given number of seconds.
QByteArray taggedWav(const QString& title, const QString& artist, double seconds = 0.5);

} // namespace tunalo::test
