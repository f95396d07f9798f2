#include "nowplaying/cuttitle.h"

namespace tunalo {

QString cutToCharacters(const QString& text, qsizetype limit)
{
    qsizetype characters = 0;
    for (qsizetype at = 0; at < text.size(); ++characters) {
        if (characters == limit)
            return text.left(at);
        // A character beyond the basic plane takes two units.
        at +=
            text.at(at).isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate() ? 2 : 1;
    }
    return text;
}

QString cutTitle(const QString& title, int nMaxCount)
{
    return nMaxCount <= 1 ? QString() : cutToCharacters(title, nMaxCount - 1);
}

} // namespace tunalo
