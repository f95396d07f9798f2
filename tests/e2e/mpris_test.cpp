// Players that announce their songs on the desktop's session bus (scripts/desktop.sh gives the
// private desktop one), followed by Tunalo with the fifth choice stored as the last player.
#include "elsewhere.h"
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

// A song heard long enough is one listen that counts at the person's listening service, played by
// the test and answering 429 once; a song skipped while paused is none, however long it stood.
TEST(DesktopBus, ASongHeardLongEnoughIsOneListenThatCountsAndASkippedOneNone)
{
    ASSERT_TRUE(hasSessionBus()) << "no session bus: run the tests through scripts/test";
    service::testkit::Elsewhere listening;
    listening.answer(service::testkit::Elsewhere::Inbox::busyOnce);
    Session session(QStringLiteral("Notes - Editor"), {"--allow-private-peers"});
    ASSERT_TRUE(watchTheBus(session));
    MprisPlayer player(QProcessEnvironment::systemEnvironment(), QStringLiteral("strawberry"),
                       {QStringLiteral("--identity"), QStringLiteral("Strawberry")});
    ASSERT_TRUE(player.started());
    const auto play = [&](const QString& title, const QString& artist) {
        return player.play(title, {artist}) && player.send(QStringLiteral("length 40000000"));
    };
    ASSERT_TRUE(play(QStringLiteral("Forty Seconds"), QStringLiteral("Ann")));

    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    // The person's listening service, given as on their home page.
    service::testkit::Visitor visitor(session.service().port());
    ASSERT_TRUE(visitor.logIn(Session::kName, Session::kPassword));
    ASSERT_EQ(visitor.post("/fb/destinations", {{"audience", "public"}, {"listen_url", listening.origin()},
                                                {"listen_token", "token-1234-abcd"}})->status, 303);
    session.pressStartPublishing();
    ASSERT_TRUE(session.waitForFeed({QStringLiteral("Ann - Forty Seconds")}))
        << session.feed().join(QStringLiteral(" | ")).toStdString() << "\n"
        << session.requests().join(QStringLiteral("\n")).toStdString();
    pause(22000); // more than half of its 40 s
    ASSERT_TRUE(play(QStringLiteral("Skipped"), QStringLiteral("Bo")));
    pause(8000);
    ASSERT_TRUE(player.send(QStringLiteral("pause")));
    pause(14000); // 22 s on, but only 8 heard
    ASSERT_TRUE(play(QStringLiteral("Last"), QStringLiteral("Cy")));
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Cy - Last")}));

    // The refused first request, the three songs playing now and the one listen that counts.
    const auto arrived = listening.arrivals(5, std::chrono::seconds{60});
    ASSERT_EQ(arrived.size(), 5u);
    EXPECT_EQ(listening.arrivals(6, std::chrono::seconds{2}).size(), 5u);
    QStringList singles;
    for (const auto& arrival : arrived) {
        if (arrival.activity.value("listen_type", "") != "single")
            continue;
        const auto& metadata = arrival.activity["payload"][0]["track_metadata"];
        singles.append(QString::fromStdString(metadata["track_name"].get<std::string>()));
        EXPECT_EQ(metadata["additional_info"]["duration_ms"], 40000);
        EXPECT_EQ(metadata["additional_info"]["media_player"], "Strawberry");
    }
    EXPECT_EQ(singles, QStringList{QStringLiteral("Forty Seconds")});
}

} // namespace
} // namespace tunalo::test
