#pragma once

#include "core/listenmeter.h"
#include "platform/browser.h"
#include "platform/clock.h"

#include <QLatin1String>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace tunalo {

// What a post tells of listening: its song's length, and how long the song of the post before was
// heard; nothing for what is not known.
struct ListenKeys {
    qint64 lengthMs = 0;
    QString player;       // the player's name, where it is known
    QString heardPostKey; // the post before's key; empty: nothing to tell of it
    qint64 heardMs = 0;
};

// The post page's address for song, cut to what the service keeps; with deletion on, it also names
// the post that lastPostTitle reports, so the service removes it; with a key, every try of the post
// carries it, so a service that already made the post answers with it instead of making another;
// listen tells how the program heard.
QString postAddress(const QString& serviceBase, const QString& song, std::int16_t autoDelete,
                    const QString& lastPostTitle, const QString& key = QString(),
                    const ListenKeys& listen = {});

// What became of one try of a post.
enum class PostOutcome {
    Confirmed,       // the service answered with the post's id
    NotConfirmedYet, // no answer in time: the post may have been made; it is tried again
    NotAnswered,     // refused, reset or cut off before an answer; tried again
    ErrorAnswer,     // an error status or a page without an id; tried again
    Refused,         // the service refused this very request; not tried again
    SessionGone,     // the service no longer knows the user; nothing more goes out
};

// Why a post did not go through, in the words the user and the log are told.
QLatin1String postFailureWords(PostOutcome outcome);

// What the post queue tells of a try that ended.
struct PostReport {
    PostOutcome outcome;
    QString song;
    QString key;   // the post's key: the same on each of its tries, another for the next post
    QString title; // a confirmed post's page title, which carries its id
};

// Where the next post goes and the post it replaces.
struct PostTarget {
    QString serviceBase;         // scheme, host and port of the service
    std::int16_t autoDelete = 0; // the option: the post names the one before, which the service removes
    QString lastPostTitle;       // the title of the last confirmed post's page
    ListenMeter::Heard heardNow = {}; // the song playing now: its length, player and how long it was heard
};

// What the post queue asks and tells: the publish cycle in the program, a recording in the tests.
// The queue decides when a post goes out and whether it is tried again; what the user is told
// and what becomes of the program's state are the client's.
class PostClient {
public:
    virtual ~PostClient() = default;

    virtual PostTarget postTarget() const = 0;
    // A waiting song, or a failed one after its rest, goes out only while the client still wants it.
    virtual bool stillWanted(const QString& song) const = 0;
    // A try of a post ended.
    virtual void postReported(const PostReport& report) = 0;
};

// The songs on their way to the service, sent one at a time through the post browser. Each post
// waits for the one before to be confirmed, so it carries that post's id; of the songs that come
// meanwhile only the newest waits, so a burst of skips costs one post in flight and one waiting.
// A post that fails is tried again, a little later each time, for as long as no newer song came;
// a post the service refused (a 4xx answer other than a time-out) is not. A post whose answer did
// not come may have been made all the same: it is reported as not confirmed yet, and its next try
// carries the same key, so the service does not make it twice. Each try's end goes to the client.
// The post browser sleeps whenever no post is in flight and is woken for the next.
class PostQueue {
public:
    static constexpr int kAnswerLimitMs = 15000;
    static constexpr int kFirstRetryMs = 5000;
    static constexpr int kLongestRetryMs = 60000;

    PostQueue(Browser& browser, Clock& clock, PostClient& client);
    ~PostQueue();
    PostQueue(const PostQueue&) = delete;
    PostQueue& operator=(const PostQueue&) = delete;

    // Posts song once the post in flight, if any, is done; it replaces the song waiting.
    void add(const QString& song);
    // A song ended, heard for so long; when it is the song last sent, the next post says so.
    void heard(const ListenMeter::Heard& heard);

    // Timer handlers: the post in flight took too long; the rest before trying a failed post again
    // is over.
    void answerLimit_Timer();
    void retryDelay_Timer();

    // The song in flight or resting before its next try.
    const std::optional<QString>& current() const { return m_current; }
    bool inFlight() const { return m_stage == Stage::Sending; }

    std::unique_ptr<Timer> answerLimit; // runs while a post is in flight
    std::unique_ptr<Timer> retryDelay;  // runs while a failed post rests

private:
    enum class Stage { Idle, Sending, Resting };

    void send(const QString& song);
    // What the post of song tells of listening, with what the program hears now.
    ListenKeys listenKeys(const QString& song, const ListenMeter::Heard& now) const;
    void loaded(const LoadResult& result);
    void answered(const LoadResult& result);
    void sleepUnlessSending();
    void confirmed(const QString& title);
    void failed(PostOutcome outcome, const QString& detail);
    void sendWaiting();

    Browser& m_browser;
    PostClient& m_client;
    Stage m_stage = Stage::Idle;
    std::optional<QString> m_current;
    std::optional<QString> m_waiting;
    int m_nextRetryMs = kFirstRetryMs;
    QString m_key; // the current post's key, the same on each of its tries
    ListenKeys m_listen; // the current post's, the same on each of its tries
    // The song of the post sent last, its key, and once it ended, how long it was heard.
    struct Sent {
        QString song;
        QString key;
        std::optional<qint64> heardMs;
    };
    std::optional<Sent> m_lastSent;
};

} // namespace tunalo
