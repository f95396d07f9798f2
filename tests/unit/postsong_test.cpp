#include "core/postqueue.h"
#include "core/publishcycle.h"
#include "support/appfixture.h"
#include "support/uiprobe.h"
#include "ui/info.h"
#include "ui/interface.h"
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

// Logged in, publishing, with every option on.
void publishWithEveryOption(AppState& state)
{
    state.loginState = LoginState::LoggedIn;
    state.publishing = kTrue;
    state.autoDelete = 1;
    state.autoAlert = 1;
}

// The song now playing goes to the post queue, as a tick that found it new does.
void postSong(PublishCycle& cycle, const QString& song)
{
    cycle.state().currentSong = song;
    cycle.postsong();
}

// The value of key in the browser's navigation number index.
QString sentValue(const FakeBrowser& browser, qsizetype index, const char* key)
{
    return QUrlQuery(QUrl(browser.navigations.at(index)))
        .queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
}

// The publish cycle and its post queue on fakes, no window: the post browser's pages come when the
// test says, and the balloons are what the cycle asks the tray to show.
class PostSong : public ::testing::Test {
protected:
    PostSong()
        : m_cycle(PublishServices{m_settings, PlayerDesktop{m_windows, m_players}, m_clock,
                                  [this]() -> Browser& { return m_post; }, QString()})
    {
        publishWithEveryOption(state());
        QObject::connect(&m_cycle, &PublishCycle::balloon,
                         [this](const QString& text) { m_balloons << text; });
    }

    PublishCycle& cycle() { return m_cycle; }
    AppState& state() { return m_cycle.state(); }
    FakeBrowser& post() { return m_post; }
    PostQueue& queue() { return m_cycle.posts(); }
    ManualClock& clock() { return m_clock; }
    const QStringList& balloons() const { return m_balloons; }
    void postSong(const QString& song) { test::postSong(m_cycle, song); }
    QString sent(qsizetype index, const char* key = "s") { return sentValue(m_post, index, key); }

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

private:
    MemorySettingsStore m_settings;
    FakeWindowList m_windows;
    FakeMediaPlayers m_players;
    ManualClock m_clock;
    FakeBrowser m_post{nullptr};
    PublishCycle m_cycle;
    QStringList m_balloons;
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
    EXPECT_TRUE(balloons().isEmpty());

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
    EXPECT_EQ(post().sleepOrigin, cycle().serviceBase());
    EXPECT_EQ(balloons(), QStringList({QStringLiteral("Artist - Song 1 (Song Posted)"),
                                       QStringLiteral("Artist - Song 12 (Song Posted)")}));
    EXPECT_EQ(cycle().BallonMsgs, 0);
}

// How a post ends, and what the user and the next post see of it.
struct Ending {
    const char* what;
    std::function<void(FakeBrowser&, ManualClock&)> end;
    PostOutcome outcome;       // what the post queue reports
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
        cycle().BallonMsgs = 1000;
        postSong(QStringLiteral("Artist - Song %1").arg(alert));
        ASSERT_TRUE(queue().answerLimit->isActive());
        EXPECT_FALSE(post().asleep);
        ending.end(post(), clock());
        EXPECT_FALSE(queue().answerLimit->isActive());
        EXPECT_TRUE(post().asleep) << "confirmed or given up, the post browser sleeps till the next post";
        EXPECT_EQ(state().lastPostTitle, QString::fromUtf8(ending.lastPostTitle));
        const bool confirmed = QString::fromUtf8(ending.balloon) == QStringLiteral(" (Song Posted)");
        const QStringList shown = balloons();
        if (confirmed && alert == 0) {
            EXPECT_TRUE(shown.isEmpty() || !shown.last().contains(QStringLiteral("Song 0")));
            EXPECT_EQ(cycle().BallonMsgs, 1000);
        } else {
            ASSERT_FALSE(shown.isEmpty());
            EXPECT_EQ(shown.last(),
                      QStringLiteral("Artist - Song %1").arg(alert) + QString::fromUtf8(ending.balloon))
                << "a failure is told whatever the alert option says";
            EXPECT_EQ(cycle().BallonMsgs, 0);
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

const std::vector<Ending>& endings()
{
    using enum PostOutcome;
    static const std::vector<Ending> rows = {
        Ending{"posted", finished("Posted ID:2"), Confirmed, "Posted ID:2", " (Song Posted)", false},
        Ending{"id twice, stored whole", finished("ID:12 ID:34"), Confirmed, "ID:12 ID:34", " (Song Posted)",
               false},
        Ending{"no id", finished("Internal Server Error"), ErrorAnswer, "Posted ID:1",
               " (Not Posted): the service answered with an error", true},
        Ending{"id in other letters", finished("posted id:77"), ErrorAnswer, "Posted ID:1",
               " (Not Posted): the service answered with an error", true},
        Ending{"http 500", failedWith(LoadResult::Outcome::HttpError, 500), ErrorAnswer, "Posted ID:1",
               " (Not Posted): the service answered with an error", true},
        Ending{"refused or cut off", failedWith(LoadResult::Outcome::NotReached, -102), NotAnswered,
               "Posted ID:1", " (Not Posted): the service did not answer", true},
        Ending{"http 408 time-out", failedWith(LoadResult::Outcome::HttpError, 408), ErrorAnswer,
               "Posted ID:1", " (Not Posted): the service answered with an error", true},
        Ending{"http 431 head too long", failedWith(LoadResult::Outcome::HttpError, 431), Refused,
               "Posted ID:1", " (Not Posted): the service refused the song", false},
        Ending{"http 400", failedWith(LoadResult::Outcome::HttpError, 400), Refused, "Posted ID:1",
               " (Not Posted): the service refused the song", false},
        Ending{"no answer in 15 s", [](FakeBrowser&, ManualClock& clock) { clock.advance(15000); },
               NotConfirmedYet, "Posted ID:1", " (not confirmed yet)", true},
    };
    return rows;
}

std::string endingName(const ::testing::TestParamInfo<Ending>& info)
{
    QString name = QString::fromLatin1(info.param.what);
    name.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")));
    return name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Endings, PostEnding, ::testing::ValuesIn(endings()), endingName);

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
    EXPECT_EQ(balloons(), QStringList{QStringLiteral("Stalled - Song (not confirmed yet)")});
    EXPECT_EQ(untilTheNextPost(), PostQueue::kFirstRetryMs);
    EXPECT_EQ(sent(1, "k"), key) << "a retry is the same post";
    clock().advance(PostQueue::kAnswerLimitMs);
    EXPECT_EQ(balloons().size(), 1) << "told once";
    untilTheNextPost();
    EXPECT_EQ(sent(2, "k"), key);
    post().finishLoading(QStringLiteral("Posted ID:41"));
    EXPECT_EQ(balloons().last(), QStringLiteral("Stalled - Song (Song Posted)"));

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
    EXPECT_EQ(balloons(),
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

// The whole program, for what the end of the session changes on its screen.
class PostSongOnScreen : public AppTest {
protected:
    void SetUp() override
    {
        startUp();
        publishWithEveryOption(state());
        balloons = std::make_unique<BalloonLog>(*fakes.shell);
    }

    AppState& state() { return app->state(); }
    FakeBrowser& post() { return static_cast<FakeBrowser&>(app->form<updatewb>().wb()); }
    PostQueue& queue() { return app->cycle().posts(); }
    void postSong(const QString& song) { test::postSong(app->cycle(), song); }
    QString sent(qsizetype index) { return sentValue(post(), index, "s"); }

    std::unique_ptr<BalloonLog> balloons;
};

TEST_F(PostSongOnScreen, AFailedSessionSwitchesPublishingOffAndTheSongIsPostedAgainAfterLogIn)
{
    state().previousSong = QStringLiteral("Gone - Song");
    postSong(QStringLiteral("Gone - Song"));
    postSong(QStringLiteral("Waiting - Song"));
    post().finishLoading(QStringLiteral("failed"));
    EXPECT_EQ(state().loginState, LoginState::Failed);
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
    state().loginState = LoginState::LoggedIn;
    state().publishing = kTrue;
    app->cycle().checkpublish();
    ASSERT_EQ(post().navigations.size(), 2) << app->form<info>().title->text().toStdString();
    EXPECT_EQ(sent(1), QStringLiteral("Waiting - Song"));
}

// The post queue alone, on a fake browser and the manual clock: what it reports of each try.
class PostQueueReports : public ::testing::Test {
protected:
    // A client that wants every song, names the post before for deletion and records every report.
    class RecordingClient : public PostClient {
    public:
        PostTarget postTarget() const override { return target; }
        bool stillWanted(const QString&) const override { return true; }
        void postReported(const PostReport& report) override { reports.push_back(report); }

        PostTarget target{QStringLiteral("http://127.0.0.1:8631"), 1, QStringLiteral("Posted ID:1")};
        std::vector<PostReport> reports;
    };

    QString sent(qsizetype index, const char* key = "s") { return sentValue(post, index, key); }

    FakeBrowser post{nullptr};
    ManualClock clock;
    RecordingClient client;
    PostQueue queue{post, clock, client};
};

class PostQueueEnding : public PostQueueReports, public ::testing::WithParamInterface<Ending> {};

TEST_P(PostQueueEnding, EachTryEndsInOneReportAndALatePageInNone)
{
    const Ending& ending = GetParam();
    queue.add(QStringLiteral("Artist - Song"));
    ASSERT_EQ(post.navigations.size(), 1);
    EXPECT_EQ(sent(0, "d"), QStringLiteral("1")) << "the client names the post to delete";
    ending.end(post, clock);
    ASSERT_EQ(client.reports.size(), 1u);
    const PostReport& report = client.reports.front();
    EXPECT_EQ(report.outcome, ending.outcome);
    EXPECT_EQ(report.song, QStringLiteral("Artist - Song"));
    EXPECT_EQ(report.key, sent(0, "k"));
    EXPECT_EQ(report.title,
              ending.outcome == PostOutcome::Confirmed ? QString::fromUtf8(ending.lastPostTitle) : QString());
    EXPECT_TRUE(post.asleep);
    EXPECT_EQ(post.sleepOrigin, client.target.serviceBase);
    EXPECT_EQ(queue.retryDelay->isActive(), ending.triedAgain);
    post.finishLoading(QStringLiteral("Posted ID:99"));
    EXPECT_EQ(client.reports.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Endings, PostQueueEnding, ::testing::ValuesIn(endings()), endingName);

// The queue holds nothing back: every try of a post is reported under the post's key, and what the
// user hears of it is the client's to decide.
TEST_F(PostQueueReports, EveryTryIsReportedUnderItsPostsKey)
{
    queue.add(QStringLiteral("Outage - Song"));
    post.failLoading(LoadResult::Outcome::NotReached, -102);
    clock.advance(PostQueue::kFirstRetryMs);
    post.failLoading(LoadResult::Outcome::NotReached, -102);
    clock.advance(2 * PostQueue::kFirstRetryMs);
    clock.advance(PostQueue::kAnswerLimitMs);
    clock.advance(4 * PostQueue::kFirstRetryMs);
    post.finishLoading(QStringLiteral("Posted ID:2"));
    queue.add(QStringLiteral("Next - Song"));
    post.finishLoading(QStringLiteral("Posted ID:3"));

    ASSERT_EQ(post.navigations.size(), 5);
    const QString first = sent(0, "k");
    const QString next = sent(4, "k");
    EXPECT_NE(first, next);
    std::vector<std::pair<PostOutcome, QString>> told;
    for (const PostReport& report : client.reports)
        told.emplace_back(report.outcome, report.key);
    using enum PostOutcome;
    EXPECT_EQ(told, (std::vector<std::pair<PostOutcome, QString>>{{NotAnswered, first},
                                                                  {NotAnswered, first},
                                                                  {NotConfirmedYet, first},
                                                                  {Confirmed, first},
                                                                  {Confirmed, next}}));
}

// Without a session nothing more goes out: the song in flight is reported once, the waiting one is
// dropped, and neither is tried again.
TEST_F(PostQueueReports, AGoneSessionIsReportedOnceAndDropsTheWaitingSong)
{
    queue.add(QStringLiteral("Gone - Song"));
    queue.add(QStringLiteral("Waiting - Song"));
    post.finishLoading(QStringLiteral("failed"));
    ASSERT_EQ(client.reports.size(), 1u);
    EXPECT_EQ(client.reports.front().outcome, PostOutcome::SessionGone);
    EXPECT_EQ(client.reports.front().song, QStringLiteral("Gone - Song"));
    EXPECT_FALSE(queue.current());
    clock.advance(PostQueue::kLongestRetryMs);
    EXPECT_EQ(post.navigations.size(), 1);
    EXPECT_TRUE(post.asleep);
}

} // namespace
} // namespace tunalo::test
