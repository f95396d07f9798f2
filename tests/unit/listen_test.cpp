// How long a song is heard, and how the posts tell the service: the song's length with its post,
// and with the next post, how long the song was heard.
#include "core/listenmeter.h"
#include "core/postqueue.h"
#include "support/appfixture.h"
#include "web/updatewb.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

// One moment of a player: at this time it plays this song, playing or not, of this length.
struct Moment {
    qint64 at;
    const char* song;
    bool playing;
    qint64 lengthMs = 0;
};

struct HeardCase {
    const char* what;
    std::vector<Moment> moments; // the last one's song ends the one before
    ListenMeter::Heard ended;
};

TEST(ListenMeter, CountsOnlyTheTimeThePlayerPlayed)
{
    const HeardCase cases[] = {
        {"heard 25 s of 40", {{0, "A", true, 40000}, {25000, "B", true}}, {"A", 40000, 25000}},
        {"skipped at 10 s", {{0, "A", true, 40000}, {10000, "B", true}}, {"A", 40000, 10000}},
        {"a paused minute adds nothing",
         {{0, "A", true, 240000}, {10000, "A", false, 240000}, {70000, "A", true, 240000}, {80000, "B", true}},
         {"A", 240000, 20000}},
        {"paused when it ends", {{0, "A", true}, {5000, "A", false}, {65000, "B", true}}, {"A", 0, 5000}},
        {"the length comes late", {{0, "A", true}, {1000, "A", true, 180000}, {3000, "B", true}}, {"A", 180000, 3000}},
        {"begun paused", {{0, "A", false}, {30000, "A", true}, {31000, "B", true}}, {"A", 0, 1000}},
        {"the player stops", {{0, "A", true}, {42000, "", false}}, {"A", 0, 42000}},
        // A window title stands as long as its song plays.
        {"a window title", {{0, "A", true}, {90000, "B", true}}, {"A", 0, 90000}},
    };
    for (const HeardCase& c : cases) {
        ListenMeter meter;
        std::optional<ListenMeter::Heard> ended;
        for (const Moment& moment : c.moments) {
            const auto now = meter.follow(QString::fromUtf8(moment.song), {moment.lengthMs, moment.playing}, moment.at);
            ASSERT_EQ(now.has_value(), &moment == &c.moments.back()) << c.what << " at " << moment.at;
            ended = now;
        }
        EXPECT_EQ(*ended, c.ended) << c.what << ": heard " << ended->heardMs << " of " << ended->lengthMs;
    }
}

// A started program following the players on the session bus, logged in and publishing; the main
// window's tick runs as the test's clock moves.
class ListenPosts : public AppTest {
protected:
    void SetUp() override
    {
        startUp();
        app->state().loginState = LoginState::LoggedIn;
        app->state().selectedPlayer = 4;
        fakes.players->any = true;
        app->form<interface>();
        app->cycle().startPublishing();
    }
    FakeBrowser& post() { return static_cast<FakeBrowser&>(app->form<updatewb>().wb()); }
    void play(const QString& song, qint64 lengthMs, bool playing = true)
    {
        fakes.players->playing = {song, QStringLiteral("Strawberry"), QString(), lengthMs, playing};
    }
    QString sent(qsizetype index, const char* key)
    {
        return QUrlQuery(QUrl(post().navigations.at(index))).queryItemValue(QString::fromLatin1(key));
    }
    void answer(int id) { post().finishLoading(QStringLiteral("Posted ID:%1").arg(id)); }
};

TEST_F(ListenPosts, APostCarriesItsLengthAndTheNextOneHowLongItsSongWasHeard)
{
    play(QStringLiteral("A - Forty Seconds"), 40000);
    fakes.clock->advance(100);
    ASSERT_EQ(post().navigations.size(), 1);
    EXPECT_EQ(sent(0, "l"), QStringLiteral("40000"));
    EXPECT_EQ(sent(0, "hk"), QString()) << "nothing was heard before";
    EXPECT_EQ(sent(0, "p"), QStringLiteral("Strawberry"));
    answer(1);

    fakes.clock->advance(25000);
    play(QStringLiteral("B - Skipped"), 200000);
    fakes.clock->advance(100);
    ASSERT_EQ(post().navigations.size(), 2);
    EXPECT_EQ(sent(1, "hk"), sent(0, "k"));
    // The tick sees a change within its 100 ms.
    EXPECT_NEAR(sent(1, "h").toLongLong(), 25000, 100);
    answer(2);

    // Heard 10 s, paused a minute, then another song.
    fakes.clock->advance(10000);
    play(QStringLiteral("B - Skipped"), 200000, false);
    fakes.clock->advance(60000);
    play(QStringLiteral("C - Without Length"), 0);
    fakes.clock->advance(100);
    ASSERT_EQ(post().navigations.size(), 3);
    EXPECT_EQ(sent(2, "hk"), sent(1, "k"));
    EXPECT_NEAR(sent(2, "h").toLongLong(), 10000, 100);
    EXPECT_EQ(sent(2, "l"), QString()) << "no length when the player gives none";
}

TEST_F(ListenPosts, ARetryRepeatsWhatItTellsAndASongThatWasNeverPostedTellsNothing)
{
    play(QStringLiteral("A - Song"), 40000);
    fakes.clock->advance(100);
    answer(1);
    fakes.clock->advance(30000);
    play(QStringLiteral("B - Song"), 40000);
    fakes.clock->advance(100);
    ASSERT_EQ(post().navigations.size(), 2);
    // B's post fails and is tried again with the same news of A.
    fakes.clock->advance(PostQueue::kAnswerLimitMs + PostQueue::kFirstRetryMs);
    ASSERT_EQ(post().navigations.size(), 3);
    EXPECT_EQ(sent(2, "k"), sent(1, "k"));
    EXPECT_EQ(sent(2, "hk"), sent(0, "k"));
    EXPECT_EQ(sent(2, "h"), sent(1, "h"));

    // While B's post is in flight, C plays and gives way to D: only B's news goes with D's post.
    play(QStringLiteral("C - Song"), 40000);
    fakes.clock->advance(5000);
    play(QStringLiteral("D - Song"), 40000);
    fakes.clock->advance(100);
    answer(2);
    ASSERT_EQ(post().navigations.size(), 4);
    EXPECT_EQ(sent(3, "s"), QStringLiteral("D - Song"));
    EXPECT_EQ(sent(3, "hk"), sent(1, "k"));
}

} // namespace
} // namespace tunalo::test
