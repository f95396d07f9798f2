#pragma once

#include <QByteArray>
#include <QString>

namespace tunalo {

// How a window title property is encoded, by the property's type.
enum class TitleEncoding { Utf8, Latin1, CompoundText };

// The title a window property holds. The text ends at the first NUL, as a title read into a
// character buffer would; bytes that are not valid in the encoding become replacement characters.
QString decodeTitle(const QByteArray& bytes, TitleEncoding encoding);

} // namespace tunalo
