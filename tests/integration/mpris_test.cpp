// The media players on a session bus, followed by the real adapter: stand-in players on a bus of
// the test's own, and one real player.
#include "platform/dbus/mprisbus.h"
#include "support/fakes.h"
#include "support/mprisplayer.h"
#include "support/process.h"
#include "support/taggedwav.h"

#include <QDBusMessage>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace tunalo::test {
namespace {

class MprisOnTheBus : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.started()) << "dbus-daemon did not start"; }

    ManualClock clock;

    // Follows the test's bus from now on, on the test's clock.
    std::unique_ptr<MprisBus> follow()
    {
        auto players = std::make_unique<MprisBus>(clock, [this] { return bus.connect(); });
        players->watch();
        return players;
    }

    // Waits until the followed song and player are these.
    static ::testing::AssertionResult showsSoon(MprisBus& players, const QString& song,
                                                const QString& identity, int timeoutMs = 15000)
    {
        if (waitUntil(
                [&] {
                    const NowPlaying now = players.nowPlaying();
                    return now.song == song && now.identity == identity;
                },
                timeoutMs))
            return ::testing::AssertionSuccess();
        const NowPlaying now = players.nowPlaying();
        return ::testing::AssertionFailure()
               << "shows \"" << now.song.toStdString() << "\" of \"" << now.identity.toStdString() << "\"";
    }

    PrivateBus bus;
};

TEST_F(MprisOnTheBus, FollowsThePlayerThatPlaysAndThenTheOneThatStartsLater)
{
    MprisPlayer rhythmbox(bus.environment(), QStringLiteral("rhythmbox"),
                          {QStringLiteral("--identity"), QStringLiteral("Rhythmbox")});
    MprisPlayer elisa(bus.environment(), QStringLiteral("elisa"),
                      {QStringLiteral("--identity"), QStringLiteral("Elisa")});
    ASSERT_TRUE(rhythmbox.started() && elisa.started());
    ASSERT_TRUE(rhythmbox.track(QStringLiteral("Loaded Only"), {QStringLiteral("Band")}));
    ASSERT_TRUE(rhythmbox.send(QStringLiteral("pause")));
    ASSERT_TRUE(elisa.play(QStringLiteral("First Light"), {QStringLiteral("The Example Band")}));

    // Both were on the bus before Tunalo looked.
    const auto players = follow();
    EXPECT_TRUE(
        showsSoon(*players, QStringLiteral("The Example Band - First Light"), QStringLiteral("Elisa")));
    EXPECT_TRUE(players->anyPlayer());

    ASSERT_TRUE(rhythmbox.send(QStringLiteral("play")));
    EXPECT_TRUE(showsSoon(*players, QStringLiteral("Band - Loaded Only"), QStringLiteral("Rhythmbox")));
    ASSERT_TRUE(elisa.track(QStringLiteral("Second Light"), {QStringLiteral("The Example Band")}));
    EXPECT_TRUE(
        showsSoon(*players, QStringLiteral("The Example Band - Second Light"), QStringLiteral("Elisa")));
}

TEST_F(MprisOnTheBus, APlayerThatAppearsLaterIsFollowedWithWhatItsTracksSay)
{
    const auto players = follow();
    EXPECT_FALSE(players->anyPlayer());
    MprisPlayer player(bus.environment(), QStringLiteral("strawberry"),
                       {QStringLiteral("--identity"), QStringLiteral("Strawberry")});
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(waitUntil([&] { return players->anyPlayer(); }));

    struct Case {
        const char* what;
        QString title;
        QStringList artists;
        QString song;
    };
    const Case cases[] = {
        {"several artists",
         QStringLiteral("Duet"),
         {QStringLiteral("Ann"), QStringLiteral("Bo")},
         QStringLiteral("Ann, Bo - Duet")},
        {"no artist", QStringLiteral("Field Recording"), {}, QStringLiteral("Field Recording")},
        {"no title", QString(), {QStringLiteral("Ann")}, QString()},
        {"unicode",
         QStringLiteral("Über – 夜 🎵"),
         {QStringLiteral("Björk"), QStringLiteral("坂本龍一")},
         QStringLiteral("Björk, 坂本龍一 - Über – 夜 🎵")},
    };
    ASSERT_TRUE(player.send(QStringLiteral("play")));
    for (const Case& c : cases) {
        ASSERT_TRUE(player.track(c.title, c.artists));
        EXPECT_TRUE(showsSoon(*players, c.song, QStringLiteral("Strawberry"))) << c.what;
    }
}

TEST_F(MprisOnTheBus, AClientThatClaimsAPlayerCameIsNotBelieved)
{
    const auto players = follow();
    // Only the bus itself tells who owns a name; any client may send a signal of that shape.
    QDBusMessage lie = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"),
                                                  QStringLiteral("NameOwnerChanged"));
    lie << QStringLiteral("org.mpris.MediaPlayer2.fake") << QString() << QStringLiteral(":1.999");
    ASSERT_TRUE(bus.connect().send(lie));
    // A real player afterwards shows that the lie has been taken in by then.
    MprisPlayer player(bus.environment(), QStringLiteral("elisa"));
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.play(QStringLiteral("Real")));
    ASSERT_TRUE(showsSoon(*players, QStringLiteral("Real"), QStringLiteral("Stand-in Player")));
    player.quit();
    EXPECT_TRUE(waitUntil([&] { return !players->anyPlayer(); }));
}

TEST_F(MprisOnTheBus, APausedPlayerKeepsItsSongAndResumingChangesNothing)
{
    MprisPlayer player(bus.environment(), QStringLiteral("audacious"),
                       {QStringLiteral("--identity"), QStringLiteral("Audacious")});
    ASSERT_TRUE(player.started());
    const auto players = follow();
    ASSERT_TRUE(player.play(QStringLiteral("Hold On"), {QStringLiteral("Band")}));
    ASSERT_TRUE(showsSoon(*players, QStringLiteral("Band - Hold On"), QStringLiteral("Audacious")));

    // A new name after each step shows that the step has arrived: the bus keeps their order.
    for (const char* step : {"pause", "stop", "play"}) {
        ASSERT_TRUE(player.send(QString::fromLatin1(step)));
        ASSERT_TRUE(player.send(QStringLiteral("identity After ") + QString::fromLatin1(step)));
        EXPECT_TRUE(showsSoon(*players, QStringLiteral("Band - Hold On"),
                              QStringLiteral("After ") + QString::fromLatin1(step)));
    }
}

TEST_F(MprisOnTheBus, APlayerThatQuitsIsGoneWithItsSong)
{
    MprisPlayer player(bus.environment(), QStringLiteral("elisa"),
                       {QStringLiteral("--identity"), QStringLiteral("Elisa")});
    ASSERT_TRUE(player.started());
    const auto players = follow();
    ASSERT_TRUE(player.play(QStringLiteral("Last Song")));
    ASSERT_TRUE(showsSoon(*players, QStringLiteral("Last Song"), QStringLiteral("Elisa")));
    player.quit();
    EXPECT_TRUE(waitUntil([&] { return !players->anyPlayer(); }));
    EXPECT_TRUE(showsSoon(*players, QString(), QString()));
}

TEST_F(MprisOnTheBus, APlayerThatNeverAnnouncesIsReadAfreshAtMostOnceASecond)
{
    MprisPlayer quiet(bus.environment(), QStringLiteral("quiet"),
                      {QStringLiteral("--identity"), QStringLiteral("Quiet"), QStringLiteral("--quiet")});
    ASSERT_TRUE(quiet.started());
    ASSERT_TRUE(quiet.play(QStringLiteral("One")));
    const auto players = follow();
    ASSERT_TRUE(showsSoon(*players, QStringLiteral("One"), QStringLiteral("Quiet")));
    const int readsBefore = quiet.reads();

    ASSERT_TRUE(quiet.track(QStringLiteral("Two")));
    clock.advance(MprisBus::kRereadMs - 1);
    // Many ticks within the second: no read, and the song stays what was read last.
    EXPECT_FALSE(showsSoon(*players, QStringLiteral("Two"), QStringLiteral("Quiet"), 500));
    EXPECT_EQ(quiet.reads(), readsBefore);

    clock.advance(1);
    EXPECT_TRUE(showsSoon(*players, QStringLiteral("Two"), QStringLiteral("Quiet")));
    EXPECT_EQ(quiet.reads(), readsBefore + 1);
}

TEST_F(MprisOnTheBus, APlayerThatAnnouncesItsChangesIsNotAsked)
{
    const auto players = follow();
    MprisPlayer player(bus.environment(), QStringLiteral("elisa"),
                       {QStringLiteral("--identity"), QStringLiteral("Elisa")});
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(waitUntil([&] { return players->anyPlayer(); }));
    ASSERT_TRUE(player.play(QStringLiteral("One")));
    ASSERT_TRUE(showsSoon(*players, QStringLiteral("One"), QStringLiteral("Elisa")));
    const int readsBefore = player.reads();
    for (int second = 0; second < 5; ++second) {
        clock.advance(MprisBus::kRereadMs);
        players->nowPlaying();
        pause(20);
    }
    ASSERT_TRUE(player.track(QStringLiteral("Two")));
    EXPECT_TRUE(showsSoon(*players, QStringLiteral("Two"), QStringLiteral("Elisa")));
    EXPECT_EQ(player.reads(), readsBefore);
}

TEST_F(MprisOnTheBus, WithoutASessionBusThereIsNoPlayerAndNoComplaint)
{
    // As on a desktop that runs no session bus: no address, and nothing in the runtime folder.
    QTemporaryDir runtime;
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    MprisBus players(clock);
    players.watch();
    pause(200);
    EXPECT_FALSE(players.anyPlayer());
    EXPECT_EQ(players.nowPlaying().song, QString());
}

// A real player: mpv with its MPRIS plugin, sound off, playing a tagged file made here.
TEST_F(MprisOnTheBus, MpvWithItsPluginIsFollowed)
{
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.wav"));
    ASSERT_TRUE(writeTaggedWav(song, QStringLiteral("Fjörd Light"), QStringLiteral("The Example Band")));

    const auto players = follow();
    QProcess player;
    ASSERT_TRUE(startMpv(player, bus.environment(), song));
    EXPECT_TRUE(showsSoon(*players, QStringLiteral("The Example Band - Fjörd Light"), QStringLiteral("mpv")));
    player.terminate();
    player.waitForFinished(10000);
    EXPECT_TRUE(waitUntil([&] { return !players->anyPlayer(); }));
}

} // namespace
} // namespace tunalo::test
