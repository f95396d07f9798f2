// The browsers of the program as it runs: the pages in the engine's own process, which lives while
// a page is needed and is started again when one is needed after it ended, however it ended.
#include "adapters/engineprocess/remotebrowsers.h"
#include "core/postqueue.h"
#include "core/protocoltext.h"
#include "serviceprotocol.h"
#include "support/publishingtest.h"
#include "support/process.h"
#include "support/qtwarnings.h"
#include "web/frmloadhome.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QWindow>

#include <csignal>

namespace tunalo::test {
namespace {

const QString kEngine = QStringLiteral(TUNALO_BIN_DIR "/tunalo-engine");
// Short, so that the tests see the engine end; the program gives it a minute.
constexpr std::chrono::milliseconds kGrace{1500};

bool processGone(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0;
}

// The key a post request carries.
std::string keyOf(const StandInService::Request& request)
{
    const QUrl url(QString::fromStdString(request.target));
    return QUrlQuery(url).queryItemValue(QStringLiteral("k")).toStdString();
}

// The program with the browsers of the engine process, posting to a stand-in service.
class EngineProcess : public PublishingTest {
protected:
    EngineProcess() { service.answer(kPost, {Kind::Page, "Posted ID:{n}"}); }

    void useEngine(const QString& engine)
    {
        auto browsers = std::make_unique<RemoteBrowsers>(engine, kGrace);
        engines = browsers.get();
        fakes.platform.browsers = std::move(browsers);
    }
    void startUp(const QString& engine = kEngine)
    {
        useEngine(engine);
        PublishingTest::startUp(service.base());
    }

    RemoteBrowsers* engines = nullptr;
};

// Closed to the tray, the program needs no page once the home page has told the log-in: the engine
// ends after its grace, a post starts a new one, which ends again once the post is confirmed.
TEST_F(EngineProcess, EndsAfterItsGraceWithTheWindowClosedAndAPostStartsItAgain)
{
    startUp();
    if (HasFatalFailure())
        return;
    const qint64 first = engines->enginePid();
    ASSERT_GT(first, 0);
    app->form<interface>().close();
    ASSERT_TRUE(runUntil([&] { return processGone(first); }, 15000)) << "the engine outlived its grace";
    EXPECT_EQ(engines->enginePid(), 0);

    for (int number = 1; number <= 2; ++number) {
        const std::string song = "Tray - Song " + std::to_string(number);
        postSong(song);
        ASSERT_TRUE(runUntil([&] { return settled(); }, 30000)) << song;
        EXPECT_EQ(app->state().lastPostTitle, QStringLiteral("Posted ID:%1").arg(number));
        const qint64 engine = engines->enginePid();
        EXPECT_GT(engine, 0);
        ASSERT_TRUE(runUntil([&] { return processGone(engine); }, 15000)) << song;
    }
    EXPECT_EQ(service.songs(kPost), std::vector<std::string>({"Tray - Song 1", "Tray - Song 2"}));
    EXPECT_EQ(engines->engineStarts(), 3);
    EXPECT_EQ(service.requests(kHome).size(), 1u) << "the sleeping home page loads nothing";
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);

    // The window comes back, and with it an engine and the home page.
    EXPECT_TRUE(homeComesBackWithTheWindow());
}

// An engine killed while the service holds a post back: the post ends as not answered and its retry,
// under the same key, goes out through a new engine and is confirmed once; the home page on the
// screen is loaded again. An engine stopped with SIGSTOP, which answers nothing, is ended when the
// post's answer is overdue, and likewise replaced.
TEST_F(EngineProcess, AnEngineKilledOrStoppedMidPostIsReplacedAndThePostRetriedWithItsKey)
{
    startUp();
    if (HasFatalFailure())
        return;
    const struct {
        const char* what;
        int signal;
    } cases[] = {{"killed", SIGKILL}, {"stopped", SIGSTOP}};
    std::size_t before = 0;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        service.answer(kPost, {Kind::Hang});
        const std::string song = std::string("Engine - ") + row.what;
        postSong(song);
        ASSERT_TRUE(waitUntil([&] { return service.requests(kPost).size() == before + 1; }));
        const qint64 engine = engines->enginePid();
        const std::size_t homePages = service.requests(kHome).size();
        ASSERT_EQ(::kill(static_cast<pid_t>(engine), row.signal), 0);
        service.answer(kPost, {Kind::Page, "Posted ID:70"});
        if (row.signal == SIGSTOP) {
            const ExpectQtWarning unanswered(QStringLiteral("the browser engine did not answer"));
            fakes.clock->advance(PostQueue::kAnswerLimitMs);
            // No answer to the stop: the engine is ended, and the program knows it.
            ASSERT_TRUE(runUntil([&] { return processGone(engine) && engines->enginePid() != engine; }, 15000));
            EXPECT_EQ(unanswered.seen(), 1);
            ::kill(static_cast<pid_t>(engine), SIGCONT);
        }
        ASSERT_TRUE(runUntil([&] { return queue().retryDelay->isActive(); }));
        fakes.clock->advance(PostQueue::kFirstRetryMs);
        ASSERT_TRUE(runUntil([&] { return settled() && service.requests(kPost).size() == before + 2; }, 30000));
        const auto requests = service.requests(kPost);
        EXPECT_EQ(requests[before].song, song);
        EXPECT_EQ(requests[before + 1].song, song);
        EXPECT_EQ(keyOf(requests[before]), keyOf(requests[before + 1])) << "the retry carries the first try's key";
        EXPECT_FALSE(keyOf(requests[before]).empty());
        EXPECT_EQ(app->state().lastPostTitle, QStringLiteral("Posted ID:70"));
        EXPECT_NE(engines->enginePid(), engine);
        // The home page on the screen came back with the new engine.
        EXPECT_TRUE(runUntil([&] {
            return service.requests(kHome).size() == homePages + 1 &&
                   app->form<frmWeb>().wb().LocationName() == qtText(protocol::kLoggedInTitle);
        }));
        pause(300);
        EXPECT_EQ(service.requests(kPost).size(), before + 2) << "nothing is posted a third time";
        before += 2;
    }
}

// The main window is on the screen with the loading panel while the engine is still starting; the
// home page takes its place once the engine has it.
TEST_F(EngineProcess, TheWindowIsShownBeforeTheEngineAnswers)
{
    QTemporaryDir folder;
    const QString slowEngine = folder.filePath(QStringLiteral("slow-engine"));
    QFile script(slowEngine);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nsleep 3\nexec '%1' \"$@\"\n").arg(kEngine).toUtf8());
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);

    useEngine(slowEngine);
    launch(service.base());
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(waitUntil([&] { return app->form<interface>().windowHandle()->isExposed(); }, 2000));
    EXPECT_EQ(frontPanel(*app), &app->form<frmloadhome>());
    EXPECT_TRUE(service.requests(kHome).empty()) << "the engine answered before the window was shown";
    EXPECT_TRUE(app->form<frmWeb>().wb().LocationName().isEmpty());

    ASSERT_TRUE(waitUntil([&] {
        fakes.clock->advance(LoginWatch::kHandOverMs);
        return frontPanel(*app) == &app->form<frmWeb>();
    }, 30000));
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);
}

} // namespace
} // namespace tunalo::test
