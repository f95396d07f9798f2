#pragma once

#include <QString>

namespace tunalo::test {

// Writes half a second of silence as a WAV file whose tags name the title and the artist; false
// when the file cannot be written.
bool writeTaggedWav(const QString& path, const QString& title, const QString& artist);

} // namespace tunalo::test
