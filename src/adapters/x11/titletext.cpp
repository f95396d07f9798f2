#include "adapters/x11/titletext.h"

namespace tunalo {

namespace {

constexpr char kEscape = '\x1b';
constexpr unsigned char kControlSequence = 0x9b;

bool inRange(unsigned char c, unsigned char low, unsigned char high)
{
    return c >= low && c <= high;
}

// Length of the escape or control sequence starting at from: intermediate (and, after a control
// sequence introducer, parameter) bytes, then one final byte.
qsizetype sequenceLength(const QByteArray& bytes, qsizetype from)
{
    const unsigned char lastInner =
        static_cast<unsigned char>(bytes.at(from)) == kControlSequence ? 0x3f : 0x2f;
    qsizetype at = from + 1;
    while (at < bytes.size() && inRange(static_cast<unsigned char>(bytes.at(at)), 0x20, lastInner))
        ++at;
    return (at < bytes.size() ? at + 1 : at) - from;
}

// Compound text switches between character sets with escape sequences. Titles in practice carry
// Latin-1 or, between "ESC % G" and "ESC % @", UTF-8; other sets are read as Latin-1 and the
// sequences themselves dropped.
QString decodeCompoundText(const QByteArray& bytes)
{
    static const QByteArray utf8On("\x1b%G");
    static const QByteArray utf8Off("\x1b%@");
    QString text;
    qsizetype at = 0;
    while (at < bytes.size()) {
        if (bytes.mid(at, utf8On.size()) == utf8On) {
            const qsizetype from = at + utf8On.size();
            qsizetype end = bytes.indexOf(utf8Off, from);
            if (end < 0)
                end = bytes.size();
            text += QString::fromUtf8(bytes.mid(from, end - from));
            at = end == bytes.size() ? end : end + utf8Off.size();
        } else if (bytes.at(at) == kEscape || static_cast<unsigned char>(bytes.at(at)) == kControlSequence) {
            at += sequenceLength(bytes, at);
        } else {
            text += QChar(static_cast<unsigned char>(bytes.at(at)));
            ++at;
        }
    }
    return text;
}

} // namespace

QString decodeTitle(const QByteArray& bytes, TitleEncoding encoding)
{
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArray text = nul < 0 ? bytes : bytes.left(nul);
    switch (encoding) {
    case TitleEncoding::Utf8:
        return QString::fromUtf8(text);
    case TitleEncoding::Latin1:
        return QString::fromLatin1(text);
    case TitleEncoding::CompoundText:
        return decodeCompoundText(text);
    }
    return {};
}

} // namespace tunalo
