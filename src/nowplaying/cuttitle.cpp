#include "nowplaying/cuttitle.h"

namespace tunalo {

QString cutTitle(const QString& title, int nMaxCount)
{
    const int room = nMaxCount - 1;
    if (room <= 0)
        return {};
    int units = 0;
    int characters = 0;
    while (units < title.size() && characters < room) {
        units += (title.at(units).isHighSurrogate() && units + 1 < title.size()) ? 2 : 1;
        ++characters;
    }
    return title.left(units);
}

} // namespace tunalo
