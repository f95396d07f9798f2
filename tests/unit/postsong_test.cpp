#include "core/postqueue.h"
#include "support/appfixture.h"
#include "support/uiprobe.h"
#include "ui/info.h"
#include "ui/interface.h"
#include "web/frmweb.h"
#include "web/updatewb.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrlQuery>

namespace tunalo::test {
namespace {

TEST(PostAddress, CarriesTheSongAndThePreviousIdEncoded)
{
    const QString page = QStringLiteral("http://127.0.0.1:8631/fb/update.php?s=");
    struct Row {
        const char* song;
        std::int16_t autoDelete;
        const char* lastPostTitle;
        const char* query; // after "?s="
    };
    const Row rows[] = {
        {"Artist - Title", 0, "Posted ID:12345", "Artist%20-%20Title"},
        {"Artist - Title", 1, "Posted ID:12345", "Artist%20-%20Title&d=12345"},
        {"Artist - Title", -3, "Posted ID:12345", "Artist%20-%20Title&d=12345"},
        {"Artist - Title", 1, "ID:12 ID:34", "Artist%20-%20Title&d=12%20"},
        {"Artist - Title", 1, "", "Artist%20-%20Title"},
        {"Artist - Title", 1, "Posted id:12345", "Artist%20-%20Title"},
        {"Artist - Title", 1, "ID:a&s=x", "Artist%20-%20Title&d=a%26s%3Dx"},
        {"Tom & Jerry #1 + 50% ?x=y", 0, "", "Tom%20%26%20Jerry%20%231%20%2B%2050%25%20%3Fx%3Dy"},
        {" Sigur Rós - Hoppípolla  ", 0, "", "%20Sigur%20R%C3%B3s%20-%20Hopp%C3%ADpolla%20%20"},
        {"", 1, "ID:7", "&d=7"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.song);
        SCOPED_TRACE(row.lastPostTitle);
        EXPECT_EQ(postAddress(QStringLiteral("http://127.0.0.1:8631"), QString::fromUtf8(row.song),
                              row.autoDelete, QString::fromUtf8(row.lastPostTitle)),
                  page + QString::fromUtf8(row.query));
    }
}

// The service keeps 1,000 characters of a song; a longer one is cut before it goes out, never
// inside a character, and the post's key follows the other keys.
TEST(PostAddress, CutsALongSongToWhatTheServiceKeepsAndCarriesTheKey)
{
    const QString a999(999, QLatin1Char('a'));
    const QString note = QStringLiteral("\U0001F3B5"); // two UTF-16 units
    struct Row {
        const char* what;
        QString song;
        QString kept;
    };
    const Row rows[] = {
        {"1,000 characters", QString(1000, QLatin1Char('a')), QString(1000, QLatin1Char('a'))},
        {"1,001 characters", QString(1001, QLatin1Char('a')), QString(1000, QLatin1Char('a'))},
        {"5,000 characters", QString(5000, QLatin1Char('a')), QString(1000, QLatin1Char('a'))},
        {"a wide character last", a999 + note + QStringLiteral("b"), a999 + note},
        {"a wide character beyond", a999 + QStringLiteral("a") + note, a999 + QStringLiteral("a")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QUrlQuery query(QUrl(postAddress(QStringLiteral("http://h:1"), row.song, 1,
                                               QStringLiteral("ID:7"), QStringLiteral("k1"))));
        EXPECT_EQ(query.queryItemValue(QStringLiteral("s"), QUrl::FullyDecoded), row.kept);
        EXPECT_EQ(query.queryItemValue(QStringLiteral("d")), QStringLiteral("7"));
        EXPECT_EQ(query.queryItemValue(QStringLiteral("k")), QStringLiteral("k1"));
    }
}

// A started program, logged in, with every option on; the post browser's pages come when the test
// says.
class PostSong : public AppTest {
protected:
    void SetUp() override
    {
        startUp();
        state().loginState = 1;
        state().publishing = kTrue;
        state().autoDelete = 1;
        state().autoAlert = 1;
        balloons = std::make_unique<BalloonLog>(*fakes.shell);
    }

    AppState& state() { return app->state(); }
    FakeBrowser& post() { return static_cast<FakeBrowser&>(app->form<updatewb>().wb()); }
    PostQueue& queue() { return app->cycle().posts(); }
    ManualClock& clock() { return *fakes.clock; }
    void postSong(const QString& song)
    {
        state().currentSong = song;
        app->cycle().postsong();
    }
    // The value of key in the post browser's navigation number index.
    QString sent(qsizetype index, const char* key = "s")
    {
        return QUrlQuery(QUrl(post().navigations.at(index)))
            .queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
    }

    // How long until the post browser is sent again, in the clock's time.
    qint64 untilTheNextPost()
    {
        const qint64 from = clock().now();
        const qsizetype before = post().navigations.size();
        constexpr qint64 kStepMs = 100;
        constexpr qint64 kLongestMs = 10 * 60 * 1000;
        while (post().navigations.size() == before && clock().now() - from < kLongestMs)
            clock().advance(kStepMs);
        return clock().now() - from;
    }

    std::unique_ptr<BalloonLog> balloons;
};

TEST_F(PostSong, ABurstOfSongsCostsOnePostAndOneWaitingAndEachPostDeletesTheOneBefore)
{
    state().lastPostTitle = QStringLiteral("Posted ID:100");
    for (int song = 1; song <= 12; ++song)
        postSong(QStringLiteral("Artist - Song %1").arg(song));
    ASSERT_EQ(post().navigations.size(), 1) << "one post at a time";
    EXPECT_EQ(sent(0), QStringLiteral("Artist - Song 1"));
    EXPECT_EQ(sent(0, "d"), QStringLiteral("100"));
    // A page still loading tells nothing, whatever its title says so far.
    post().setTitle(QStringLiteral("Posted ID:1"));
    EXPECT_EQ(state().lastPostTitle, QStringLiteral("Posted ID:100"));
    EXPECT_TRUE(balloons->messages().isEmpty());

    post().finishLoading(QStringLiteral("Posted ID:101"));
    EXPECT_FALSE(post().asleep) << "the waiting song goes on at once";
    EXPECT_EQ(post().sleeps, 0);
    ASSERT_EQ(post().navigations.size(), 2);
    EXPECT_EQ(sent(1), QStringLiteral("Artist - Song 12")) << "only the newest waiting song is kept";
    EXPECT_EQ(sent(1, "d"), QStringLiteral("101"));
    post().finishLoading(QStringLiteral("Posted ID:102"));
    EXPECT_EQ(post().navigations.size(), 2);
    EXPECT_EQ(state().lastPostTitle, QStringLiteral("Posted ID:102"));
    EXPECT_FALSE(queue().current());
    // With nothing left to post, the post browser sleeps on an empty page of the service.
    EXPECT_TRUE(post().asleep);
    EXPECT_EQ(post().sleepOrigin, app->serviceBase());
    EXPECT_EQ(balloons->messages(), QStringList({QStringLiteral("Artist - Song 1 (Song Posted)"),
                                                 QStringLiteral("Artist - Song 12 (Song Posted)")}));
    EXPECT_EQ(app->cycle().BallonMsgs, 0);
}

// How a post ends, and what the user and the next post see of it.
struct Ending {
    const char* what;
    std::function<void(FakeBrowser&, ManualClock&)> end;
    const char* lastPostTitle; // afterwards; it was "Posted ID:1"
    const char* balloon;       // after the song; empty for none
    bool triedAgain;
};

void PrintTo(const Ending& ending, std::ostream* out)
{
    *out << ending.what;
}

class PostEnding : public PostSong, public ::testing::WithParamInterface<Ending> {};

TEST_P(PostEnding, OnlyAConfirmedPostCountsAndAFailedOneIsToldAndTriedAgain)
{
    const Ending& ending = GetParam();
    for (const std::int16_t alert : {1, 0}) {
        SCOPED_TRACE(alert);
        state().autoAlert = alert;
        state().lastPostTitle = QStringLiteral("Posted ID:1");
        app->cycle().BallonMsgs = 1000;
        postSong(QStringLiteral("Artist - Song %1").arg(alert));
        ASSERT_TRUE(queue().answerLimit->isActive());
        EXPECT_FALSE(post().asleep);
        ending.end(post(), clock());
        EXPECT_FALSE(queue().answerLimit->isActive());
        EXPECT_TRUE(post().asleep) << "confirmed or given up, the post browser sleeps till the next post";
        EXPECT_EQ(state().lastPostTitle, QString::fromUtf8(ending.lastPostTitle));
        const bool confirmed = QString::fromUtf8(ending.balloon) == QStringLiteral(" (Song Posted)");
        const QStringList shown = balloons->messages();
        if (confirmed && alert == 0) {
            EXPECT_TRUE(shown.isEmpty() || !shown.last().contains(QStringLiteral("Song 0")));
            EXPECT_EQ(app->cycle().BallonMsgs, 1000);
        } else {
            ASSERT_FALSE(shown.isEmpty());
            EXPECT_EQ(shown.last(),
                      QStringLiteral("Artist - Song %1").arg(alert) + QString::fromUtf8(ending.balloon))
                << "a failure is told whatever the alert option says";
            EXPECT_EQ(app->cycle().BallonMsgs, 0);
        }
        EXPECT_EQ(queue().retryDelay->isActive(), ending.triedAgain);
        // A late page of the ended post changes nothing.
        post().finishLoading(QStringLiteral("Posted ID:99"));
        EXPECT_EQ(state().lastPostTitle, QString::fromUtf8(ending.lastPostTitle));
        queue().retryDelay->stop();
        queue().add(QStringLiteral("clears the queue"));
        post().finishLoading(QStringLiteral("ID:0"));
    }
}

const auto finished = [](const char* title) {
    return [title](FakeBrowser& browser, ManualClock&) { browser.finishLoading(QString::fromUtf8(title)); };
};
const auto failedWith = [](LoadResult::Outcome outcome, int code) {
    return [outcome, code](FakeBrowser& browser, ManualClock&) { browser.failLoading(outcome, code); };
};

INSTANTIATE_TEST_SUITE_P(
    Endings, PostEnding,
    ::testing::Values(
        Ending{"posted", finished("Posted ID:2"), "Posted ID:2", " (Song Posted)", false},
        Ending{"id twice, stored whole", finished("ID:12 ID:34"), "ID:12 ID:34", " (Song Posted)", false},
        Ending{"no id", finished("Internal Server Error"), "Posted ID:1",
               " (Not Posted): the service answered with an error", true},
        Ending{"id in other letters", finished("posted id:77"), "Posted ID:1",
               " (Not Posted): the service answered with an error", true},
        Ending{"http 500", failedWith(LoadResult::Outcome::HttpError, 500), "Posted ID:1",
               " (Not Posted): the service answered with an error", true},
        Ending{"refused or cut off", failedWith(LoadResult::Outcome::NotReached, -102), "Posted ID:1",
               " (Not Posted): the service did not answer", true},
        Ending{"http 408 time-out", failedWith(LoadResult::Outcome::HttpError, 408), "Posted ID:1",
               " (Not Posted): the service answered with an error", true},
        Ending{"http 431 head too long", failedWith(LoadResult::Outcome::HttpError, 431), "Posted ID:1",
               " (Not Posted): the service refused the song", false},
        Ending{"http 400", failedWith(LoadResult::Outcome::HttpError, 400), "Posted ID:1",
               " (Not Posted): the service refused the song", false},
        Ending{"no answer in 15 s", [](FakeBrowser&, ManualClock& clock) { clock.advance(15000); },
               "Posted ID:1", " (not confirmed yet)", true}),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.what);
        name.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")));
        return name.toStdString();
    });

// A post whose answer did not come may have been made: every try of it carries the same key, so
// the service can answer with the post it made; it is told as not confirmed yet, and as posted once
// a try is answered, even with alerts off.
TEST_F(PostSong, EveryTryOfAPostCarriesItsKeyAndATimedOutPostIsToldWhenItIsConfirmed)
{
    state().autoAlert = 0;
    postSong(QStringLiteral("Stalled - Song"));
    const QString key = sent(0, "k");
    EXPECT_EQ(key.size(), 32) << key.toStdString();
    clock().advance(PostQueue::kAnswerLimitMs);
    EXPECT_EQ(balloons->messages(), QStringList{QStringLiteral("Stalled - Song (not confirmed yet)")});
    EXPECT_EQ(untilTheNextPost(), PostQueue::kFirstRetryMs);
    EXPECT_EQ(sent(1, "k"), key) << "a retry is the same post";
    clock().advance(PostQueue::kAnswerLimitMs);
    EXPECT_EQ(balloons->messages().size(), 1) << "told once";
    untilTheNextPost();
    EXPECT_EQ(sent(2, "k"), key);
    post().finishLoading(QStringLiteral("Posted ID:41"));
    EXPECT_EQ(balloons->messages().last(), QStringLiteral("Stalled - Song (Song Posted)"));

    postSong(QStringLiteral("Next - Song"));
    EXPECT_NE(sent(3, "k"), key) << "another post, another key";
    postSong(QStringLiteral("Stalled - Song"));
    post().finishLoading(QStringLiteral("Posted ID:42"));
    ASSERT_EQ(post().navigations.size(), 5);
    EXPECT_NE(sent(4, "k"), key) << "the same song again later is a post of its own";
}

TEST_F(PostSong, ANoAnswerStopsThePageAndTheNextSongStillGoesOut)
{
    postSong(QStringLiteral("Hanging - Song"));
    postSong(QStringLiteral("Next - Song"));
    clock().advance(14999);
    EXPECT_EQ(post().stops, 0) << "the service has fifteen seconds";
    clock().advance(1);
    EXPECT_EQ(post().stops, 1);
    ASSERT_EQ(post().navigations.size(), 2) << "the waiting song takes the failed one's place";
    EXPECT_EQ(sent(1), QStringLiteral("Next - Song"));
    EXPECT_FALSE(queue().retryDelay->isActive());
    post().finishLoading(QStringLiteral("Posted ID:5"));
    EXPECT_EQ(state().lastPostTitle, QStringLiteral("Posted ID:5"));
}

TEST_F(PostSong, AFailedPostIsTriedAgainLaterEachTimeUntilItArrivesOrANewerSongComes)
{
    postSong(QStringLiteral("Outage - Song"));
    QList<qint64> waits;
    for (int attempt = 0; attempt < 6; ++attempt) {
        post().failLoading(LoadResult::Outcome::NotReached, -102);
        waits.append(untilTheNextPost());
    }
    EXPECT_EQ(waits, QList<qint64>({5000, 10000, 20000, 40000, 60000, 60000}));
    ASSERT_EQ(post().navigations.size(), 7);
    EXPECT_EQ(post().navigations.last(), post().navigations.first());
    post().finishLoading(QStringLiteral("Posted ID:8"));
    EXPECT_EQ(balloons->messages(),
              QStringList({QStringLiteral("Outage - Song (Not Posted): the service did not answer"),
                           QStringLiteral("Outage - Song (Song Posted)")}))
        << "one word about the failure, one when it arrived";

    // A newer song does not wait for the rest of a failed one; it goes at once and starts afresh.
    postSong(QStringLiteral("Old - Song"));
    post().failLoading(LoadResult::Outcome::HttpError, 503);
    postSong(QStringLiteral("New - Song"));
    EXPECT_FALSE(queue().retryDelay->isActive());
    EXPECT_EQ(sent(post().navigations.size() - 1), QStringLiteral("New - Song"));
    EXPECT_EQ(sent(post().navigations.size() - 1, "d"), QStringLiteral("8"));
    post().failLoading(LoadResult::Outcome::NotReached, -105);
    EXPECT_EQ(untilTheNextPost(), 5000);
}

TEST_F(PostSong, NothingGoesOutAgainOnceTheUserStoppedPublishingOrThePlayerMovedOn)
{
    // A failed song rests; the user stops publishing before its next try.
    postSong(QStringLiteral("Outage - Song"));
    post().failLoading(LoadResult::Outcome::NotReached, -102);
    state().publishing = kFalse;
    clock().advance(5000);
    EXPECT_EQ(post().navigations.size(), 1);
    EXPECT_FALSE(queue().current());

    // A song waits behind one in flight; the user stops publishing before the first is confirmed.
    state().publishing = kTrue;
    postSong(QStringLiteral("First - Song"));
    postSong(QStringLiteral("Held - Song"));
    state().publishing = kFalse;
    post().finishLoading(QStringLiteral("Posted ID:3"));
    EXPECT_EQ(post().navigations.size(), 2) << "the waiting song stays unposted";

    // Publishing on, but the player has moved on to a song that went no further (a balloon offers it).
    state().publishing = kTrue;
    postSong(QStringLiteral("Left - Song"));
    post().failLoading(LoadResult::Outcome::HttpError, 503);
    state().currentSong = QStringLiteral("Offered - Song");
    clock().advance(5000);
    EXPECT_EQ(post().navigations.size(), 3);
    EXPECT_FALSE(queue().current());
}

TEST_F(PostSong, AFailedSessionSwitchesPublishingOffAndTheSongIsPostedAgainAfterLogIn)
{
    state().previousSong = QStringLiteral("Gone - Song");
    postSong(QStringLiteral("Gone - Song"));
    postSong(QStringLiteral("Waiting - Song"));
    post().finishLoading(QStringLiteral("failed"));
    EXPECT_EQ(state().loginState, 2);
    EXPECT_EQ(state().publishing, kFalse);
    EXPECT_EQ(app->form<interface>().Command1->text(), QStringLiteral("start publishing"));
    EXPECT_EQ(frontPanel(*app), &app->form<info>());
    EXPECT_EQ(app->form<info>().title->text(),
              QStringLiteral("Please Log-in To Your Facebook Account First"));
    EXPECT_TRUE(app->form<info>().msg->text().simplified().contains(QStringLiteral("to Gone - Song as")));
    EXPECT_EQ(post().navigations.size(), 1) << "nothing more goes out without a session";
    EXPECT_TRUE(post().asleep);
    EXPECT_FALSE(queue().retryDelay->isActive());
    EXPECT_EQ(balloons->messages(),
              QStringList{QStringLiteral("Gone - Song (Not Posted): you are not logged in")});

    // The user logs in again and switches publishing on: the song now playing goes out.
    fakes.windows->foreground = fakes.windows->add(QStringLiteral("Waiting - Song - MediaMonkey"));
    state().loginState = 1;
    state().publishing = kTrue;
    app->cycle().checkpublish();
    ASSERT_EQ(post().navigations.size(), 2) << app->form<info>().title->text().toStdString();
    EXPECT_EQ(sent(1), QStringLiteral("Waiting - Song"));
}

} // namespace
} // namespace tunalo::test
