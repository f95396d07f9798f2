#include "adapters/engineprocess/remotebrowsers.h"

#include "adapters/engineprocess/enginechannel.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QResizeEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tunalo {

Q_LOGGING_CATEGORY(lcEngine, "tunalo.engine", QtWarningMsg)

namespace {

using Kind = EngineMessage::Kind;

// An engine that has not answered a stop within this time is stuck (stopped by a signal, say) and
// is ended, so that the next post finds a fresh one.
constexpr int kStopAnswerMs = 5000;
// How long the engine has to write its cookies and end when asked to.
constexpr int kQuitMs = 5000;

const QString kEngineEnded = QStringLiteral("the browser engine ended");

// The place in the program's window where the engine draws a page. It has an X window of its own,
// which the engine's window becomes a child of; the forms around it stay as they are. Qt may give
// it a new X window (when its form moves into another), which the engine is then told of.
class PageHost : public QWidget {
public:
    PageHost(QWidget* parent, std::function<void()> shown, std::function<void(QSize)> resized)
        : QWidget(parent), m_shown(std::move(shown)), m_resized(std::move(resized))
    {
        // The forms beside it stay drawn by Qt alone, without X windows of their own.
        QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
        setAttribute(Qt::WA_NativeWindow);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void showEvent(QShowEvent*) override { m_shown(); }
    void resizeEvent(QResizeEvent* event) override { m_resized(event->size()); }
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::WinIdChange && isVisible())
            m_shown();
        return QWidget::event(event);
    }

private:
    std::function<void()> m_shown;
    std::function<void(QSize)> m_resized;
};

} // namespace

class RemoteBrowser;

// The engine process and the socket to it, shared by every browser of the factory.
class EngineLink {
public:
    EngineLink(QString enginePath, std::chrono::milliseconds grace) : m_enginePath(std::move(enginePath))
    {
        m_grace.setSingleShot(true);
        m_grace.setInterval(grace);
        m_grace.callOnTimeout([this] { quit(); });
        m_stopAnswer.setSingleShot(true);
        m_stopAnswer.setInterval(kStopAnswerMs);
        m_stopAnswer.callOnTimeout([this] {
            qCWarning(lcEngine) << "the browser engine did not answer; it is ended";
            if (m_process)
                m_process->kill();
        });
    }
    ~EngineLink()
    {
        quit();
        if (m_process && !m_process->waitForFinished(kQuitMs))
            m_process->kill();
        m_process.reset();
    }

    std::uint8_t add(RemoteBrowser* browser)
    {
        const auto id = static_cast<std::uint8_t>(m_browsers.size() + 1);
        m_browsers.push_back(browser);
        return id;
    }
    void remove(RemoteBrowser* browser) { std::replace(m_browsers.begin(), m_browsers.end(), browser, static_cast<RemoteBrowser*>(nullptr)); }

    // Sends the message, starting the engine first if it does not run.
    void send(const EngineMessage& message)
    {
        start();
        m_channel->send(message);
        if (message.kind == Kind::Stop)
            m_stopAnswer.start();
    }
    // Sends the message only to an engine that runs already.
    void tell(const EngineMessage& message)
    {
        if (m_channel)
            m_channel->send(message);
    }
    bool running() const { return m_channel != nullptr; }
    int generation() const { return m_starts; }
    qint64 pid() const { return m_process && m_channel ? m_process->processId() : 0; }

    // A browser began or stopped needing a page: with none needed the engine lives out its grace.
    void needChanged();

private:
    void start();
    void quit()
    {
        m_grace.stop();
        if (!m_channel)
            return;
        m_channel->send(engineMessage(Kind::Quit));
        m_channel->flush(kQuitMs);
        // From here on the engine is as good as gone; the next page starts a new one once it has
        // ended.
        m_channel.reset();
        m_quitting = true;
    }
    void received(const EngineMessage& message);
    void ended();

    QString m_enginePath;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<EngineChannel> m_channel;
    std::vector<RemoteBrowser*> m_browsers; // by id - 1; null once gone
    QTimer m_grace;
    QTimer m_stopAnswer;
    int m_starts = 0;
    bool m_quitting = false; // the engine now ending was asked to
    bool m_answered = false; // the engine now running has said anything
};

class RemoteBrowser : public Browser {
public:
    RemoteBrowser(EngineLink& link, QWidget* parent)
        : m_link(link), m_id(link.add(this)),
          m_host(new PageHost(parent, [this] { embedIfShown(); }, [this](QSize size) { resized(size); }))
    {
    }
    ~RemoteBrowser() override
    {
        m_link.remove(this);
        if (m_needed) {
            m_needed = false;
            m_link.needChanged();
        }
    }

    void Navigate(const QString& url) override
    {
        m_asleep = false;
        m_loading = true;
        m_address = url;
        need(true);
        m_link.send(engineMessage(Kind::Navigate, m_id, url, ++m_serial));
        embedIfShown();
    }
    void Stop() override
    {
        if (m_loading)
            m_link.send(engineMessage(Kind::Stop, m_id));
    }
    void sleep(const QString& origin) override
    {
        m_asleep = true;
        m_loading = false;
        m_link.tell(engineMessage(Kind::Sleep, m_id, origin));
        need(false);
    }
    void wake() override
    {
        m_asleep = false;
        need(true);
        m_link.send(engineMessage(Kind::Wake, m_id));
        embedIfShown();
    }
    bool isAsleep() const override { return m_asleep; }
    QString LocationName() const override { return m_title; }
    QWidget* widget() override { return m_host; }
    void setTitleListener(std::function<void()> listener) override { m_titleListener = std::move(listener); }
    void setLoadListener(std::function<void(const LoadResult&)> listener) override
    {
        m_loadListener = std::move(listener);
    }

    bool needed() const { return m_needed; }

    void received(const EngineMessage& message)
    {
        if (message.kind == Kind::Title) {
            if (message.text == m_title)
                return;
            m_title = message.text;
            if (m_titleListener)
                m_titleListener();
        } else if (message.kind == Kind::Loaded && m_loading && message.number == m_serial) {
            m_loading = false;
            report({static_cast<LoadResult::Outcome>(message.first), message.second, message.text});
        }
    }

    // The engine went away. A navigation under way has failed; a page on the screen is loaded again
    // by a new engine, unless the one that ended never said anything, which a new one would not
    // either.
    void engineEnded(bool answered)
    {
        if (std::exchange(m_loading, false))
            return report({LoadResult::Outcome::NotReached, 0, kEngineEnded});
        if (answered && m_needed && m_host && m_host->isVisible() && !m_address.isEmpty())
            Navigate(m_address);
    }

private:
    void need(bool needed)
    {
        if (std::exchange(m_needed, needed) != needed)
            m_link.needChanged();
    }
    void report(const LoadResult& result)
    {
        if (m_loadListener)
            m_loadListener(result);
    }
    // The engine draws the page into the host once it is on the screen; a hidden page (the post
    // page) is never drawn.
    void embedIfShown()
    {
        if (!m_host || !m_host->isVisible() || !m_needed || !m_link.running())
            return;
        const WId window = m_host->winId();
        if (m_embeddedIn == m_link.generation() && m_embeddedWindow == window)
            return;
        m_embeddedIn = m_link.generation();
        m_embeddedWindow = window;
        m_link.tell(engineMessage(Kind::Embed, m_id, {}, window, m_host->width(), m_host->height()));
    }
    void resized(QSize size)
    {
        if (m_embeddedIn == m_link.generation())
            m_link.tell(engineMessage(Kind::Resize, m_id, {}, 0, size.width(), size.height()));
    }

    EngineLink& m_link;
    const std::uint8_t m_id;
    QPointer<PageHost> m_host; // the form owns it
    std::function<void(const LoadResult&)> m_loadListener;
    std::function<void()> m_titleListener;
    QString m_title;
    QString m_address;         // the last navigation's
    quint64 m_serial = 0;      // of the last navigation
    int m_embeddedIn = 0;      // the engine that draws into the host, by generation
    WId m_embeddedWindow = 0;  // the host's X window it draws into
    bool m_asleep = false;
    bool m_needed = false;     // woken or navigated, and not put to sleep since
    bool m_loading = false;    // the last navigation has not ended
};

void EngineLink::needChanged()
{
    const bool needed = std::any_of(m_browsers.begin(), m_browsers.end(),
                                    [](const RemoteBrowser* browser) { return browser && browser->needed(); });
    if (needed)
        m_grace.stop();
    else if (m_channel && !m_grace.isActive())
        m_grace.start();
}

void EngineLink::start()
{
    if (m_channel)
        return;
    if (m_process) {
        // It was asked to end and is on its way; two engines on one profile would fight over it.
        if (!m_process->waitForFinished(kQuitMs))
            m_process->kill();
        m_process->waitForFinished(kQuitMs);
        m_process.reset();
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        qCWarning(lcEngine) << "no socket for the browser engine:" << strerror(errno);
        ends[0] = ends[1] = -1;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    // The news of an engine's end comes through the event loop, when a new engine may run already;
    // it counts only for the engine it is about.
    QProcess* const process = m_process.get();
    QObject::connect(process, &QProcess::finished, process, [this, process] {
        if (process == m_process.get())
            ended();
    }, Qt::QueuedConnection);
    QObject::connect(process, &QProcess::errorOccurred, process, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process == m_process.get()) {
            qCWarning(lcEngine) << "the browser engine did not start:" << process->errorString();
            ended();
        }
    }, Qt::QueuedConnection);
    // The engine starts on the next turn of the event loop, so that a window shown in this one goes
    // to the screen first rather than waiting beside the engine's start for the processor; what is
    // said to the engine meanwhile waits in the socket. Its end is inherited by it alone: it is open
    // across exec only for the moment of the start, and Tunalo starts nothing else meanwhile.
    // The end is closed here once the engine has it, or with the timer should the engine be let go
    // before it started.
    const std::shared_ptr<const int> end(new int(ends[1]), [](const int* fd) {
        if (*fd >= 0)
            close(*fd);
        delete fd;
    });
    QTimer::singleShot(0, process, [process, path = m_enginePath, end] {
        if (*end >= 0)
            fcntl(*end, F_SETFD, 0);
        process->start(path, {QStringLiteral("--socket"), QString::number(*end)});
    });
    ++m_starts;
    m_quitting = false;
    m_answered = false;
    m_channel = std::make_unique<EngineChannel>(
        ends[0], [this](const EngineMessage& message) { received(message); },
        [this] {
            // The engine hung up or talked nonsense: whatever it is doing, it is done.
            if (m_process && m_process->state() != QProcess::NotRunning)
                m_process->kill();
            else
                ended();
        });
    qCDebug(lcEngine) << "starting the browser engine";
}

void EngineLink::received(const EngineMessage& message)
{
    m_answered = true;
    m_stopAnswer.stop();
    if (message.browser >= 1 && message.browser <= m_browsers.size())
        if (RemoteBrowser* browser = m_browsers[message.browser - 1])
            browser->received(message);
}

void EngineLink::ended()
{
    if (!m_channel && !m_process)
        return;
    const bool answered = m_answered;
    const bool asked = m_quitting;
    qCDebug(lcEngine) << "the browser engine ended" << (asked ? "as asked" : "unasked");
    m_grace.stop();
    m_stopAnswer.stop();
    m_channel.reset();
    if (m_process) {
        m_process->disconnect();
        m_process.release()->deleteLater();
    }
    if (asked)
        return;
    // The browsers may start the next engine at once; the list is copied, as a listener may make or
    // let go of browsers.
    const std::vector<RemoteBrowser*> browsers = m_browsers;
    for (RemoteBrowser* browser : browsers)
        if (browser && std::find(m_browsers.begin(), m_browsers.end(), browser) != m_browsers.end())
            browser->engineEnded(answered);
    needChanged();
}

RemoteBrowsers::RemoteBrowsers(QString enginePath, std::chrono::milliseconds grace)
{
    if (enginePath.isEmpty())
        enginePath = QCoreApplication::applicationDirPath() + QStringLiteral("/tunalo-engine");
    m_link = std::make_unique<EngineLink>(std::move(enginePath), grace);
}

RemoteBrowsers::~RemoteBrowsers() = default;

std::unique_ptr<Browser> RemoteBrowsers::createBrowser(QWidget* parent)
{
    return std::make_unique<RemoteBrowser>(*m_link, parent);
}

qint64 RemoteBrowsers::enginePid() const
{
    return m_link->pid();
}

int RemoteBrowsers::engineStarts() const
{
    return m_link->generation();
}

} // namespace tunalo
