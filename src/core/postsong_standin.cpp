// Temporary definition of the post request, so the publish cycle can post on this branch; the
// post request's own unit replaces this file.
#include "core/mainmodule.h"
#include "tray/frmsystray.h"
#include "ui/interface.h"
#include "web/updatewb.h"

#include <QUrl>

namespace tunalo {

void mainmodule::postsong() {
    // The song and the id travel as query values, so "&", "#" or "+" in a title reach the service whole.
    const auto value = [](const QString& text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); };
    QString address = m_serviceBase + QStringLiteral("/fb/update.php?s=") + value(m_state.currentSong);
    const QString marker = QStringLiteral("ID:");
    if (m_state.autoDelete != 0 && m_state.lastPostTitle.contains(marker))
        address += QStringLiteral("&d=") + value(m_state.lastPostTitle.split(marker).at(1));
    form<updatewb>().wb().Navigate(address);
    if (m_state.autoAlert != 0) {
        interface& window = form<interface>();
        window.BallonMsgs = 0;
        window.showBalloon(m_state.currentSong + QStringLiteral(" (Song Posted)"), QStringLiteral("Tunalo"),
                           16);
    }
}

} // namespace tunalo
