#pragma once

#include "core/listenmeter.h"
#include "platform/browser.h"
#include "platform/clock.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace tunalo {

class PublishCycle;

// The post page's address for song, cut to what the service keeps; with deletion on, it also names
// the post that lastPostTitle reports, so the service removes it; with a key, every try of the post
// carries it, so a service that already made the post answers with it instead of making another.
// What a post tells of listening: its song's length, and how long the song of the post before was
// heard; nothing for what is not known.
struct ListenKeys {
    qint64 lengthMs = 0;
    QString player;       // the player's name, where it is known
    QString heardPostKey; // the post before's key; empty: nothing to tell of it
    qint64 heardMs = 0;
};

QString postAddress(const QString& serviceBase, const QString& song, std::int16_t autoDelete,
                    const QString& lastPostTitle, const QString& key = QString(),
                    const ListenKeys& listen = {});

// The songs on their way to the service, sent one at a time through the post browser. Each post
// waits for the one before to be confirmed, so it carries that post's id; of the songs that come
// meanwhile only the newest waits, so a burst of skips costs one post in flight and one waiting.
// A post that fails is tried again, a little later each time, for as long as no newer song came;
// a post the service refused (a 4xx answer other than a time-out) is not. A post whose answer did
// not come may have been made all the same: it is told as not confirmed yet, and its next try
// carries the same key, so the service does not make it twice.
// The post browser sleeps whenever no post is in flight and is woken for the next.
class PostQueue {
public:
    static constexpr int kAnswerLimitMs = 15000;
    static constexpr int kFirstRetryMs = 5000;
    static constexpr int kLongestRetryMs = 60000;

    PostQueue(PublishCycle& cycle, Browser& browser);
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
    enum class Failure { NoAnswer, Unconfirmed, ErrorAnswer, Refused, SessionGone };

    void send(const QString& song);
    ListenKeys listenKeys(const QString& song) const;
    void loaded(const LoadResult& result);
    void answered(const LoadResult& result);
    void sleepUnlessSending();
    void confirmed(const QString& title);
    void failed(Failure failure, const QString& detail);
    void sessionGone();
    void sendWaiting();
    bool stillWanted(const QString& song) const;

    PublishCycle& m_cycle;
    Browser& m_browser;
    Stage m_stage = Stage::Idle;
    std::optional<QString> m_current;
    std::optional<QString> m_waiting;
    int m_nextRetryMs = kFirstRetryMs;
    QString m_key;                   // the current post's key, the same on each of its tries
    bool m_failureShown = false;     // the current song's " (Not Posted)" balloon was shown
    bool m_unconfirmedShown = false; // the current song's " (not confirmed yet)" balloon was shown
    ListenKeys m_listen;             // the current post's, the same on each of its tries
    // The song of the post sent last, its key, and once it ended, how long it was heard.
    struct Sent {
        QString song;
        QString key;
        std::optional<qint64> heardMs;
    };
    std::optional<Sent> m_lastSent;
};

} // namespace tunalo
