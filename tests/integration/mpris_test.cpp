// The media players on a session bus, followed by the real adapter: stand-in players on a bus of
// the test's own, and one real player.
#include "adapters/dbus/mprisbus.h"
#include "support/fakes.h"
#include "support/mprisplayer.h"
#include "support/process.h"
#include "support/taggedwav.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <functional>
#include <memory>
#include <vector>

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

    // Waits until the followed song and player are these; eachLook runs before every look.
    static ::testing::AssertionResult showsSoon(MprisBus& players, const QString& song,
                                                const QString& identity, int timeoutMs = 15000,
                                                const std::function<void()>& eachLook = {})
    {
        if (waitUntil(
                [&] {
                    if (eachLook)
                        eachLook();
                    const NowPlaying now = players.nowPlaying();
                    return now.song == song && now.identity == identity;
                },
                timeoutMs))
            return ::testing::AssertionSuccess();
        const NowPlaying now = players.nowPlaying();
        return ::testing::AssertionFailure()
               << "shows \"" << now.song.toStdString() << "\" of \"" << now.identity.toStdString() << "\"";
    }
    // The same while the test's clock moves on between looks, so that new tracks settle.
    ::testing::AssertionResult settlesSoon(MprisBus& players, const QString& song, const QString& identity)
    {
        return showsSoon(players, song, identity, 15000, [this] { clock.advance(100); });
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
        settlesSoon(*players, QStringLiteral("The Example Band - First Light"), QStringLiteral("Elisa")));
    EXPECT_TRUE(players->anyPlayer());

    ASSERT_TRUE(rhythmbox.send(QStringLiteral("play")));
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Band - Loaded Only"), QStringLiteral("Rhythmbox")));
    ASSERT_TRUE(elisa.track(QStringLiteral("Second Light"), {QStringLiteral("The Example Band")}));
    EXPECT_TRUE(
        settlesSoon(*players, QStringLiteral("The Example Band - Second Light"), QStringLiteral("Elisa")));
}

TEST_F(MprisOnTheBus, ABrowsersVideoCountsOnlyWhenChosenAndTheChoiceOutlivesItsInstance)
{
    const QStringList asChromium = {QStringLiteral("--identity"), QStringLiteral("Chromium")};
    MprisPlayer strawberry(bus.environment(), QStringLiteral("strawberry"),
                           {QStringLiteral("--identity"), QStringLiteral("Strawberry")});
    ASSERT_TRUE(strawberry.started());
    ASSERT_TRUE(strawberry.play(QStringLiteral("First Light"), {QStringLiteral("The Example Band")}));
    auto browser = std::make_unique<MprisPlayer>(bus.environment(), QStringLiteral("chromium.instance4242"), asChromium);
    ASSERT_TRUE(browser->started());
    ASSERT_TRUE(browser->play(QStringLiteral("Funny Cats Compilation")));

    const auto players = follow();
    // The browser started last, and still the music player's song is the one.
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("The Example Band - First Light"), QStringLiteral("Strawberry")));
    ASSERT_TRUE(waitUntil([&] { return players->busPlayers().size() == 2; }));
    EXPECT_EQ(players->busPlayers(), (std::vector<BusPlayer>{{QStringLiteral("chromium"), QStringLiteral("Chromium")},
                                                             {QStringLiteral("strawberry"), QStringLiteral("Strawberry")}}));

    players->choosePlayers(QStringLiteral("chromium"));
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Funny Cats Compilation"), QStringLiteral("Chromium")));

    // The browser starts again under a new instance; the choice is by name and still holds.
    browser->quit();
    browser = std::make_unique<MprisPlayer>(bus.environment(), QStringLiteral("chromium.instance5150"), asChromium);
    ASSERT_TRUE(browser->started());
    ASSERT_TRUE(browser->play(QStringLiteral("Another Video")));
    ASSERT_TRUE(strawberry.track(QStringLiteral("Second Light"), {QStringLiteral("The Example Band")}));
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Another Video"), QStringLiteral("Chromium")));
}

TEST_F(MprisOnTheBus, ATracksPictureGivenLateIsTakenAndMakesNoNewStart)
{
    MprisPlayer rhythmbox(bus.environment(), QStringLiteral("rhythmbox"),
                          {QStringLiteral("--identity"), QStringLiteral("Rhythmbox")});
    MprisPlayer elisa(bus.environment(), QStringLiteral("elisa"), {QStringLiteral("--identity"), QStringLiteral("Elisa")});
    ASSERT_TRUE(rhythmbox.started() && elisa.started());
    const auto players = follow();
    ASSERT_TRUE(rhythmbox.play(QStringLiteral("One")));
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("One"), QStringLiteral("Rhythmbox")));
    ASSERT_TRUE(elisa.play(QStringLiteral("Two")));
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Two"), QStringLiteral("Elisa")));

    const QString cover = QStringLiteral("file:///covers/two.png");
    ASSERT_TRUE(elisa.send(QStringLiteral("art ") + cover));
    EXPECT_TRUE(waitUntil([&] {
        clock.advance(100);
        return players->nowPlaying().artUrl == cover;
    }));
    ASSERT_TRUE(rhythmbox.send(QStringLiteral("art file:///covers/one.png")));
    for (int look = 0; look < 30; ++look) {
        clock.advance(100);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(players->nowPlaying().identity, QStringLiteral("Elisa")) << "a late picture is no new song";
    EXPECT_EQ(players->nowPlaying().artUrl, cover);
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
        EXPECT_TRUE(settlesSoon(*players, c.song, QStringLiteral("Strawberry"))) << c.what;
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
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("Real"), QStringLiteral("Stand-in Player")));
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
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("Band - Hold On"), QStringLiteral("Audacious")));

    // A new name after each step shows that the step has arrived: the bus keeps their order.
    for (const char* step : {"pause", "stop", "play"}) {
        ASSERT_TRUE(player.send(QString::fromLatin1(step)));
        ASSERT_TRUE(player.send(QStringLiteral("identity After ") + QString::fromLatin1(step)));
        EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Band - Hold On"),
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
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("Last Song"), QStringLiteral("Elisa")));
    player.quit();
    EXPECT_TRUE(waitUntil([&] { return !players->anyPlayer(); }));
    EXPECT_TRUE(settlesSoon(*players, QString(), QString()));
}

TEST_F(MprisOnTheBus, APlayerThatNeverAnnouncesIsReadAfreshAtMostOnceASecond)
{
    MprisPlayer quiet(bus.environment(), QStringLiteral("quiet"),
                      {QStringLiteral("--identity"), QStringLiteral("Quiet"), QStringLiteral("--quiet")});
    ASSERT_TRUE(quiet.started());
    ASSERT_TRUE(quiet.play(QStringLiteral("One")));
    const auto players = follow();
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("One"), QStringLiteral("Quiet")));
    // One more read, so that the clock stands where the last read started.
    pause(100);
    const int readsSettled = quiet.reads();
    clock.advance(MprisBus::kRereadMs);
    players->nowPlaying();
    ASSERT_TRUE(waitUntil([&] { return quiet.reads() == readsSettled + 1; }));
    pause(100);
    const int readsBefore = quiet.reads();

    ASSERT_TRUE(quiet.track(QStringLiteral("Two")));
    clock.advance(MprisBus::kRereadMs - 1);
    // Many ticks within the second: no read, and the song stays what was read last.
    EXPECT_FALSE(showsSoon(*players, QStringLiteral("Two"), QStringLiteral("Quiet"), 500));
    EXPECT_EQ(quiet.reads(), readsBefore);

    clock.advance(1);
    players->nowPlaying();
    EXPECT_TRUE(waitUntil([&] { return quiet.reads() == readsBefore + 1; }));
    pause(100);
    clock.advance(MprisBus::kSettleMs);
    EXPECT_TRUE(showsSoon(*players, QStringLiteral("Two"), QStringLiteral("Quiet")));
}

TEST_F(MprisOnTheBus, APlayerThatAnnouncesItsChangesIsNotAsked)
{
    const auto players = follow();
    MprisPlayer player(bus.environment(), QStringLiteral("elisa"),
                       {QStringLiteral("--identity"), QStringLiteral("Elisa")});
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(waitUntil([&] { return players->anyPlayer(); }));
    ASSERT_TRUE(player.play(QStringLiteral("One")));
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("One"), QStringLiteral("Elisa")));
    const int readsBefore = player.reads();
    for (int second = 0; second < 5; ++second) {
        clock.advance(MprisBus::kRereadMs);
        players->nowPlaying();
        pause(20);
    }
    ASSERT_TRUE(player.track(QStringLiteral("Two")));
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Two"), QStringLiteral("Elisa")));
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

// A player that names the file it opens as the title and corrects it with the file's tags a moment
// later: only the corrected track counts, once it has settled, and a track changed and changed back
// within that time is no change at all.
TEST_F(MprisOnTheBus, ANewTrackCountsOnlyOnceItHasSettled)
{
    MprisPlayer player(bus.environment(), QStringLiteral("mpv"), {QStringLiteral("--identity"), QStringLiteral("mpv")});
    ASSERT_TRUE(player.started());
    const auto players = follow();
    ASSERT_TRUE(player.play(QStringLiteral("Before")));
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("Before"), QStringLiteral("mpv")));

    QStringList seen;
    const auto look = [&](int milliseconds) {
        waitUntil(
            [&] {
                const QString song = players->nowPlaying().song;
                if (seen.isEmpty() || seen.last() != song)
                    seen.append(song);
                return false;
            },
            milliseconds);
    };
    ASSERT_TRUE(player.track(QStringLiteral("07 slow file.flac")));
    look(200);
    clock.advance(MprisBus::kSettleMs / 2);
    ASSERT_TRUE(player.track(QStringLiteral("Title"), {QStringLiteral("Artist")}));
    look(200);
    clock.advance(MprisBus::kSettleMs / 2 - 1);
    look(200);
    EXPECT_EQ(seen, QStringList{QStringLiteral("Before")}) << "nothing counts before it has settled";
    clock.advance(1);
    look(200);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("Before"), QStringLiteral("Artist - Title")}))
        << "a track counts at most a second after the player changed it";

    ASSERT_TRUE(player.track(QStringLiteral("Passing")));
    look(200);
    ASSERT_TRUE(player.track(QStringLiteral("Title"), {QStringLiteral("Artist")}));
    look(200);
    clock.advance(MprisBus::kSettleMs);
    look(200);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("Before"), QStringLiteral("Artist - Title")}));
}

// A paused player that starts a new track takes over with that track, never with its old one.
TEST_F(MprisOnTheBus, APlayerThatStartsANewTrackTakesOverWithThatTrack)
{
    MprisPlayer first(bus.environment(), QStringLiteral("first"), {QStringLiteral("--identity"), QStringLiteral("First")});
    MprisPlayer second(bus.environment(), QStringLiteral("second"), {QStringLiteral("--identity"), QStringLiteral("Second")});
    ASSERT_TRUE(first.started() && second.started());
    const auto players = follow();
    ASSERT_TRUE(first.play(QStringLiteral("Old")));
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("Old"), QStringLiteral("First")));
    ASSERT_TRUE(first.send(QStringLiteral("pause")));
    ASSERT_TRUE(second.play(QStringLiteral("Other")));
    ASSERT_TRUE(settlesSoon(*players, QStringLiteral("Other"), QStringLiteral("Second")));

    ASSERT_TRUE(first.play(QStringLiteral("New")));
    EXPECT_FALSE(showsSoon(*players, QStringLiteral("Old"), QStringLiteral("First"), 500));
    clock.advance(MprisBus::kSettleMs);
    EXPECT_TRUE(showsSoon(*players, QStringLiteral("New"), QStringLiteral("First")));
}

// Only the bus says who owns a player's name: a player that was there before Tunalo looked and never
// answers a question is still followed by what it announces.
TEST_F(MprisOnTheBus, APlayerThatNeverAnswersIsFollowedByItsAnnouncements)
{
    MprisPlayer player(bus.environment(), QStringLiteral("hung"), {QStringLiteral("--no-answers")});
    ASSERT_TRUE(player.started());
    const auto players = follow();
    ASSERT_TRUE(waitUntil([&] { return players->anyPlayer(); }));
    ASSERT_TRUE(player.play(QStringLiteral("Heard Anyway")));
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Heard Anyway"), QString()));
}

// The session bus ends and a new one starts at the same address: its players are gone with it, the
// connection is tried again after 1, 2, 4 ... seconds, and the players on the new bus are followed.
TEST_F(MprisOnTheBus, ABusThatRestartsAtTheSameAddressIsFollowedAgain)
{
    std::vector<qint64> tries;
    auto players = std::make_unique<MprisBus>(clock, [&] {
        tries.push_back(clock.now());
        return bus.connect();
    });
    players->watch();
    {
        MprisPlayer player(bus.environment(), QStringLiteral("before"));
        ASSERT_TRUE(player.started());
        ASSERT_TRUE(player.play(QStringLiteral("Before")));
        ASSERT_TRUE(settlesSoon(*players, QStringLiteral("Before"), QStringLiteral("Stand-in Player")));

        bus.stop();
        clock.advance(100000 - clock.now());
        EXPECT_TRUE(waitUntil([&] { return !players->anyPlayer(); })) << "the players went with the bus";
        EXPECT_EQ(players->nowPlaying().song, QString());
        for (; clock.now() < 100000 + 8000; clock.advance(100)) {
            players->anyPlayer();
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(tries, (std::vector<qint64>{0, 101000, 103000, 107000})) << "tries at growing intervals";
    }
    ASSERT_TRUE(bus.restart());
    MprisPlayer player(bus.environment(), QStringLiteral("after"), {QStringLiteral("--identity"), QStringLiteral("After")});
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.play(QStringLiteral("Back Again")));
    clock.advance(115000 - clock.now());
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("Back Again"), QStringLiteral("After")));
    EXPECT_EQ(tries.size(), 5u);
}

// Files that open slowly, as from a network share: named pipes whose bytes come only a while after
// the player opened them. mpv announces a file's name as its title when it opens it, and its tags
// once it has read them.
class SlowFiles {
public:
    struct File {
        QString path;
        QByteArray bytes;
        int delayMs;
    };

    explicit SlowFiles(std::vector<File> files) : m_files(std::move(files))
    {
        for (const File& file : m_files) {
            m_paths.append(file.path);
            m_made = m_made && ::mkfifo(QFile::encodeName(file.path).constData(), 0600) == 0;
        }
        // A player that stops reading must not end the test with a broken pipe.
        m_oldHandler = std::signal(SIGPIPE, SIG_IGN);
        m_writer = std::thread([this] { serve(); });
    }
    ~SlowFiles()
    {
        m_stop = true;
        m_writer.join();
        std::signal(SIGPIPE, m_oldHandler);
    }
    SlowFiles(const SlowFiles&) = delete;
    SlowFiles& operator=(const SlowFiles&) = delete;

    bool made() const { return m_made; }
    const QStringList& paths() const { return m_paths; }

private:
    void serve()
    {
        for (const File& file : m_files) {
            const QByteArray path = QFile::encodeName(file.path);
            int fd = -1;
            // Waits for the player to open the pipe, without blocking past the test's end.
            while (!m_stop && (fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (fd < 0)
                return;
            ::fcntl(fd, F_SETFL, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(file.delayMs));
            for (qsizetype written = 0; written < file.bytes.size() && !m_stop;) {
                const ssize_t step = ::write(fd, file.bytes.constData() + written, file.bytes.size() - written);
                if (step <= 0)
                    break;
                written += step;
            }
            ::close(fd);
        }
    }

    std::vector<File> m_files;
    QStringList m_paths;
    bool m_made = true;
    std::atomic<bool> m_stop = false;
    void (*m_oldHandler)(int) = nullptr;
    std::thread m_writer;
};

// mpv over twenty files that open slowly: every song is its tags, never a file name.
TEST_F(MprisOnTheBus, MpvOpeningSlowFilesHasNoFileNameTakenForASong)
{
    QTemporaryDir dir;
    std::vector<SlowFiles::File> files;
    QStringList expected;
    for (int track = 1; track <= 20; ++track) {
        const QString title = QStringLiteral("Song %1").arg(track);
        files.push_back({dir.filePath(QStringLiteral("%1 slow file.wav").arg(track, 2, 10, QLatin1Char('0'))),
                         taggedWav(title, QStringLiteral("Band"), 1.3), (track % 3) * 250});
        expected.append(QStringLiteral("Band - ") + title);
    }
    const auto players = follow();
    SlowFiles served(std::move(files));
    ASSERT_TRUE(served.made());
    QProcess mpv;
    ASSERT_TRUE(startMpvPlaylist(mpv, bus.environment(), served.paths()));
    QStringList seen;
    // The test's clock keeps pace with mpv, which plays in real time.
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_TRUE(waitUntil(
        [&] {
            clock.advance(elapsed.elapsed() - clock.now());
            const QString song = players->nowPlaying().song;
            if (!song.isEmpty() && (seen.isEmpty() || seen.last() != song))
                seen.append(song);
            return mpv.state() == QProcess::NotRunning;
        },
        90000));
    if (mpv.state() != QProcess::NotRunning) {
        mpv.kill();
        mpv.waitForFinished(5000);
    }
    EXPECT_EQ(seen.join(QStringLiteral(" | ")).toStdString(), expected.join(QStringLiteral(" | ")).toStdString());
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
    EXPECT_TRUE(settlesSoon(*players, QStringLiteral("The Example Band - Fjörd Light"), QStringLiteral("mpv")));
    // The half-second file's length, as mpv says it in microseconds.
    EXPECT_TRUE(waitUntil([&] {
        clock.advance(100);
        return players->nowPlaying().lengthMs > 0;
    }));
    EXPECT_NEAR(players->nowPlaying().lengthMs, 500, 20);
    EXPECT_TRUE(players->nowPlaying().playing);
    player.terminate();
    player.waitForFinished(10000);
    EXPECT_TRUE(waitUntil([&] { return !players->anyPlayer(); }));
}

} // namespace
} // namespace tunalo::test
