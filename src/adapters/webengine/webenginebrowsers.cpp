#include "adapters/webengine/webenginebrowsers.h"

#include <QDir>
#include <QLoggingCategory>
#include <QNetworkProxyFactory>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tunalo {

Q_LOGGING_CATEGORY(lcWeb, "tunalo.web", QtWarningMsg)

namespace {

// Why the engine reached no page, in the words a person reads; the engine's own otherwise.
QString unreachedCause(const QWebEngineLoadingInfo& info)
{
    if (info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain)
        return QStringLiteral("certificate refused");
    if (info.errorDomain() == QWebEngineLoadingInfo::ConnectionErrorDomain) {
        // The engine's network error numbers.
        switch (std::abs(info.errorCode())) {
        case 102:
            return QStringLiteral("connection refused");
        case 105: // the name does not resolve
        case 137: // no answer from the name server
            return QStringLiteral("name not found");
        case 7:
        case 118:
            return QStringLiteral("time-out");
        default:
            break;
        }
    }
    return info.errorString();
}

const QString kProfileName = QStringLiteral("tunalo");

// The engine ends a discarded page's renderer and frees what it kept for it within this time.
constexpr std::chrono::milliseconds kHeapTrimDelay{2000};

// A page that keeps the scripts' console to itself: the program is quiet by default, and the engine's
// own error pages write to the console too.
class QuietPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override
    {
    }
};

class WebEngineBrowser : public Browser {
public:
    WebEngineBrowser(QWebEngineProfile& profile, QWidget* parent, QTimer& heapTrim)
        : m_view(new QWebEngineView(parent)), m_heapTrim(heapTrim)
    {
        // The page belongs to the view, which belongs to the form.
        m_view->setPage(new QuietPage(&profile, m_view));
        QObject::connect(m_view->page(), &QWebEnginePage::loadingChanged, &m_listening,
                         [this](const QWebEngineLoadingInfo& info) {
                             const auto result = ended(info);
                             if (result && m_loadListener)
                                 m_loadListener(*result);
                         });
        // A page without a title shows its address as its title, so both changes count. The
        // listener is the latest one set; an empty one hears nothing.
        const auto titleMayHaveChanged = [this] {
            if (m_titleListener)
                m_titleListener();
        };
        QObject::connect(m_view, &QWebEngineView::titleChanged, &m_listening, titleMayHaveChanged);
        QObject::connect(m_view, &QWebEngineView::urlChanged, &m_listening, titleMayHaveChanged);
    }

    void Navigate(const QString& url) override
    {
        // A navigation that wakes the page, or replaces its empty page still loading, may have its
        // start merged into the empty page's; the engine then tells only its end.
        m_startMayGoUntold =
            m_blankLoading || m_view->page()->lifecycleState() != QWebEnginePage::LifecycleState::Active;
        wake();
        // Whatever the page did so far belongs to the navigation this one replaces.
        m_awaitingStart = true;
        m_loading = false;
        m_view->load(QUrl(url));
    }
    void Stop() override { m_view->stop(); }
    // A sleeping page is loaded again when it wakes, from the address it showed last. That must
    // never be the last post page, or waking would post its song again; so the page first shows
    // an empty page of the service's own origin, and goes to sleep once that is in: a page put to
    // sleep before would still have the earlier address to load.
    void sleep(const QString& origin) override
    {
        m_asleep = true;
        m_awaitingStart = false;
        m_loading = false;
        m_blankUrl = QUrl(origin + QLatin1Char('/'));
        // Over a navigation still under way the engine may tell only the empty page's end.
        m_blankLoading = true;
        m_view->setHtml(QString(), m_blankUrl);
    }
    void wake() override
    {
        m_asleep = false;
        QWebEnginePage* page = m_view->page();
        if (page->lifecycleState() != QWebEnginePage::LifecycleState::Active)
            page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
    }
    bool isAsleep() const override { return m_asleep; }
    QString LocationName() const override { return m_view->title(); }
    QWidget* widget() override { return m_view; }
    void setTitleListener(std::function<void()> listener) override
    {
        m_titleListener = std::move(listener);
    }
    void setLoadListener(std::function<void(const LoadResult&)> listener) override
    {
        m_loadListener = std::move(listener);
    }

private:
    // The end of the newest navigation, once; the news of one it replaced, of the engine's own
    // error page shown after a failure, or of the empty page of sleep, is nothing.
    std::optional<LoadResult> ended(const QWebEngineLoadingInfo& info)
    {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            if (info.url().scheme() == QLatin1String("data")) {
                // The empty page of sleep, or, on waking, the same page loaded again.
                m_blankLoading = true;
                m_loading = m_loading || m_awaitingStart;
                return std::nullopt;
            }
            m_blankLoading = false;
            m_loading = m_awaitingStart && !info.isErrorPage();
            m_awaitingStart = false;
            return std::nullopt;
        }
        const bool overBlank = std::exchange(m_blankLoading, false);
        if (overBlank && info.url() == m_blankUrl) {
            blankShown();
            return std::nullopt;
        }
        if (!m_loading && !(m_startMayGoUntold && m_awaitingStart))
            return std::nullopt;
        m_loading = false;
        m_awaitingStart = false;
        m_startMayGoUntold = false;
        qCDebug(lcWeb) << "loaded" << info.status() << info.errorDomain() << info.errorCode()
                       << info.url().path();
        if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
            return LoadResult{};
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
            return LoadResult{LoadResult::Outcome::HttpError, info.errorCode(), info.errorString()};
        return LoadResult{LoadResult::Outcome::NotReached, info.errorCode(),
                          info.status() == QWebEngineLoadingInfo::LoadStoppedStatus
                              ? QStringLiteral("stopped")
                              : unreachedCause(info)};
    }

    // The empty page is in: a page that should sleep and is not on screen lets its renderer go, and
    // what the engine held for it goes back to the system once it has let go.
    void blankShown()
    {
        QWebEnginePage* page = m_view->page();
        if (m_asleep && !page->isVisible()) {
            page->setLifecycleState(QWebEnginePage::LifecycleState::Discarded);
            m_heapTrim.start();
        }
    }

    QWebEngineView* m_view;
    QTimer& m_heapTrim;
    std::function<void(const LoadResult&)> m_loadListener;
    std::function<void()> m_titleListener;
    // The view belongs to the form and outlives this object by a moment; what it reports then
    // reaches nobody, as the connections end with this.
    QObject m_listening;
    bool m_awaitingStart = false; // a navigation was asked for and has not started yet
    bool m_loading = false;       // the newest navigation started and has not ended
    bool m_asleep = false;        // between sleep and the next wake
    bool m_blankLoading = false;  // the empty page of sleep started loading and has not ended
    bool m_startMayGoUntold = false; // the newest navigation may end without a start told
    QUrl m_blankUrl;              // where the empty page of sleep says it comes from
};

QString userFolder(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location) + QStringLiteral("/tunalo/browser");
}

void addChromiumFlag(QByteArray& flags, const QByteArray& flag)
{
    if (flags.split(' ').contains(flag))
        return;
    if (!flags.isEmpty())
        flags += ' ';
    flags += flag;
}

// What Qt and the engine say at start when they find no OpenGL, which the program leaves out on
// purpose; the program keeps no log.
bool isOpenGlProbe(QtMsgType type, const QString& message)
{
    static const QLatin1String kProbes[] = {
        QLatin1String("QXcbIntegration: Cannot create platform OpenGL context"),
        QLatin1String("No suitable graphics backend found"),
    };
    return type == QtWarningMsg &&
           std::any_of(std::begin(kProbes), std::end(kProbes),
                       [&](QLatin1String probe) { return message.startsWith(probe); });
}

// What the user had in each environment variable the program set for Qt and the engine: unset, or
// a value.
struct UserValue {
    const char* name;
    std::optional<QByteArray> value;
};
std::vector<UserValue> g_userValues;

// Sets name for Qt and the engine, remembering the user's own value the first time.
void setForEngine(const char* name, const QByteArray& value)
{
    const auto known = std::find_if(g_userValues.begin(), g_userValues.end(),
                                    [name](const UserValue& user) { return qstrcmp(user.name, name) == 0; });
    if (known == g_userValues.end())
        g_userValues.push_back({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
    qputenv(name, value);
}

// Qt's X11 plug-in and the engine have read their settings: the environment is the user's again,
// for the programs Tunalo starts (the user's own browser, opened on a download page or a help link).
void restoreUserEnvironment()
{
    for (const UserValue& user : g_userValues) {
        if (user.value)
            qputenv(user.name, *user.value);
        else
            qunsetenv(user.name);
    }
    g_userValues.clear();
}

// The handler before ours; Qt hands back its own default one when there was none.
QtMessageHandler g_nextHandler = nullptr;

void quietOpenGlProbes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!isOpenGlProbe(type, message) && g_nextHandler)
        g_nextHandler(type, context, message);
}

} // namespace

void prepareWebEngineApplication()
{
    // The engine's sandbox cannot run as root; only then does it go.
    if (geteuid() == 0)
        setForEngine("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Without an OpenGL integration no GL driver is loaded: on a machine without a GPU that is
    // Mesa's software rasterizer with its compiler, tens of megabytes for a context nothing draws
    // with. A user's own choice stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        setForEngine("QT_XCB_GL_INTEGRATION", "none");
    g_nextHandler = qInstallMessageHandler(quietOpenGlProbes);
}

void prepareWebEngineEnvironment()
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    addChromiumFlag(flags, "--disable-gpu");
    // Both browsers show pages of the one service, so they share one renderer process.
    addChromiumFlag(flags, "--process-per-site");
    // The engine keeps a second zygote for helper processes that run outside the sandbox; these
    // pages need none (the GPU is off, the network runs in this process), and it holds 8 MB of its
    // own all day. Such a helper, should one be needed, is started on its own.
    addChromiumFlag(flags, "--no-unsandboxed-zygote");
    setForEngine("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    // The pages are drawn into the window by the CPU, as the engine draws them without a GPU. (Qt
    // takes the choice once; a later profile finds it made.)
    if (QQuickWindow::sceneGraphBackend() != QLatin1String("software"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // The engine describes its set-up on stderr at start; the program is quiet by default. QT_LOGGING_RULES
    // still brings it back.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

// The memory a program frees stays with it in the C library's heap, at hand for the next
// allocation, unless it is handed back. A page that went to sleep freed megabytes (its renderer's
// share of the engine, and with the main window hidden, the window's pictures), which the program
// then holds for nothing until the page wakes; so after the last page fell asleep the heap is
// trimmed. Posts in quick succession trim once, when they are done.
WebEngineBrowsers::WebEngineBrowsers()
{
    m_heapTrim.setSingleShot(true);
    m_heapTrim.setInterval(kHeapTrimDelay);
    m_heapTrim.callOnTimeout([] {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    });
}

WebEngineBrowsers::~WebEngineBrowsers() = default;

QString WebEngineBrowsers::storageFolder()
{
    return userFolder(QStandardPaths::GenericDataLocation);
}

QWebEngineProfile& WebEngineBrowsers::sharedProfile()
{
    if (!m_profile) {
        prepareWebEngineEnvironment();
        // The system's proxy settings apply, as in the user's own browser.
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        QDir().mkpath(storageFolder());
        m_profile = std::make_unique<QWebEngineProfile>(kProfileName);
        // The engine started with the profile; its renderers take its settings from it, not from
        // the environment.
        restoreUserEnvironment();
        m_profile->setPersistentStoragePath(storageFolder());
        m_profile->setCachePath(userFolder(QStandardPaths::GenericCacheLocation));
    }
    return *m_profile;
}

std::unique_ptr<Browser> WebEngineBrowsers::createBrowser(QWidget* parent)
{
    return std::make_unique<WebEngineBrowser>(sharedProfile(), parent, m_heapTrim);
}

} // namespace tunalo
