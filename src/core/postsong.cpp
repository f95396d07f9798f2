#include "core/mainmodule.h"

#include "tray/frmsystray.h"
#include "ui/interface.h"
#include "web/updatewb.h"

#include <QUrl>

namespace tunalo {

namespace {

const QString kPostIdMarker = QStringLiteral("ID:");

// A query value as the service must receive it: UTF-8, and every character other than letters,
// digits and "-._~" percent-encoded, so a song with "&", "#", "+", "%" or "=" arrives whole and a
// window title cannot add query keys of its own.
QString queryValue(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace

void mainmodule::postsong()
{
    QString address = m_serviceBase + QStringLiteral("/fb/update.php?s=") + queryValue(m_state.currentSong);
    if (m_state.autoDelete != 0 && m_state.lastPostTitle.contains(kPostIdMarker)) {
        // The id runs from the first marker to a second one or to the end.
        address += QStringLiteral("&d=") + queryValue(m_state.lastPostTitle.split(kPostIdMarker).at(1));
    }
    form<updatewb>().wb().Navigate(address);
    if (m_state.autoAlert != 0) {
        interface& window = form<interface>();
        window.BallonMsgs = 0;
        window.showBalloon(m_state.currentSong + QStringLiteral(" (Song Posted)"), QStringLiteral("Tunalo"),
                           16);
    }
}

} // namespace tunalo
