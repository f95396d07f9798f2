#include "core/postqueue.h"

#include "core/protocoltext.h"
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

QLatin1String postFailureWords(PostOutcome outcome)
{
    struct Reason {
        PostOutcome outcome;
        QLatin1String words;
    };
    static constexpr Reason kReasons[] = {
        {PostOutcome::NotAnswered, QLatin1String("the service did not answer")},
        {PostOutcome::NotConfirmedYet, QLatin1String("the service did not answer in time")},
        {PostOutcome::ErrorAnswer, QLatin1String("the service answered with an error")},
        {PostOutcome::Refused, QLatin1String("the service refused the song")},
        {PostOutcome::SessionGone, QLatin1String("you are not logged in")},
    };
    for (const Reason& reason : kReasons)
        if (reason.outcome == outcome)
            return reason.words;
    return QLatin1String("");
}

PostQueue::PostQueue(Browser& browser, Clock& clock, PostClient& client)
    : answerLimit(clock.makeTimer([this] { answerLimit_Timer(); })),
      retryDelay(clock.makeTimer([this] { retryDelay_Timer(); })), m_browser(browser), m_client(client)
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

ListenKeys PostQueue::listenKeys(const QString& song, const ListenMeter::Heard& now) const
{
    ListenKeys keys;
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
    const PostTarget target = m_client.postTarget();
    if (m_current != song) {
        m_nextRetryMs = kFirstRetryMs;
        m_key = QUuid::createUuid().toString(QUuid::Id128);
        m_listen = listenKeys(song, target.heardNow);
        m_lastSent = Sent{song, m_key, std::nullopt};
    }
    m_current = song;
    const QString address =
        postAddress(target.serviceBase, song, target.autoDelete, target.lastPostTitle, m_key, m_listen);
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
        m_browser.sleep(m_client.postTarget().serviceBase);
}

void PostQueue::sendWaiting()
{
    m_stage = Stage::Idle;
    m_current.reset();
    if (auto next = std::exchange(m_waiting, std::nullopt); next && m_client.stillWanted(*next))
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
        return failed(PostOutcome::NotAnswered,
                      QStringLiteral("%1 (%2)").arg(result.reason).arg(result.code));
    case LoadResult::Outcome::HttpError: {
        // The service refused this very request; sending it again would meet the same answer.
        // A time-out (408) says nothing about the request.
        constexpr int kRequestTimeout = 408;
        const bool refused = result.code >= 400 && result.code < 500 && result.code != kRequestTimeout;
        return failed(refused ? PostOutcome::Refused : PostOutcome::ErrorAnswer,
                      QStringLiteral("HTTP status %1").arg(result.code));
    }
    case LoadResult::Outcome::Loaded:
        break;
    }
    const QString title = m_browser.LocationName();
    if (title == qtText(protocol::kFailedTitle))
        return failed(PostOutcome::SessionGone, title);
    if (!title.contains(qtText(protocol::kPostIdMarker)))
        return failed(PostOutcome::ErrorAnswer, QStringLiteral("a page titled \"%1\"").arg(title.left(200)));
    confirmed(title);
}

void PostQueue::answerLimit_Timer()
{
    if (!inFlight())
        return;
    // The page may still come; it then belongs to no post.
    answerLimit->stop();
    m_browser.Stop();
    failed(PostOutcome::NotConfirmedYet, QStringLiteral("no answer within %1 s").arg(kAnswerLimitMs / 1000));
    sleepUnlessSending();
}

void PostQueue::retryDelay_Timer()
{
    retryDelay->stop();
    if (m_stage != Stage::Resting)
        return;
    if (m_client.stillWanted(*m_current))
        return send(*m_current);
    m_stage = Stage::Idle;
    m_current.reset();
}

void PostQueue::confirmed(const QString& title)
{
    qCDebug(lcPost) << "posted" << *m_current << "as" << title;
    // Told before the next post goes out, which names this one for deletion.
    m_client.postReported({PostOutcome::Confirmed, *m_current, m_key, title});
    sendWaiting();
}

void PostQueue::failed(PostOutcome outcome, const QString& detail)
{
    const QString song = *m_current;
    qCInfo(lcPost).noquote() << "not posted:" << song << "-" << postFailureWords(outcome) << "-" << detail;
    m_client.postReported({outcome, song, m_key, QString()});
    // Without a session nothing more goes out: what waited is dropped, and the song is posted again
    // once the user has logged in and switched publishing on.
    if (outcome == PostOutcome::SessionGone) {
        m_stage = Stage::Idle;
        m_current.reset();
        m_waiting.reset();
        return;
    }
    if (outcome == PostOutcome::Refused)
        return sendWaiting();
    if (m_waiting)
        return sendWaiting();
    m_stage = Stage::Resting;
    retryDelay->start(m_nextRetryMs);
    m_nextRetryMs = std::min(2 * m_nextRetryMs, kLongestRetryMs);
}

} // namespace tunalo
