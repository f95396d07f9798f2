#include "core/postqueue.h"
#include "core/protocoltext.h"
#include "adapters/webengine/webenginebrowsers.h"
#include "serviceprotocol.h"
#include "support/publishingtest.h"
#include "support/process.h"
#include "support/standinservice.h"
#include "support/uiprobe.h"
#include "ui/info.h"
#include "web/frmloadhome.h"

#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace tunalo::test {
namespace {

// The program, logged in and publishing, on fake desktop services but with the real browsers,
// posting to a stand-in service.
class Posting : public PublishingTest {
protected:
    Posting() { fakes.platform.browsers = std::make_unique<WebEngineBrowsers>(); }
};

// Between posts the post browser sleeps without its renderer; waking it for the next post never
// sends the one before again, and with the main window closed the home page sleeps too.
TEST_F(Posting, ManyPostsWithSleepingBrowsersReachTheServiceOnceEach)
{
    startUp(service.base());
    service.answer(kPost, {Kind::Page, "Posted ID:{n}"});
    QWebEnginePage& postPage = *qobject_cast<QWebEngineView*>(app->form<updatewb>().wb().widget())->page();
    QWebEnginePage& homePage = *qobject_cast<QWebEngineView*>(app->form<frmWeb>().wb().widget())->page();
    app->form<interface>().close();
    EXPECT_TRUE(runUntil([&] { return homePage.lifecycleState() == QWebEnginePage::LifecycleState::Discarded; }));
    std::vector<std::string> songs;
    for (int number = 1; number <= 15; ++number) {
        songs.push_back("Artist - Song " + std::to_string(number));
        postSong(songs.back());
        ASSERT_TRUE(runUntil([&] { return settled(); })) << number;
        EXPECT_EQ(app->state().lastPostTitle, QStringLiteral("Posted ID:%1").arg(number));
        EXPECT_TRUE(runUntil([&] {
            return postPage.lifecycleState() == QWebEnginePage::LifecycleState::Discarded &&
                   postPage.renderProcessPid() == 0;
        })) << number;
    }
    pause(300);
    EXPECT_EQ(service.songs(kPost), songs);
    EXPECT_EQ(service.requests(kHome).size(), 1u) << "the sleeping home page loads nothing";
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);

    // The window comes back, and with it the home page.
    EXPECT_TRUE(homeComesBackWithTheWindow());
}

TEST_F(Posting, ABurstOfSongsOnASlowServiceLeavesOnePostAndAChainOfIdsWithoutAGap)
{
    startUp(service.base());
    service.answer(kPost, {Kind::Page, "Posted ID:100{n}", 200, 300});
    for (int song = 1; song <= 12; ++song)
        postSong("Skipped - Song " + std::to_string(song));
    ASSERT_TRUE(waitUntil([&] { return posted(2) && settled(); }));
    pause(500);
    const auto requests = service.requests(kPost);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].song, "Skipped - Song 1");
    EXPECT_EQ(requests[0].postId, "");
    EXPECT_EQ(requests[1].song, "Skipped - Song 12");
    EXPECT_EQ(requests[1].postId, "1001") << "the second post deletes the first";
    EXPECT_EQ(app->state().lastPostTitle, QStringLiteral("Posted ID:1002"));
}

// How the service answers a post, and what the program makes of it.
struct Case {
    const char* what;
    StandInService::Answer answer;
    const char* lastPostTitle; // afterwards; it was "Posted ID:1"
    const char* balloon;       // after the song
};

TEST_F(Posting, OnlyAWholePageWithAnIdConfirmsAPost)
{
    const Case cases[] = {
        {"posted", {Kind::Page, "Posted ID:2"}, "Posted ID:2", " (Song Posted)"},
        {"title arriving slowly",
         {Kind::SlowTitle, "Posted ID:1001", 200, 400},
         "Posted ID:1001",
         " (Song Posted)"},
        {"cut off in the title",
         {Kind::CutOff, "Posted ID:1001"},
         "Posted ID:1",
         " (Not Posted): the service did not answer"},
        {"reset", {Kind::Reset}, "Posted ID:1", " (Not Posted): the service did not answer"},
        {"server error",
         {Kind::Page, "Posted ID:3", 500},
         "Posted ID:1",
         " (Not Posted): the service answered with an error"},
        {"no id",
         {Kind::Page, "Something Else"},
         "Posted ID:1",
         " (Not Posted): the service answered with an error"},
    };
    startUp(service.base());
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        app->state().lastPostTitle = QStringLiteral("Posted ID:1");
        service.answer(kPost, row.answer);
        const std::size_t before = service.requests(kPost).size();
        const std::string song = std::string("Case - ") + row.what;
        postSong(song);
        ASSERT_TRUE(waitUntil([&] { return posted(before + 1) && settled(); }));
        EXPECT_EQ(app->state().lastPostTitle, QString::fromUtf8(row.lastPostTitle));
        ASSERT_FALSE(balloons->messages().isEmpty());
        EXPECT_EQ(balloons->messages().last(), QString::fromStdString(song) + QString::fromUtf8(row.balloon));
        queue().retryDelay->stop();
    }
}

TEST_F(Posting, AFailedSessionSwitchesPublishingOff)
{
    startUp(service.base());
    service.answer(kPost, {Kind::Page, std::string(protocol::kFailedTitle)});
    postSong("Logged - Out");
    ASSERT_TRUE(waitUntil([&] { return app->state().loginState == LoginState::Failed; }));
    EXPECT_EQ(app->state().publishing, kFalse);
    EXPECT_EQ(frontPanel(*app), &app->form<info>());
}

TEST_F(Posting, AHangingPostFailsAndTheNextSongStillGoesOut)
{
    startUp(service.base());
    service.answer(kPost, {Kind::Hang});
    postSong("Hanging - Song");
    ASSERT_TRUE(waitUntil([&] { return posted(1); }));
    service.answer(kPost, {Kind::Page, "Posted ID:7"});
    postSong("Next - Song");
    // The fifteen seconds are up.
    fakes.clock->advance(PostQueue::kAnswerLimitMs);
    ASSERT_TRUE(waitUntil([&] { return app->state().lastPostTitle == QStringLiteral("Posted ID:7"); }));
    EXPECT_EQ(service.songs(kPost), std::vector<std::string>({"Hanging - Song", "Next - Song"}));
    EXPECT_EQ(balloons->messages(),
              QStringList({QStringLiteral("Hanging - Song (not confirmed yet)"),
                           QStringLiteral("Next - Song (Song Posted)")}));
}

TEST_F(Posting, ASongPlayedWhileTheServiceIsDownArrivesOnceAtTheNextTryAfterItsReturn)
{
    startUp(service.base());
    service.goDown();
    postSong("Outage - Song");
    ASSERT_TRUE(waitUntil([&] { return queue().retryDelay->isActive(); }));
    fakes.clock->advance(5000);
    ASSERT_TRUE(waitUntil([&] { return queue().retryDelay->isActive(); }));
    service.comeUp();
    // The second rest is twice the first.
    fakes.clock->advance(9999);
    EXPECT_FALSE(queue().inFlight());
    fakes.clock->advance(1);
    EXPECT_TRUE(queue().inFlight());
    ASSERT_TRUE(waitUntil([&] { return app->state().lastPostTitle == QStringLiteral("Posted ID:1"); }));
    EXPECT_EQ(service.songs(kPost), std::vector<std::string>{"Outage - Song"});
    EXPECT_EQ(balloons->messages().last(), QStringLiteral("Outage - Song (Song Posted)"));
}

TEST_F(Posting, PostsGoThroughTheDesktopsProxy)
{
    StandInProxy proxy(service.port());
    qputenv("http_proxy", QByteArray::fromStdString(proxy.base()));
    qputenv("no_proxy", "");
    // A name only the proxy knows: without it, nothing would arrive.
    const std::string base = "http://tunalo.test:" + std::to_string(service.port());
    startUp(base);
    postSong("Proxied - Song");
    ASSERT_TRUE(waitUntil([&] { return app->state().lastPostTitle == QStringLiteral("Posted ID:1"); }));
    EXPECT_EQ(service.songs(kPost), std::vector<std::string>{"Proxied - Song"});
    bool throughProxy = false;
    for (const std::string& line : proxy.requestLines())
        throughProxy = throughProxy || line.starts_with("GET " + base + kPost + "?");
    EXPECT_TRUE(throughProxy);
    qunsetenv("http_proxy");
}

} // namespace
} // namespace tunalo::test
