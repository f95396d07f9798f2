#include "core/postqueue.h"

#include "core/protocoltext.h"
#include "core/publishcycle.h"
#include "nowplaying/cuttitle.h"

#include <QLoggingCategory>
#include <QUrl>
#include <QUuid>

namespace tunalo {

Q_LOGGING_CATEGORY(lcPost, "tunalo.post", QtWarningMsg)

namespace {

// A query value as the service must receive it: UTF-8, and every character other than letters,
// digits and "-._~" percent-encoded, so a song with "&", "#", "+", "%" or "=" arrives whole and a
// window title cannot add query keys of its own.
QString queryValue(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace

QString postAddress(const QString& serviceBase, const QString& song, std::int16_t autoDelete,
                    const QString& lastPostTitle, const QString& key, const ListenKeys& listen)
{
    const QLatin1String marker = qtText(protocol::kPostIdMarker);
    // A longer song would be cut by the service anyway, or make an address too long for it.
    const QString kept = cutToCharacters(song, static_cast<qsizetype>(protocol::kMaxSongCharacters));
    QString address = serviceBase + qtText(protocol::kPostPath) + QLatin1Char('?') +
                      qtText(protocol::kSongKey) + QLatin1Char('=') + queryValue(kept);
    if (autoDelete != 0 && lastPostTitle.contains(marker)) {
        // The id runs from the first marker to a second one or to the end.
        address += QLatin1Char('&') + qtText(protocol::kDeleteKey) + QLatin1Char('=') +
                   queryValue(lastPostTitle.split(marker).at(1));
    }
    const auto add = [&address](std::string_view name, const QString& value) {
        address += QLatin1Char('&') + qtText(name) + QLatin1Char('=') + queryValue(value);
    };
    if (!key.isEmpty())
        add(protocol::kPostKeyKey, key);
    if (listen.lengthMs > 0)
        add(protocol::kLengthKey, QString::number(listen.lengthMs));
    if (!listen.player.isEmpty())
        add(protocol::kPlayerKey, listen.player);
    if (!listen.heardPostKey.isEmpty()) {
        add(protocol::kHeardPostKey, listen.heardPostKey);
        add(protocol::kHeardKey, QString::number(listen.heardMs));
    }
    return address;
}

PostQueue::PostQueue(PublishCycle& cycle, Browser& browser)
    : answerLimit(cycle.clock().makeTimer([this] { answerLimit_Timer(); })),
      retryDelay(cycle.clock().makeTimer([this] { retryDelay_Timer(); })), m_cycle(cycle), m_browser(browser)
{
    m_browser.setLoadListener([this](const LoadResult& result) { loaded(result); });
}

PostQueue::~PostQueue()
{
    m_browser.setLoadListener({});
}

void PostQueue::add(const QString& song)
{
    if (inFlight()) {
        m_waiting = song;
        return;
    }
    // A failed song resting before its next try gives way to the newer one.
    retryDelay->stop();
    send(song);
}

void PostQueue::heard(const ListenMeter::Heard& heard)
{
    if (m_lastSent && !m_lastSent->heardMs && m_lastSent->song == heard.song)
        m_lastSent->heardMs = heard.heardMs;
}

ListenKeys PostQueue::listenKeys(const QString& song) const
{
    ListenKeys keys;
    const ListenMeter::Heard now = m_cycle.heardNow();
    if (now.song == song) {
        keys.lengthMs = now.lengthMs;
        keys.player = now.player;
    }
    if (m_lastSent && m_lastSent->heardMs) {
        keys.heardPostKey = m_lastSent->key;
        keys.heardMs = *m_lastSent->heardMs;
    }
    return keys;
}

void PostQueue::send(const QString& song)
{
    if (m_current != song) {
        m_nextRetryMs = kFirstRetryMs;
        m_failureShown = false;
        m_unconfirmedShown = false;
        m_key = QUuid::createUuid().toString(QUuid::Id128);
        m_listen = listenKeys(song);
        m_lastSent = Sent{song, m_key, std::nullopt};
    }
    m_current = song;
    const AppState& state = m_cycle.state();
    const QString address =
        postAddress(m_cycle.serviceBase(), song, state.autoDelete, state.lastPostTitle, m_key, m_listen);
    qCDebug(lcPost) << "posting" << address;
    m_stage = Stage::Sending;
    answerLimit->start(kAnswerLimitMs);
    m_browser.wake();
    m_browser.Navigate(address);
}

// Between posts the post browser sleeps, so its page holds no renderer while the program waits.
void PostQueue::sleepUnlessSending()
{
    if (!inFlight() && !m_browser.isAsleep())
        m_browser.sleep(m_cycle.serviceBase());
}

// A song goes out again, or after the one before it, only while the user still publishes and the
// player still plays it: a song the user stopped publishing, or one the player has left for a song
// that went no further (held back by the word filter, offered in a balloon), stays unposted.
bool PostQueue::stillWanted(const QString& song) const
{
    const AppState& state = m_cycle.state();
    return state.publishing == kTrue && state.currentSong == song;
}

void PostQueue::sendWaiting()
{
    m_stage = Stage::Idle;
    m_current.reset();
    if (auto next = std::exchange(m_waiting, std::nullopt); next && stillWanted(*next))
        send(*next);
}

void PostQueue::loaded(const LoadResult& result)
{
    if (!inFlight())
        return;
    answered(result);
    sleepUnlessSending();
}

void PostQueue::answered(const LoadResult& result)
{
    answerLimit->stop();
    switch (result.outcome) {
    case LoadResult::Outcome::NotReached:
        return failed(Failure::NoAnswer, QStringLiteral("%1 (%2)").arg(result.reason).arg(result.code));
    case LoadResult::Outcome::HttpError: {
        // The service refused this very request; sending it again would meet the same answer.
        // A time-out (408) says nothing about the request.
        constexpr int kRequestTimeout = 408;
        const bool refused = result.code >= 400 && result.code < 500 && result.code != kRequestTimeout;
        return failed(refused ? Failure::Refused : Failure::ErrorAnswer,
                      QStringLiteral("HTTP status %1").arg(result.code));
    }
    case LoadResult::Outcome::Loaded:
        break;
    }
    const QString title = m_browser.LocationName();
    if (title == qtText(protocol::kFailedTitle))
        return failed(Failure::SessionGone, title);
    if (!title.contains(qtText(protocol::kPostIdMarker)))
        return failed(Failure::ErrorAnswer, QStringLiteral("a page titled \"%1\"").arg(title.left(200)));
    confirmed(title);
}

void PostQueue::answerLimit_Timer()
{
    if (!inFlight())
        return;
    // The page may still come; it then belongs to no post.
    answerLimit->stop();
    m_browser.Stop();
    failed(Failure::Unconfirmed, QStringLiteral("no answer within %1 s").arg(kAnswerLimitMs / 1000));
    sleepUnlessSending();
}

void PostQueue::retryDelay_Timer()
{
    retryDelay->stop();
    if (m_stage != Stage::Resting)
        return;
    if (stillWanted(*m_current))
        return send(*m_current);
    m_stage = Stage::Idle;
    m_current.reset();
}

void PostQueue::confirmed(const QString& title)
{
    AppState& state = m_cycle.state();
    state.lastPostTitle = title;
    qCDebug(lcPost) << "posted" << *m_current << "as" << title;
    // A post told as not confirmed yet is told once it is, whatever the alert option says.
    if (state.autoAlert != 0 || m_unconfirmedShown)
        m_cycle.showSongBalloon(*m_current, QStringLiteral(" (Song Posted)"), BalloonIcon::Quiet, kClickDoesNothing);
    sendWaiting();
}

void PostQueue::failed(Failure failure, const QString& detail)
{
    struct Reason {
        Failure failure;
        const char* words;
    };
    static constexpr Reason kReasons[] = {
        {Failure::NoAnswer, "the service did not answer"},
        {Failure::Unconfirmed, "the service did not answer in time"},
        {Failure::ErrorAnswer, "the service answered with an error"},
        {Failure::Refused, "the service refused the song"},
        {Failure::SessionGone, "you are not logged in"},
    };
    const char* words = "";
    for (const Reason& reason : kReasons)
        if (reason.failure == failure)
            words = reason.words;
    const QString song = *m_current;
    qCInfo(lcPost).noquote() << "not posted:" << song << "-" << words << "-" << detail;
    // Told once per song, whatever the alert option says: a retry that fails again is no news. A
    // post without an answer in time may have been made: that is not known yet.
    if (failure == Failure::Unconfirmed) {
        if (!m_unconfirmedShown && !m_failureShown) {
            m_unconfirmedShown = true;
            m_cycle.showSongBalloon(song, QStringLiteral(" (not confirmed yet)"), BalloonIcon::Quiet,
                                    kClickDoesNothing);
        }
    } else if (!m_failureShown) {
        m_failureShown = true;
        m_cycle.showSongBalloon(song, QStringLiteral(" (Not Posted): ") + QString::fromLatin1(words),
                                BalloonIcon::Quiet, kClickDoesNothing);
    }
    if (failure == Failure::SessionGone)
        return sessionGone();
    if (failure == Failure::Refused)
        return sendWaiting();
    if (m_waiting)
        return sendWaiting();
    m_stage = Stage::Resting;
    retryDelay->start(m_nextRetryMs);
    m_nextRetryMs = std::min(2 * m_nextRetryMs, kLongestRetryMs);
}

// The service no longer knows the user: publishing stops as it does when the log-in is missing.
// What waited is dropped; the song now playing is posted again once the user has logged in and
// switched publishing on.
void PostQueue::sessionGone()
{
    const QString song = *m_current;
    m_stage = Stage::Idle;
    m_current.reset();
    m_waiting.reset();
    AppState& state = m_cycle.state();
    state.loginState = 2;
    state.previousSong.clear();
    m_cycle.refuseNotLoggedIn(song);
}

} // namespace tunalo
