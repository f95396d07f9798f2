#include "core/mainmodule.h"
#include "nowplaying/players.h"
#include "ui/cpanel.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"

#include <QLineEdit>

namespace tunalo {

namespace {

// Publishing goes off with a message; the user fixes the cause and switches it on again.
void refuse(mainmodule& app, const QString& heading, const QString& body)
{
    showmessage(app, heading, body);
    app.form<interface>().setPublishingLook(false);
    app.state().publishing = kFalse;
}

} // namespace

void mainmodule::checkpublish()
{
    loadsettings(false);
    const AppState& state = m_state;
    if (state.publishing != kTrue || state.currentSong.isEmpty())
        return;
    if (playerRunning(*this, state.selectedPlayer) == kFalse) {
        refuse(*this, QStringLiteral("Please Select A Media Player"),
               QStringLiteral(
                   "In order to be able to post the song you are currently playing on facebook, you must "
                   "first select a media player from the 'Select Media Player' Panel"));
        return;
    }
    if (state.loginState != 1) {
        refuseNotLoggedIn(readsong(*this, state.selectedPlayer));
        return;
    }
    if (state.previousSong == state.currentSong)
        return;
    interface& window = form<interface>();
    if (state.screenWords != 0 && hasscreenword(state.currentSong) == kTrue) {
        window.BallonMsgs = 2000;
        window.showBalloon(state.currentSong + QStringLiteral(" (Can't Be Posted)"), interface::kBalloonTitle,
                           0);
    } else if (state.autoPublish != 0) {
        postsong();
    } else {
        window.BallonMsgs = 1000;
        window.showBalloon(state.currentSong + QStringLiteral(" (Click To Post)"), interface::kBalloonTitle,
                           interface::kNoIconNoSound);
    }
}

void mainmodule::refuseNotLoggedIn(const QString& song)
{
    refuse(
        *this, QStringLiteral("Please Log-in To Your Facebook Account First"),
        QStringLiteral("You must be logged into Facebook before you can share that you are listening to   ") +
            song + QStringLiteral("   as your status (duh!). Please click on 'Home' and log into facebook"));
}

std::int16_t mainmodule::hasscreenword(const QString& song)
{
    const QString list = form<optionsfrm>().Text1->text();
    const QString lowerSong = song.toLower();
    // A word anywhere in the song holds it back, at its very start too; an empty word holds nothing.
    for (const QString& word : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (lowerSong.contains(word.toLower()))
            return kTrue;
    }
    return kFalse;
}

} // namespace tunalo
