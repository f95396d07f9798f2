#include "core/publishcycle.h"

#include "core/postqueue.h"
#include "core/settings.h"
#include "platform/settingsstore.h"

#include <algorithm>

namespace tunalo {

namespace {

const QString kSelectPlayerHeading = QStringLiteral("Please Select A Media Player");
const QString kPlayerGoneHeading = QStringLiteral("Please Select A Media Player Error Code:#19");
const QString kSelectPlayerBody = QStringLiteral(
    "In order to be able to post the song you are currently playing on facebook, you must first "
    "select a media player from the 'Select Media Player' Panel");

} // namespace

bool isBlank(const QString& song)
{
    return song.trimmed().isEmpty();
}

PublishCycle::PublishCycle(PublishServices services)
    : m_services(std::move(services)), m_serviceBaseFixed(!m_services.serviceBase.isEmpty())
{
    if (!m_serviceBaseFixed)
        m_services.serviceBase = settings::kServiceUrlDefault;
}

PublishCycle::~PublishCycle() = default;

PostQueue& PublishCycle::posts()
{
    if (!m_posts)
        m_posts = std::make_unique<PostQueue>(m_services.postBrowser(), m_services.clock,
                                              static_cast<PostClient&>(*this));
    return *m_posts;
}

PostTarget PublishCycle::postTarget() const
{
    return {m_services.serviceBase, m_state.autoDelete, m_state.lastPostTitle,
            m_heard.current(m_services.clock.now())};
}

// A song goes out again, or after the one before it, only while the user still publishes and the
// player still plays it: a song the user stopped publishing, or one the player has left for a song
// that went no further (held back by the word filter, offered in a balloon), stays unposted.
bool PublishCycle::stillWanted(const QString& song) const
{
    return m_state.publishing == kTrue && m_state.currentSong == song;
}

void PublishCycle::postReported(const PostReport& report)
{
    if (report.key != m_toldPost.key)
        m_toldPost = {report.key};
    switch (report.outcome) {
    case PostOutcome::Confirmed:
        m_state.lastPostTitle = report.title;
        // A post told as not confirmed yet is told once it is, whatever the alert option says.
        if (m_state.autoAlert != 0 || m_toldPost.unconfirmed)
            showSongBalloon(report.song, QStringLiteral(" (Song Posted)"), BalloonIcon::Quiet,
                            kClickDoesNothing);
        return;
    case PostOutcome::NotConfirmedYet:
        // A post without an answer in time may have been made: that is not known yet. Told once per
        // post, and not after its failure was.
        if (!m_toldPost.unconfirmed && !m_toldPost.failure) {
            m_toldPost.unconfirmed = true;
            showSongBalloon(report.song, QStringLiteral(" (not confirmed yet)"), BalloonIcon::Quiet,
                            kClickDoesNothing);
        }
        return;
    case PostOutcome::NotAnswered:
    case PostOutcome::ErrorAnswer:
    case PostOutcome::Refused:
    case PostOutcome::SessionGone:
        break;
    }
    // Told once per post, whatever the alert option says: a retry that fails again is no news.
    if (!m_toldPost.failure) {
        m_toldPost.failure = true;
        showSongBalloon(report.song, QStringLiteral(" (Not Posted): ") + postFailureWords(report.outcome),
                        BalloonIcon::Quiet, kClickDoesNothing);
    }
    // The service no longer knows the user: publishing stops as it does when the log-in is missing.
    // The song now playing is posted again once the user has logged in and switched publishing on.
    if (report.outcome == PostOutcome::SessionGone) {
        m_state.loginState = LoginState::Failed;
        m_state.previousSong.clear();
        refuseNotLoggedIn(report.song);
    }
}

void PublishCycle::loadsettings(bool atstartup)
{
    // One read of the store; every value comes from that same moment.
    const SettingsSection stored =
        m_services.settings.readSection(settings::kApplication, settings::kSection);
    const auto option = [&stored](const QString& key, std::int16_t fallback) {
        return settings::readNumber(stored.value(key, settings::numberText(fallback))).value_or(fallback);
    };
    m_state.autoPublish = option(settings::kAutoPublish, settings::kOptionDefault);
    m_state.autoDelete = option(settings::kAutoDelete, settings::kOptionDefault);
    m_state.autoAlert = option(settings::kAutoAlert, settings::kOptionDefault);
    m_state.screenWords = option(settings::kScreenWords, settings::kOptionDefault);
    m_screenWordList = stored.value(settings::kScreenWordList, settings::kScreenWordListDefault);
    if (atstartup && !m_serviceBaseFixed) {
        // An address the user gave that no longer reads as one leaves the reference service.
        const settings::ServiceAddress address =
            settings::serviceAddress(stored.value(settings::kServiceUrl, settings::kServiceUrlDefault));
        m_services.serviceBase = address.base.isEmpty() ? settings::kServiceUrlDefault : address.base;
    }
    if (atstartup) {
        const std::int16_t player = option(settings::kLastPlayer, settings::kLastPlayerDefault);
        // Only a known player can be watched; anything else in the store means the default one.
        m_state.selectedPlayer =
            (player >= 0 && player < playerCount()) ? player : settings::kLastPlayerDefault;
    }
    emit settingsLoaded();
}

void PublishCycle::saveSelectedPlayer()
{
    m_services.settings.save(settings::kApplication, settings::kSection, settings::kLastPlayer,
                             settings::numberText(m_state.selectedPlayer));
}

std::optional<QString> PublishCycle::tick()
{
    const PlayerId player = m_state.selectedPlayer;
    // Until start-up has chosen a player there is nothing to follow.
    if (player < 0 || player >= playerCount())
        return std::nullopt;
    const bool fresh = m_watch.look(m_services.desktop, player);
    const PlayerLook& look = m_watch.last();
    const bool running = look.running;
    const SongReading& reading = look.reading;
    std::optional<QString> status;
    // A look that is the last one again has nothing new for the status line.
    if (fresh && running) {
        // The player closed between the running test and the read.
        if (!reading.running)
            emit message(kPlayerGoneHeading, kSelectPlayerBody);
        // No song and no player to name (the followed player left the bus): the line shows nothing.
        const QString text = reading.song.isEmpty() && look.name.isEmpty()
                                 ? QString()
                                 : reading.song + QStringLiteral(" - ") + look.name;
        if (m_status != text)
            status = m_status = text;
    }
    if (fresh)
        m_songArt = look.artUrl;
    followListening(running && reading.running ? reading.song : QString(), look);
    if (m_state.publishing != kTrue)
        return status;
    m_state.previousSong = m_state.currentSong;
    // A player that closed before its song was read keeps its last song, so its return with the
    // same song is no new song.
    if (running && reading.running) {
        m_state.currentSong = reading.song;
        if (m_state.previousSong != m_state.currentSong)
            checkpublish();
    }
    return status;
}

void PublishCycle::followListening(const QString& song, const PlayerLook& look)
{
    const std::optional<ListenMeter::Heard> ended =
        m_heard.follow(song, look.listening, m_services.clock.now(), song.isEmpty() ? QString() : look.name);
    // The post that carried the song that ended tells the service with the next post.
    if (ended && m_posts)
        m_posts->heard(*ended);
}

void PublishCycle::setPublishing(bool on)
{
    m_state.publishing = on ? kTrue : kFalse;
    emit publishingChanged(on);
}

void PublishCycle::startPublishing()
{
    setPublishing(true);
    checkpublish();
}

void PublishCycle::stopPublishing()
{
    setPublishing(false);
}

// Publishing goes off with a message; the user fixes the cause and switches it on again.
void PublishCycle::refuse(const QString& heading, const QString& body)
{
    emit message(heading, body);
    setPublishing(false);
}

void PublishCycle::checkpublish()
{
    loadsettings(false);
    const AppState& state = m_state;
    // A blank song counts as none: the service would refuse it.
    if (state.publishing != kTrue || isBlank(state.currentSong))
        return;
    if (playerRunning(m_services.desktop, state.selectedPlayer) == kFalse)
        return refuse(kSelectPlayerHeading, kSelectPlayerBody);
    if (state.loginState != LoginState::LoggedIn) {
        const SongReading reading = readsong(m_services.desktop, state.selectedPlayer);
        if (!reading.running)
            emit message(kPlayerGoneHeading, kSelectPlayerBody);
        return refuseNotLoggedIn(reading.song);
    }
    if (state.previousSong == state.currentSong)
        return;
    if (state.screenWords != 0 && hasscreenword(state.currentSong) == kTrue)
        showSongBalloon(state.currentSong, QStringLiteral(" (Can't Be Posted)"), BalloonIcon::Plain,
                        kClickOpensOptions);
    else if (state.autoPublish != 0)
        postsong();
    else
        showSongBalloon(state.currentSong, QStringLiteral(" (Click To Post)"), BalloonIcon::Quiet,
                        kClickPosts);
}

// The song goes out once the post before it is done; the balloon tells how it went.
void PublishCycle::postsong()
{
    if (!isBlank(m_state.currentSong))
        posts().add(m_state.currentSong);
}

void PublishCycle::refuseNotLoggedIn(const QString& song)
{
    refuse(
        QStringLiteral("Please Log-in To Your Facebook Account First"),
        QStringLiteral("You must be logged into Facebook before you can share that you are listening to   ") +
            song + QStringLiteral("   as your status (duh!). Please click on 'Home' and log into facebook"));
}

std::int16_t PublishCycle::hasscreenword(const QString& song) const
{
    const QString lowerSong = song.toLower();
    // A word anywhere in the song holds it back, at its very start too. The blanks the user typed
    // around a word belong to the list, not to the word; a word of blanks only holds nothing.
    for (const QString& typed : m_screenWordList.split(QLatin1Char(','))) {
        const QString word = typed.trimmed();
        if (!word.isEmpty() && lowerSong.contains(word.toLower()))
            return kTrue;
    }
    return kFalse;
}

void PublishCycle::showBalloon(const QString& text, BalloonIcon icon, BalloonClick click)
{
    BallonMsgs = click;
    emit balloon(text, kBalloonTitle, static_cast<std::int32_t>(icon));
}

void PublishCycle::showSongBalloon(const QString& song, const QString& ending, BalloonIcon icon,
                                   BalloonClick click)
{
    // The tray counts a balloon's text in UTF-16 units; a character of two is kept whole or left out.
    qsizetype room = std::max<qsizetype>(0, kBalloonUnits - ending.size());
    if (song.size() > room && room > 0 && song.at(room - 1).isHighSurrogate())
        --room;
    showBalloon(song.left(room) + ending, icon, click);
}

void PublishCycle::tellRefused(const QString& heading, const ChangeResult& result)
{
    if (result.done() || m_toldCauses.contains(result.cause()))
        return;
    m_toldCauses.insert(result.cause());
    emit message(heading, result.cause());
}

void PublishCycle::BalloonClicked()
{
    if (BallonMsgs == kClickPosts)
        postsong();
    if (BallonMsgs == kClickOpensOptions)
        emit optionsWanted();
}

} // namespace tunalo
