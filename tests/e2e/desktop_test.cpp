#include "session.h"

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

TEST(Desktop, PublishesEveryNewSongAndDeletesThePreviousPost)
{
    Session session(QStringLiteral("Artist One - First Song - MediaMonkey"));
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));

    session.pressStartPublishing();
    ASSERT_TRUE(session.waitForFeed({QStringLiteral("Artist One - First Song")}))
        << session.screenshot(QStringLiteral("publish"));

    // Every new song replaces the post before it; a song with characters that mean something in
    // an address arrives whole.
    for (const QString& song :
         {QStringLiteral("Artist Two - Second Song"), QStringLiteral("AC/DC & Friends - 50% #1 Hit?")}) {
        ASSERT_TRUE(session.player().setTitle(song + QStringLiteral(" - MediaMonkey")));
        EXPECT_TRUE(session.waitForFeed({song})) << session.screenshot(QStringLiteral("songs"));
    }
    // The service writes its log line after the answer that the feed already shows.
    EXPECT_TRUE(waitUntil(
        [&] { return session.requests().filter(QStringLiteral("GET /fb/update.php")).size() >= 3; }));
    EXPECT_EQ(session.requests().filter(QStringLiteral("GET /fb/update.php")).size(), 3);
}

TEST(Desktop, WithAutomaticPublishingOffASongIsPostedWhenItsBalloonIsClicked)
{
    Session session(QStringLiteral("Quiet Artist - Offered Song - MediaMonkey"));
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));

    session.click(120, 3960, 2175, 1095); // "options"
    pause(1000);
    session.clickInPanel(120, 720, 600, 375); // "Automatically Publish Posts"
    ASSERT_TRUE(waitUntil([&] {
        return session.settingsValue(QStringLiteral("autopublish")) == QStringLiteral(" 0");
    })) << session.screenshot(QStringLiteral("options"));

    session.pressStartPublishing();
    // The song is offered in a balloon, not posted.
    ASSERT_TRUE(waitUntil([&] { return !session.balloon().isEmpty(); }))
        << session.screenshot(QStringLiteral("offer"));
    pause(1000);
    EXPECT_TRUE(session.feed().isEmpty());
    session.clickOnScreen(session.balloon());
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Quiet Artist - Offered Song")}))
        << session.screenshot(QStringLiteral("clicked"));
}

TEST(Desktop, ExitFromTheTrayMenuRemembersThePlayerAndASecondStartEndsAtOnce)
{
    Session session(QStringLiteral("Some Song - MediaMonkey"));
    PlayerWindow vlc(QStringLiteral("clip.avi - VLC media player"));
    ASSERT_TRUE(vlc.started());
    ASSERT_TRUE(session.startProgram());
    // Once the home page has told the log-in state, it takes the panel's place; so the choice is
    // made after that, and made again a little later on a slow machine (choosing twice is harmless).
    ASSERT_TRUE(waitUntil(
        [&] { return !session.requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).isEmpty(); }));
    for (int attempt = 0; attempt < 3; ++attempt) {
        pause(2000);
        session.click(120, 2760, 2175, 1095); // "select a media player"
        pause(1000);
        session.clickInPanel(480, 1800, 2895, 375); // "VLC Media Player", enabled while it runs
    }
    pause(500);
    const std::string chosen = session.screenshot(QStringLiteral("player"));

    QProcess& second = session.programFiles().start();
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(session.program().state(), QProcess::Running);

    ASSERT_TRUE(waitUntil([&] { return !session.trayIcon().isEmpty(); }))
        << session.screenshot(QStringLiteral("tray"));
    session.clickOnScreen(session.trayIcon(), 3);
    xdotool({QStringLiteral("key"), QStringLiteral("e")}); // "&Exit"
    ASSERT_TRUE(session.program().waitForFinished(15000)) << session.screenshot(QStringLiteral("exit"));
    EXPECT_EQ(session.program().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(session.program().exitCode(), 0);
    EXPECT_EQ(session.settingsValue(QStringLiteral("lastsmp")), QStringLiteral(" 2")) << chosen;
}

} // namespace
} // namespace tunalo::test
