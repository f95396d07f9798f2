#include "core/protocoltext.h"
#include "adapters/qt/desktopopen.h"
#include "adapters/webengine/webenginebrowsers.h"
#include "serviceprotocol.h"
#include "support/process.h"
#include "support/standinservice.h"

#include <QDir>
#include <QFile>
#include <QWebEngineLoadingInfo>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

namespace tunalo::test {
namespace {

using Answer = StandInService::Answer;
using Kind = Answer::Kind;
using Lifecycle = QWebEnginePage::LifecycleState;

const std::string kHome(protocol::kHomePath);
const std::string kPost(protocol::kPostPath);

// Real browsers on the program's engine settings, on a stand-in service.
class BrowserSleep : public ::testing::Test {
protected:
    BrowserSleep()
    {
        service.answer(kPost, {Kind::Page, "Posted ID:{n}"});
        // The window the home browser lives in, of the main window's size.
        window.resize(700, 490);
    }

    Browser& make(QWidget* parent)
    {
        browsers_.push_back(factory.createBrowser(parent));
        Browser& browser = *browsers_.back();
        browser.setLoadListener([this](const LoadResult& result) { loaded = result; });
        return browser;
    }
    QWebEnginePage& page(Browser& browser) { return *qobject_cast<QWebEngineView*>(browser.widget())->page(); }
    QString base() const { return QString::fromStdString(service.base()); }

    // Loads path and waits for its end.
    LoadResult load(Browser& browser, const QString& path)
    {
        loaded.reset();
        browser.Navigate(base() + path);
        EXPECT_TRUE(runUntil([&] { return loaded.has_value(); })) << path.toStdString();
        return loaded.value_or(LoadResult{LoadResult::Outcome::NotReached, -1, QStringLiteral("no end")});
    }
    // Puts browser to sleep and waits until its renderer is gone.
    void sleepAndWait(Browser& browser)
    {
        browser.sleep(base());
        EXPECT_TRUE(browser.isAsleep());
        EXPECT_TRUE(runUntil([&] {
            return page(browser).lifecycleState() == Lifecycle::Discarded && page(browser).renderProcessPid() == 0;
        }));
    }

    // The engine's zygotes: the processes it forks its renderers from, idle while every page sleeps.
    static int zygotes()
    {
        int count = 0;
        const QString parent = QString::number(QCoreApplication::applicationPid());
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile status(QStringLiteral("/proc/%1/status").arg(pid));
            QFile command(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!status.open(QIODevice::ReadOnly) || !command.open(QIODevice::ReadOnly))
                continue;
            const bool child = status.readAll().contains("\nPPid:\t" + parent.toLatin1() + '\n');
            if (child && command.readAll().contains("--type=zygote"))
                ++count;
        }
        return count;
    }

    // Torn down from the last: the browsers and their windows, then their profile, while the
    // service still answers.
    StandInService service;
    WebEngineBrowsers factory;
    QWidget window;
    QWidget hidden;
    std::vector<std::unique_ptr<Browser>> browsers_;
    std::optional<LoadResult> loaded;
};

// A woken page loads again whatever it showed when it went to sleep; were that the last post page,
// each wake would post the song before again.
TEST_F(BrowserSleep, AWokenPostBrowserNeverSendsAnEarlierPostAgain)
{
    Browser& post = make(&hidden);
    std::vector<std::string> sent;
    for (int number = 1; number <= 20; ++number) {
        SCOPED_TRACE(number);
        const std::string song = "Artist - Song " + std::to_string(number);
        sent.push_back(song);
        if (number % 2 == 0)
            post.wake(); // woken first, as before a post, or by the navigation itself
        const LoadResult result =
            load(post, QString::fromStdString(kPost + "?s=") + QString::fromStdString(song).replace(' ', "%20"));
        ASSERT_EQ(result.outcome, LoadResult::Outcome::Loaded) << result.reason.toStdString();
        EXPECT_FALSE(post.isAsleep());
        const std::string title = "Posted ID:" + std::to_string(number);
        EXPECT_EQ(post.LocationName().toStdString(), title);
        sleepAndWait(post);
        EXPECT_NE(post.LocationName().toStdString(), title);
    }
    // The next post may come while the empty page is still loading, as the page starts.
    for (int number = 21; number <= 25; ++number) {
        SCOPED_TRACE(number);
        const std::string song = "Artist - Song " + std::to_string(number);
        sent.push_back(song);
        post.sleep(base());
        loaded.reset();
        QMetaObject::Connection started;
        started = QObject::connect(&page(post), &QWebEnginePage::loadingChanged, [&](const QWebEngineLoadingInfo& info) {
            if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
                return;
            QObject::disconnect(started);
            post.Navigate(base() + QString::fromStdString(kPost + "?s=") + QString::fromStdString(song).replace(' ', "%20"));
        });
        ASSERT_TRUE(runUntil([&] { return loaded.has_value(); })) << "the post's end was told";
        EXPECT_EQ(loaded->outcome, LoadResult::Outcome::Loaded);
        EXPECT_EQ(post.LocationName().toStdString(), "Posted ID:" + std::to_string(number));
    }
    pause(300);
    EXPECT_EQ(service.songs(kPost), sent);
    // Asleep, the engine keeps no more than the one zygote its renderers come from; a second one,
    // for helpers outside the sandbox, would hold megabytes all day for nothing.
    sleepAndWait(post);
    EXPECT_EQ(zygotes(), 1);
}

// The home browser sleeps while its window is hidden and comes back with the log-in of before: the
// cookies outlive the renderer.
TEST_F(BrowserSleep, TheHomeBrowserSleepsHiddenAndWakesWithItsCookies)
{
    StandInService::Answer home(Kind::Page, std::string(protocol::kLoggedInTitle));
    home.setCookie = "tnlo=friend42; Max-Age=3600; Path=/";
    service.answer(kHome, home);
    Browser& browser = make(&window);
    browser.widget()->resize(window.size());
    window.show();
    ASSERT_EQ(load(browser, QString::fromStdString(kHome)).outcome, LoadResult::Outcome::Loaded);

    // On screen a page stays awake: it only shows the empty page.
    browser.sleep(base());
    ASSERT_TRUE(runUntil([&] { return browser.LocationName() != qtText(protocol::kLoggedInTitle); }));
    pause(300);
    EXPECT_EQ(page(browser).lifecycleState(), Lifecycle::Active);

    window.hide();
    browser.sleep(base());
    sleepAndWait(browser);
    EXPECT_EQ(service.requests(kHome).size(), 1u);

    window.show();
    browser.wake();
    ASSERT_EQ(load(browser, QString::fromStdString(kHome)).outcome, LoadResult::Outcome::Loaded);
    EXPECT_EQ(browser.LocationName().toStdString(), protocol::kLoggedInTitle);
    ASSERT_EQ(service.requests(kHome).size(), 2u);
    EXPECT_EQ(service.requests(kHome).back().cookie, "tnlo=friend42");
    EXPECT_EQ(page(browser).lifecycleState(), Lifecycle::Active);
}

// The engine's settings are for the engine: once it has started, the programs Tunalo starts (the
// user's browser, opened on a download page) see the environment the user gave Tunalo.
TEST_F(BrowserSleep, ProgramsStartedAfterTheEngineDoNotInheritItsSettings)
{
    const char* const kEngineVariables[] = {"QT_XCB_GL_INTEGRATION", "QTWEBENGINE_CHROMIUM_FLAGS",
                                            "QTWEBENGINE_DISABLE_SANDBOX"};
    Browser& post = make(&hidden);
    ASSERT_EQ(load(post, QString::fromStdString(kPost + "?s=x")).outcome, LoadResult::Outcome::Loaded);
    // The engine runs with its settings: both pages of the one site share a renderer.
    Browser& other = make(&hidden);
    ASSERT_EQ(load(other, QString::fromStdString(kPost + "?s=y")).outcome, LoadResult::Outcome::Loaded);
    EXPECT_EQ(page(post).renderProcessPid(), page(other).renderProcessPid());

    // xdg-open hands an address it has no handler for to the user's $BROWSER.
    QTemporaryDir folder;
    const QString seen = folder.filePath(QStringLiteral("environment"));
    const QString browserScript = folder.filePath(QStringLiteral("browser"));
    QFile script(browserScript);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nenv > '%1.part' && mv '%1.part' '%1'\n").arg(seen).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("BROWSER", browserScript.toUtf8());
    DesktopShellOpen().open(QStringLiteral("tunalo-environment-check:page"));
    qunsetenv("BROWSER");
    ASSERT_TRUE(runUntil([&] { return QFile::exists(seen); })) << "xdg-open did not start $BROWSER";
    QFile environment(seen);
    ASSERT_TRUE(environment.open(QIODevice::ReadOnly));
    const QByteArray lines = environment.readAll();
    EXPECT_TRUE(lines.contains("BROWSER=")) << "the child's environment was read";
    for (const char* name : kEngineVariables) {
        EXPECT_FALSE(qEnvironmentVariableIsSet(name)) << name;
        EXPECT_FALSE(lines.contains(QByteArray("\n") + name + '=') || lines.startsWith(QByteArray(name) + '='))
            << name;
    }

    // A renderer started afterwards still runs with the engine's settings.
    sleepAndWait(post);
    ASSERT_EQ(load(post, QString::fromStdString(kPost + "?s=z")).outcome, LoadResult::Outcome::Loaded);
    EXPECT_EQ(page(post).renderProcessPid(), page(other).renderProcessPid());
}

} // namespace
} // namespace tunalo::test
