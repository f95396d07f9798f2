#include "platform/webengine/webenginebrowsers.h"
#include "support/appfixture.h"
#include "support/process.h"
#include "ui/interface.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"
#include "web/showhome.h"
#include "web/updatewb.h"

#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tunalo::test {
namespace {

// The service's pages on a loopback port, served from a thread of their own. Each request is
// recorded; answers are chosen per path by the test.
class LoopbackService {
public:
    struct Request {
        std::string path;
        std::string song;   // the query value s, decoded
        std::string postId; // d
        std::string cookie;
    };

    LoopbackService()
    {
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            answer(request, response);
        });
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~LoopbackService()
    {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_released.notify_all();
        m_server.stop();
        m_thread.join();
    }

    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    // What the service answers on path from now on: a status and a page body.
    void setPage(const std::string& path, int status, std::string body, std::string setCookie = {})
    {
        std::lock_guard lock(m_mutex);
        m_pages[path] = {status, std::move(body), std::move(setCookie)};
    }
    // Holds every answer back until the service closes.
    void hangAnswers()
    {
        std::lock_guard lock(m_mutex);
        m_hang = true;
    }
    std::vector<Request> requests(const std::string& path)
    {
        std::lock_guard lock(m_mutex);
        std::vector<Request> matching;
        for (const Request& request : m_requests)
            if (request.path == path)
                matching.push_back(request);
        return matching;
    }

    static std::string titled(const std::string& title)
    {
        return "<html><head><title>" + title + "</title></head><body>Tunalo</body></html>";
    }

private:
    struct Page {
        int status;
        std::string body;
        std::string setCookie;
    };

    void answer(const httplib::Request& request, httplib::Response& response)
    {
        std::unique_lock lock(m_mutex);
        m_requests.push_back({request.path, request.get_param_value("s"), request.get_param_value("d"),
                              request.get_header_value("Cookie")});
        if (m_hang)
            m_released.wait_for(lock, std::chrono::seconds(30), [this] { return m_closing; });
        const auto page = m_pages.find(request.path);
        if (page == m_pages.end()) {
            response.status = 404;
            response.set_content(titled("Not Found"), "text/html");
            return;
        }
        response.status = page->second.status;
        if (!page->second.setCookie.empty())
            response.set_header("Set-Cookie", page->second.setCookie);
        response.set_content(page->second.body, "text/html; charset=utf-8");
    }

    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_closing = false;
    bool m_hang = false;
    std::map<std::string, Page> m_pages;
    std::vector<Request> m_requests;
};

const std::string kHome = "/fb/tnlouserhome.php";
const std::string kPost = "/fb/update.php";

// The program on fake desktop services but with the real browsers, talking to a loopback service.
class Web : public ::testing::Test {
protected:
    Web()
    {
        service.setPage("/", 200, LoopbackService::titled("Tunalo"));
        fakes.platform.browsers = std::make_unique<WebEngineBrowsers>();
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
    void startUp() { startUp(service.base()); }

    QWebEngineView& view(Browser& browser) { return *qobject_cast<QWebEngineView*>(browser.widget()); }
    Browser& home() { return app->form<frmWeb>().wb(); }
    Browser& post() { return app->form<updatewb>().wb(); }
    frmloadhome& loader() { return app->form<frmloadhome>(); }
    bool handedOver()
    {
        const frmWeb& form = app->form<frmWeb>();
        return form.parentWidget() == app->form<interface>().cp && form.isVisible();
    }

    LoopbackService service;
    FakePlatform fakes;
    std::unique_ptr<mainmodule> app;
};

TEST_F(Web, LogsInThroughTheHomeBrowserAndPostsWithItsCookies)
{
    service.setPage(kHome, 200, LoopbackService::titled("Login Succsesfull"), "tnlo=friend42; Path=/");
    service.setPage(kPost, 200, LoopbackService::titled("Posted ID:4711"));
    startUp();

    // The loader's own timers read the title and hand the panel over.
    ASSERT_TRUE(waitUntil([&] { return handedOver(); })) << home().LocationName().toStdString();
    EXPECT_EQ(app->state().loginState, 1);
    EXPECT_FALSE(loader().isVisible());

    const std::string song = "Tom & Jerry #1 + 50% ?x=y=ID: Ünïcødé";
    app->state().currentSong = QString::fromStdString(song);
    app->state().autoDelete = 1;
    app->postsong();
    ASSERT_TRUE(waitUntil([&] { return app->state().lastPostTitle == QStringLiteral("Posted ID:4711"); }));
    ASSERT_EQ(service.requests(kPost).size(), 1u);
    const LoopbackService::Request first = service.requests(kPost).front();
    EXPECT_EQ(first.song, song);
    EXPECT_EQ(first.postId, "");
    EXPECT_EQ(first.cookie, "tnlo=friend42") << "the post browser shares the home browser's cookies";
    EXPECT_FALSE(post().widget()->isVisible());
    // Both pages are of one site, so one renderer process serves them.
    EXPECT_NE(view(home()).page()->renderProcessPid(), 0);
    EXPECT_EQ(view(home()).page()->renderProcessPid(), view(post()).page()->renderProcessPid());

    service.setPage(kPost, 200, LoopbackService::titled("Posted ID:4712"));
    app->postsong();
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
    service.setPage(kHome, 200, LoopbackService::titled("Login Succsesfull"),
                    "tnlo=kept; Max-Age=3600; Path=/");
    service.setPage(kPost, 200, LoopbackService::titled("Posted ID:1"));
    startUp();
    ASSERT_TRUE(waitUntil([&] { return app->state().loginState == 1; }));

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
    app->postsong();
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
        {"server error", 500, LoopbackService::titled("Failed"), "Failed"},
        // A page without a title shows its address, where a song's "ID:" stays encoded.
        {"no title", 200, "<html><body>failed</body></html>", "127.0.0.1:"},
        {"near miss", 200, LoopbackService::titled("login succsesfull"), "login succsesfull"},
        {"near miss", 200, LoopbackService::titled("failed."), "failed."},
        {"huge title", 200, LoopbackService::titled("Login Succsesfull" + huge), "Login Succsesfullxxx"},
        {"not a page", 200, std::string("\xff\xfe\0\x01 ID: failed", 15), "127.0.0.1:"},
    };
    startUp();
    app->state().lastPostTitle = QStringLiteral("Posted ID:1");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        service.setPage(kHome, row.status, row.body);
        service.setPage(kPost, row.status, row.body);
        showhome(*app);
        app->state().currentSong = QStringLiteral("ID:2 failed");
        app->postsong();
        const QString shown = QString::fromUtf8(row.shown);
        ASSERT_TRUE(waitUntil([&] {
            return home().LocationName().startsWith(shown) && post().LocationName().startsWith(shown) &&
                   !view(home()).page()->isLoading() && !view(post()).page()->isLoading();
        })) << home().LocationName().left(80).toStdString()
            << " | " << post().LocationName().left(80).toStdString();
        // The page before may have been a protocol page; from here on only the new one counts.
        app->state().loginState = 0;
        // Let the loader poll the titles a few times.
        waitUntil([] { return false; }, 200);
        EXPECT_EQ(app->state().loginState, 0);
        EXPECT_EQ(app->state().lastPostTitle, QStringLiteral("Posted ID:1"));
        EXPECT_TRUE(loader().isVisible());
    }
}

TEST_F(Web, ASlowServiceBringsTheNoticeAfterTenSeconds)
{
    service.hangAnswers();
    startUp();
    EXPECT_FALSE(loader().Label1->isVisible());
    ASSERT_TRUE(waitUntil([&] { return loader().Label1->isVisible(); }, 20000));
    EXPECT_TRUE(loader().Label2[6]->isVisible());
    EXPECT_EQ(app->state().loginState, 0);
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
    EXPECT_EQ(app->state().loginState, 0);
    EXPECT_TRUE(loader().isVisible());
}

} // namespace
} // namespace tunalo::test
