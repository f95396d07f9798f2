#include "adapters/qt/systemclock.h"
#include "adapters/webengine/webenginebrowsers.h"
#include "serviceprotocol.h"
#include "support/appfixture.h"
#include "support/process.h"
#include "support/standinservice.h"
#include "ui/interface.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"
#include "web/updatewb.h"

#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace tunalo::test {
namespace {

// What the stand-in service answers on path from now on: a status and a page body.
void setPage(StandInService& service, const std::string& path, int status, std::string body,
             std::string setCookie = {})
{
    StandInService::Answer answer(StandInService::Answer::Kind::Page, {}, status);
    answer.body = std::move(body);
    answer.setCookie = std::move(setCookie);
    service.answer(path, std::move(answer));
}

const std::string kHome(protocol::kHomePath);
const std::string kPost(protocol::kPostPath);

// The program on fake desktop services but with the real browsers, talking to a loopback service.
class Web : public ::testing::Test {
protected:
    Web()
    {
        setPage(service, "/", 200, StandInService::page("Tunalo"));
        fakes.platform.browsers = std::make_unique<WebEngineBrowsers>();
        // The loader's timers run in real time here, as the pages come.
        fakes.platform.clock = std::make_unique<SystemClock>();
    }
    ~Web() override
    {
        // Browsers first, then their profile, while the service still answers.
        app.reset();
        fakes.platform.browsers.reset();
    }

    // Starts the program with the service on base.
    void startUp(const QString& base)
    {
        qputenv("TUNALO_SERVICE_URL", base.toUtf8());
        app = std::make_unique<mainmodule>(fakes.platform);
        qunsetenv("TUNALO_SERVICE_URL");
        ASSERT_TRUE(app->startup());
    }
    void startUp() { startUp(QString::fromStdString(service.base())); }

    QWebEngineView& view(Browser& browser) { return *qobject_cast<QWebEngineView*>(browser.widget()); }
    Browser& home() { return app->form<frmWeb>().wb(); }
    Browser& post() { return app->form<updatewb>().wb(); }
    frmloadhome& loader() { return app->form<frmloadhome>(); }
    bool handedOver()
    {
        const frmWeb& form = app->form<frmWeb>();
        return form.parentWidget() == app->form<interface>().cp && form.isVisible();
    }

    StandInService service;
    FakePlatform fakes;
    std::unique_ptr<mainmodule> app;
};

TEST_F(Web, LogsInThroughTheHomeBrowserAndPostsWithItsCookies)
{
    setPage(service, kHome, 200, StandInService::page("Login Succsesfull"), "tnlo=friend42; Path=/");
    setPage(service, kPost, 200, StandInService::page("Posted ID:4711"));
    startUp();

    // The loader's own timers read the title and hand the panel over.
    ASSERT_TRUE(waitUntil([&] { return handedOver(); })) << home().LocationName().toStdString();
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);
    EXPECT_FALSE(loader().isVisible());

    const std::string song = "Tom & Jerry #1 + 50% ?x=y=ID: Ünïcødé";
    app->state().currentSong = QString::fromStdString(song);
    app->state().autoDelete = 1;
    app->cycle().postsong();
    ASSERT_TRUE(waitUntil([&] { return app->state().lastPostTitle == QStringLiteral("Posted ID:4711"); }));
    ASSERT_EQ(service.requests(kPost).size(), 1u);
    const StandInService::Request first = service.requests(kPost).front();
    EXPECT_EQ(first.song, song);
    EXPECT_EQ(first.postId, "");
    EXPECT_EQ(first.cookie, "tnlo=friend42") << "the post browser shares the home browser's cookies";
    EXPECT_FALSE(post().widget()->isVisible());
    // Both pages are of one site, so one renderer process serves them.
    EXPECT_NE(view(home()).page()->renderProcessPid(), 0);
    EXPECT_EQ(view(home()).page()->renderProcessPid(), view(post()).page()->renderProcessPid());

    setPage(service, kPost, 200, StandInService::page("Posted ID:4712"));
    app->cycle().postsong();
    ASSERT_TRUE(waitUntil([&] { return app->state().lastPostTitle == QStringLiteral("Posted ID:4712"); }));
    EXPECT_EQ(service.requests(kPost).back().postId, "4711");

    // The profile is a persistent one in the user's data folder.
    QWebEngineProfile* profile = static_cast<WebEngineBrowsers&>(*fakes.platform.browsers).profile();
    ASSERT_NE(profile, nullptr);
    EXPECT_FALSE(profile->isOffTheRecord());
    EXPECT_TRUE(profile->persistentStoragePath().startsWith(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
}

TEST_F(Web, ALogInLastsIntoTheNextRun)
{
    setPage(service, kHome, 200, StandInService::page("Login Succsesfull"),
            "tnlo=kept; Max-Age=3600; Path=/");
    setPage(service, kPost, 200, StandInService::page("Posted ID:1"));
    startUp();
    ASSERT_TRUE(waitUntil([&] { return app->state().loginState == LoginState::LoggedIn; }));

    // The program ends and starts again: the profile goes with the browsers and comes back.
    app.reset();
    fakes.platform.browsers.reset();
    QFile cookies(WebEngineBrowsers::storageFolder() + QStringLiteral("/Cookies"));
    EXPECT_TRUE(waitUntil(
        [&] {
            cookies.open(QIODevice::ReadOnly);
            const bool written = cookies.readAll().contains("tnlo");
            cookies.close();
            return written;
        },
        10000))
        << "the cookie is on disk once the profile is gone";
    fakes.platform.browsers = std::make_unique<WebEngineBrowsers>();
    startUp();
    app->state().currentSong = QStringLiteral("Artist - Title");
    app->cycle().postsong();
    ASSERT_TRUE(waitUntil([&] { return !service.requests(kPost).empty(); }));
    EXPECT_EQ(service.requests(kPost).front().cookie, "tnlo=kept");
}

TEST_F(Web, PagesThatAreNotTheProtocolsChangeNothing)
{
    struct Row {
        const char* what;
        int status;
        std::string body;
        const char* shown; // how both titles begin once the pages are in
    };
    const std::string huge(1 << 20, 'x');
    const Row rows[] = {
        {"server error", 500, StandInService::page("Failed"), "Failed"},
        // A page without a title shows its address, where a song's "ID:" stays encoded.
        {"no title", 200, "<html><body>failed</body></html>", "127.0.0.1:"},
        {"near miss", 200, StandInService::page("login succsesfull"), "login succsesfull"},
        {"near miss", 200, StandInService::page("failed."), "failed."},
        {"huge title", 200, StandInService::page("Login Succsesfull" + huge), "Login Succsesfullxxx"},
        {"not a page", 200, std::string("\xff\xfe\0\x01 ID: failed", 15), "127.0.0.1:"},
    };
    startUp();
    app->state().lastPostTitle = QStringLiteral("Posted ID:1");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        setPage(service, kHome, row.status, row.body);
        setPage(service, kPost, row.status, row.body);
        app->showhome();
        app->state().currentSong = QStringLiteral("ID:2 failed");
        app->cycle().postsong();
        const QString shown = QString::fromUtf8(row.shown);
        ASSERT_TRUE(waitUntil([&] {
            return home().LocationName().startsWith(shown) && post().LocationName().startsWith(shown) &&
                   !view(home()).page()->isLoading() && !view(post()).page()->isLoading();
        })) << home().LocationName().left(80).toStdString()
            << " | " << post().LocationName().left(80).toStdString();
        // The page before may have been a protocol page; from here on only the new one counts.
        app->state().loginState = LoginState::NoneYet;
        // Let the loader poll the titles a few times.
        waitUntil([] { return false; }, 200);
        EXPECT_EQ(app->state().loginState, LoginState::NoneYet);
        EXPECT_EQ(app->state().lastPostTitle, QStringLiteral("Posted ID:1"));
        EXPECT_TRUE(loader().isVisible());
    }
}

TEST_F(Web, ASlowServiceBringsTheNoticeAfterTenSeconds)
{
    for (const std::string& path : {std::string(protocol::kRootPath), kHome})
        service.answer(path, StandInService::Answer::Kind::Hang);
    startUp();
    EXPECT_FALSE(loader().Label1->isVisible());
    ASSERT_TRUE(waitUntil([&] { return loader().Label1->isVisible(); }, 20000));
    EXPECT_TRUE(loader().Label2[6]->isVisible());
    EXPECT_EQ(app->state().loginState, LoginState::NoneYet);
    EXPECT_TRUE(loader().isVisible());
}

TEST_F(Web, ARefusedConnectionLeavesTheLoaderWaiting)
{
    // A port that was free a moment ago: nothing listens there now.
    QString base;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        base = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
    }
    startUp(base);
    bool failed = false;
    QObject::connect(&view(home()), &QWebEngineView::loadFinished, [&](bool ok) { failed = failed || !ok; });
    ASSERT_TRUE(waitUntil([&] { return failed; }));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(app->state().loginState, LoginState::NoneYet);
    EXPECT_TRUE(loader().isVisible());
    // The notice, when it comes, says which address and why.
    EXPECT_EQ(loader().Label3->text(), QStringLiteral("Tunalo could not reach %1: connection refused.").arg(base));
}

} // namespace
} // namespace tunalo::test
