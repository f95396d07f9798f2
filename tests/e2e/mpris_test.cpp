// Players that announce their songs on the desktop's session bus (scripts/desktop.sh gives the
// private desktop one), followed by Tunalo with the fifth choice stored as the last player.
#include "session.h"
#include "support/mprisplayer.h"
#include "support/taggedwav.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

bool hasSessionBus()
{
    return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
}

// Stores "another player on the session bus" as the player watched last, before the start, and
// the players that count.
bool watchTheBus(Session& session, const QByteArray& players = {})
{
    QFile settings(session.programFiles().settingsFile());
    return settings.open(QIODevice::WriteOnly) &&
           settings.write("[options]\nlastsmp= 4\nmprisplayers=" + players + "\n") > 0;
}

TEST(DesktopBus, TheSongsOfPlayersOnTheSessionBusArePostedAsArtistAndTitle)
{
    ASSERT_TRUE(hasSessionBus()) << "no session bus: run the tests through scripts/test";
    // No window of a known player is open; only the bus tells what plays.
    Session session(QStringLiteral("Notes - Editor"));
    ASSERT_TRUE(watchTheBus(session));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("song.wav"));
    ASSERT_TRUE(writeTaggedWav(file, QStringLiteral("Fjörd Light"), QStringLiteral("The Example Band")));
    QProcess mpv;
    ASSERT_TRUE(startMpv(mpv, QProcessEnvironment::systemEnvironment(), file));

    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    session.pressStartPublishing();
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("The Example Band - Fjörd Light")}))
        << session.screenshot(QStringLiteral("mpv"));

    // A second player starts playing: it is followed from then on.
    MprisPlayer player(QProcessEnvironment::systemEnvironment(), QStringLiteral("tunalo_e2e"),
                       {QStringLiteral("--identity"), QStringLiteral("Rhythmbox")});
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.play(QStringLiteral("Duet"), {QStringLiteral("Ann"), QStringLiteral("Bo")}));
    // It may start before the first post's answer has named the post to delete, so only the newest
    // post is certain.
    EXPECT_TRUE(waitUntil([&] { return session.feed().value(0) == QStringLiteral("Ann, Bo - Duet"); }))
        << session.screenshot(QStringLiteral("duet"));

    mpv.terminate();
    mpv.waitForFinished(10000);
}

// The real service refuses a blank song as it refuses a lost session, and its request head holds
// 16 KiB: a player titled with one blank is never posted, so publishing stays on, and a
// 5,000-character title goes out once, cut to the 1,000 characters the service keeps.
TEST(DesktopBus, ABlankSongLocksNobodyOutAndAVeryLongOneIsPostedOnceCut)
{
    ASSERT_TRUE(hasSessionBus()) << "no session bus: run the tests through scripts/test";
    Session session(QStringLiteral("Notes - Editor"));
    ASSERT_TRUE(watchTheBus(session));
    MprisPlayer player(QProcessEnvironment::systemEnvironment(), QStringLiteral("tunalo_e2e_blank"));
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.play(QStringLiteral(" ")));

    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    session.pressStartPublishing();
    pause(3000);
    EXPECT_TRUE(session.feed().isEmpty()) << session.feed().join(QStringLiteral(" | ")).toStdString();

    // Each character takes nine bytes in the address.
    const QString song = QStringLiteral("Long ") + QString(4995, QChar(0x65E5));
    ASSERT_TRUE(player.play(song));
    EXPECT_TRUE(session.waitForFeed({song.left(1000)})) << session.screenshot(QStringLiteral("long"));
    ASSERT_TRUE(player.play(QStringLiteral("After")));
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("After")})) << session.screenshot(QStringLiteral("after"));
    EXPECT_TRUE(session.waitForPosts(2)) << session.requests().join(QStringLiteral("\n")).toStdString();
}

struct ChoiceCase {
    const char* name;
    const char* players; // as the settings file holds them
    const char* posted;
};

class ChosenPlayers : public ::testing::TestWithParam<ChoiceCase> {};

// A browser plays a video and a music player a song, the browser started last: by default only the
// song is posted, and with the browser chosen by hand only the video.
TEST_P(ChosenPlayers, OnlyTheChosenPlayersSongsArePosted)
{
    ASSERT_TRUE(hasSessionBus()) << "no session bus: run the tests through scripts/test";
    Session session(QStringLiteral("Notes - Editor"));
    ASSERT_TRUE(watchTheBus(session, GetParam().players));
    MprisPlayer music(QProcessEnvironment::systemEnvironment(), QStringLiteral("strawberry"),
                      {QStringLiteral("--identity"), QStringLiteral("Strawberry")});
    ASSERT_TRUE(music.started());
    ASSERT_TRUE(music.play(QStringLiteral("First Light"), {QStringLiteral("The Example Band")}));
    MprisPlayer browser(QProcessEnvironment::systemEnvironment(), QStringLiteral("chromium.instance4242"),
                        {QStringLiteral("--identity"), QStringLiteral("Chromium")});
    ASSERT_TRUE(browser.started());
    ASSERT_TRUE(browser.play(QStringLiteral("Funny Cats Compilation")));

    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    session.pressStartPublishing();
    const QStringList posted{QString::fromUtf8(GetParam().posted)};
    EXPECT_TRUE(session.waitForFeed(posted)) << session.screenshot(QStringLiteral("chosen"));
    pause(2000);
    EXPECT_EQ(session.feed(), posted) << "the other player is never posted";
}

INSTANTIATE_TEST_SUITE_P(
    DesktopBus, ChosenPlayers,
    ::testing::Values(ChoiceCase{"ByDefault", "", "The Example Band - First Light"},
                      ChoiceCase{"TheBrowserByHand", " Chromium ", "Funny Cats Compilation"}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tunalo::test
