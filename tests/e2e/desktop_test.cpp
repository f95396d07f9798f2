#include "session.h"
#include "support/notificationserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

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
    // The service writes its log line once it has answered, which may come after the feed shows
    // the post.
    EXPECT_TRUE(session.waitForPosts(3)) << session.screenshot(QStringLiteral("posts"));
}

TEST(Desktop, OnASlowServiceABurstOfSkipsLeavesOnlyTheNewestPostAndASongPlayedInAnOutageArrives)
{
    Session session(QStringLiteral("Burst Artist - Song 0 - MediaMonkey"));
    session.front().delay("/fb/update.php", 300); // a service far away on the internet
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    session.pressStartPublishing();
    ASSERT_TRUE(session.waitForFeed({QStringLiteral("Burst Artist - Song 0")}))
        << session.screenshot(QStringLiteral("publish"));

    // Twelve songs skipped within a second: each post deletes the one before, so one is left.
    for (int song = 1; song <= 12; ++song) {
        ASSERT_TRUE(
            session.player().setTitle(QStringLiteral("Burst Artist - Song %1 - MediaMonkey").arg(song)));
        pause(80);
    }
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Burst Artist - Song 12")}))
        << session.feed().join(QStringLiteral(" | ")).toStdString()
        << session.screenshot(QStringLiteral("burst"));

    // A song that starts while the service cannot be reached arrives once it is back.
    session.front().goDown();
    ASSERT_TRUE(session.player().setTitle(QStringLiteral("Outage Artist - Song - MediaMonkey")));
    pause(3000);
    session.front().comeUp();
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Outage Artist - Song")}))
        << session.feed().join(QStringLiteral(" | ")).toStdString()
        << session.screenshot(QStringLiteral("outage"));
}

// A post whose answer is late past the program's patience is tried again with the same key; the
// service takes the late first request and the retry as one post, so no copy is left behind.
TEST(Desktop, APostServedAfterItsRetryIsStillOnePost)
{
    Session session(QStringLiteral("Stall Artist - Song 0 - MediaMonkey"));
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    session.pressStartPublishing();
    ASSERT_TRUE(session.waitForFeed({QStringLiteral("Stall Artist - Song 0")}));

    // The service stalls for 20 s: the program gives up on the answer after 15 s and tries again.
    session.front().delay("/fb/update.php", 20000);
    ASSERT_TRUE(session.player().setTitle(QStringLiteral("Stall Artist - Song 1 - MediaMonkey")));
    pause(24000);
    session.front().delay("/fb/update.php", 0);
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Stall Artist - Song 1")}))
        << session.feed().join(QStringLiteral(" | ")).toStdString();
    // Both requests have reached the service by now, and the feed still holds the song once.
    pause(20000);
    EXPECT_EQ(session.feed(), QStringList{QStringLiteral("Stall Artist - Song 1")});
}

// Logs in, turns automatic publishing off and starts publishing, so that the song is offered.
void publishWithOffers(Session& session)
{
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));

    session.click(120, 3960, 2175, 1095); // "options"
    pause(1000);
    session.clickInPanel(120, 720, 600, 375); // "Automatically Publish Posts"
    ASSERT_TRUE(waitUntil([&] {
        return session.settingsValue(QStringLiteral("autopublish")) == QStringLiteral(" 0");
    })) << session.screenshot(QStringLiteral("options"));

    session.pressStartPublishing();
}

TEST(Desktop, WithAutomaticPublishingOffASongIsPostedWhenItsBalloonIsClicked)
{
    Session session(QStringLiteral("Quiet Artist - Offered Song - MediaMonkey"));
    publishWithOffers(session);
    if (HasFatalFailure())
        return;
    // The song is offered in a balloon, not posted.
    ASSERT_TRUE(waitUntil([&] { return !session.balloon().isEmpty(); }))
        << session.screenshot(QStringLiteral("offer"));
    pause(1000);
    EXPECT_TRUE(session.feed().isEmpty());
    session.clickOnScreen(session.balloon());
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Quiet Artist - Offered Song")}))
        << session.screenshot(QStringLiteral("clicked"));
}

TEST(Desktop, WithANotificationServerTheOfferIsANotificationThatPostsTheSongWhenClicked)
{
    // dunst with its settings as installed: a middle click runs a notification's action.
    QTemporaryDir dunstSettings;
    QProcess dunst;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dunstSettings.path());
    dunst.setProcessEnvironment(environment);
    dunst.start(QStringLiteral("dunst"), {});
    const auto note = [] {
        const QString window = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--class"), QStringLiteral("dunst")})
                                   .section(QLatin1Char('\n'), 0, 0);
        const QString geometry =
            window.isEmpty() ? QString() : xdotool({QStringLiteral("getwindowgeometry"), window});
        static const QRegularExpression numbers(
            QStringLiteral(R"(Position: (\d+),(\d+).*Geometry: (\d+)x(\d+))"),
            QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = numbers.match(geometry);
        return match.hasMatch() ? QRect(match.captured(1).toInt(), match.captured(2).toInt(),
                                        match.captured(3).toInt(), match.captured(4).toInt())
                                : QRect();
    };

    Session session(QStringLiteral("Quiet Artist - Noted Song - MediaMonkey"));
    publishWithOffers(session);
    if (HasFatalFailure())
        return;
    // The offer replaces the welcome on the server; Qt draws no balloon of its own.
    ASSERT_TRUE(waitUntil([&] { return !note().isEmpty(); })) << session.screenshot(QStringLiteral("note"));
    pause(1000);
    EXPECT_TRUE(session.feed().isEmpty());
    EXPECT_TRUE(session.balloon().isEmpty()) << session.screenshot(QStringLiteral("bubble"));
    session.clickOnScreen(note(), 2);
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Quiet Artist - Noted Song")}))
        << session.screenshot(QStringLiteral("noted"));
    dunst.terminate();
    dunst.waitForFinished(5000);
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

// The home page in Tunalo's window follows the person's posts by itself, without being loaded again.
TEST(Desktop, TheHomePagesRecentSongsFollowANewPostWithoutAReload)
{
    Session session(QStringLiteral("Live Artist - Followed Song - MediaMonkey"));
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    const auto fetches = [&](const QString& answer) {
        return session.requests().filter(QStringLiteral("GET /fb/recent ") + answer).size();
    };
    // The page asks for its list while it is shown; nothing has changed yet.
    ASSERT_TRUE(waitUntil([&] { return fetches(QStringLiteral("304")) >= 1; }, 20000))
        << session.screenshot(QStringLiteral("polling"));
    const qsizetype homePages = session.requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).size();
    const qsizetype changed = fetches(QStringLiteral("200"));

    session.pressStartPublishing();
    ASSERT_TRUE(session.waitForFeed({QStringLiteral("Live Artist - Followed Song")}));
    EXPECT_TRUE(waitUntil([&] { return fetches(QStringLiteral("200")) > changed; }, 20000))
        << session.screenshot(QStringLiteral("followed"));
    EXPECT_EQ(session.requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).size(), homePages)
        << "the page was loaded again";
}

// Log-out ends the session's programs with SIGTERM; Tunalo ends as "&Exit" ends it.
TEST(Desktop, SigtermEndsTheProgramAsExitDoesAndTheNextStartIsStillLoggedIn)
{
    StandInNotificationServer server; // it lets no balloon expire
    ASSERT_TRUE(server.ready());
    Session session(QStringLiteral("Last Artist - Song Before Log-out - MediaMonkey"));
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));
    ASSERT_TRUE(waitUntil([&] { return server.showing().size() == 1; }));
    const quint32 welcome = server.requests().back().answer;

    ::kill(static_cast<pid_t>(session.program().processId()), SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return session.program().state() == QProcess::NotRunning; }, 10000))
        << session.screenshot(QStringLiteral("sigterm"));
    EXPECT_EQ(session.program().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(session.program().exitCode(), 0);
    // Nothing of Tunalo stays on the desktop to be clicked in vain.
    EXPECT_EQ(server.closedByPrograms(), std::vector<quint32>{welcome});
    EXPECT_TRUE(server.showing().isEmpty());
    EXPECT_EQ(session.settingsValue(QStringLiteral("lastsmp")), QStringLiteral(" 1"));

    // The lock is free, and the cookies are on the disk: the next start is logged in and posts.
    const qsizetype homePages = session.requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).size();
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(waitUntil([&] {
        return session.requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).size() > homePages;
    }));
    pause(1500); // the home page's title is read once it has come
    session.pressStartPublishing();
    EXPECT_TRUE(session.waitForFeed({QStringLiteral("Last Artist - Song Before Log-out")}))
        << session.screenshot(QStringLiteral("after-sigterm"));
}

TEST(Desktop, StartAtLogInWritesAnEntryThatStartsThisProgramAndTakesItAway)
{
    Session session(QStringLiteral("Some Song - MediaMonkey"));
    ASSERT_TRUE(session.startProgram());
    const QString entry = session.programFiles().home() + QStringLiteral("/config/autostart/tunalo.desktop");
    // The home page takes the panel's place once it has told the log-in state; so the options are
    // opened after that, and again on a slow machine where it came later.
    ASSERT_TRUE(waitUntil(
        [&] { return !session.requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).isEmpty(); }));
    for (int attempt = 0; attempt < 3 && !QFile::exists(entry); ++attempt) {
        pause(2000);
        session.click(120, 3960, 2175, 1095); // "options"
        pause(1000);
        session.clickInPanel(120, 3000, 600, 375); // "Start Tunalo when I log in"
        waitUntil([&] { return QFile::exists(entry); }, 3000);
    }
    ASSERT_TRUE(QFile::exists(entry)) << session.screenshot(QStringLiteral("on"));

    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList exec =
        QString::fromUtf8(file.readAll()).split(u'\n').filter(QRegularExpression("^Exec="));
    ASSERT_EQ(exec.size(), 1);
    // The desktop runs the line at log-in; run now, it meets the instance that runs already and
    // leaves it as it is.
    QProcess login;
    login.setProcessEnvironment(session.programFiles().environment());
    const QStringList command = QProcess::splitCommand(exec.front().mid(5));
    ASSERT_EQ(command.size(), 2) << exec.front().toStdString();
    login.start(command[0], command.mid(1));
    ASSERT_TRUE(login.waitForFinished(15000)) << exec.front().toStdString();
    EXPECT_EQ(login.exitCode(), 0);
    const QByteArray error = login.readAllStandardError();
    EXPECT_TRUE(error.startsWith("tunalo: Tunalo is already running")) << error.constData();
    EXPECT_FALSE(error.contains("window")) << "no request to show the window: " << error.constData();

    session.clickInPanel(120, 3000, 600, 375);
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(entry); }))
        << session.screenshot(QStringLiteral("off"));
}

// A settings file its owner made read-only is never replaced: the click is refused, the file stays
// as it was, and the program goes on.
TEST(Desktop, AReadOnlySettingsFileIsLeftAloneWhenAnOptionIsClicked)
{
    Session session(QStringLiteral("Some Song - MediaMonkey"));
    const QString path = session.programFiles().settingsFile();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    const QByteArray text = "[options]\nautopublish= 1\nautodelete= 1\nautoalert= 1\nscreenwords= 1\n"
                            "screenwordlist=untitled\nlastsmp= 1\n";
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                                QFileDevice::ReadOther));
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(waitUntil(
        [&] { return !session.requests().filter(QStringLiteral("GET /fb/tnlouserhome.php")).isEmpty(); }));
    pause(2000);
    session.click(120, 3960, 2175, 1095); // "options"
    pause(1000);
    session.clickInPanel(120, 1200, 4935, 375); // "Automatically Delete Previous Posts"
    pause(1000);
    const std::string shown = session.screenshot(QStringLiteral("readonly"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), text) << shown;
    EXPECT_EQ(QFileInfo(path).permissions() & QFileDevice::WriteOwner, 0) << shown;
    EXPECT_EQ(session.program().state(), QProcess::Running);
}

} // namespace
} // namespace tunalo::test
