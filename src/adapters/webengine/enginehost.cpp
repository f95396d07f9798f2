#include "adapters/webengine/enginehost.h"

#include "adapters/engineprocess/enginechannel.h"
#include "adapters/webengine/webenginebrowsers.h"

#include <QApplication>
#include <QEvent>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <map>
#include <memory>

#include <fcntl.h>

namespace tunalo {

namespace {

using Kind = EngineMessage::Kind;

// A click into a page shown in the program's window gives the page the keyboard: the window
// manager gives it to the program's window, of which the page's window is only a part.
class FocusOnClick : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            if (auto* widget = qobject_cast<QWidget*>(watched); widget && !widget->window()->isActiveWindow())
                widget->window()->activateWindow();
        }
        return false;
    }
};

// One of the program's browsers: a window of its own that holds the page, drawn into the
// program's window once that asks for it.
struct Page {
    std::unique_ptr<QWindow> host; // the program's window, once the page is shown in it
    std::unique_ptr<QWidget> window;
    std::unique_ptr<Browser> browser;
    quint64 serial = 0;
};

class EngineHost {
public:
    explicit EngineHost(int descriptor)
        : m_channel(descriptor, [this](const EngineMessage& message) { received(message); },
                    [] { QCoreApplication::exit(0); })
    {
        qApp->installEventFilter(&m_focusOnClick);
    }
    ~EngineHost()
    {
        // The pages go before the profile that the factory keeps.
        m_pages.clear();
    }

private:
    Page& page(std::uint8_t id)
    {
        auto found = m_pages.find(id);
        if (found != m_pages.end())
            return found->second;
        Page& made = m_pages[id];
        made.browser = m_browsers.createBrowser(nullptr);
        holdView(made);
        Browser& browser = *made.browser;
        browser.setTitleListener(
            [this, id, &browser] { m_channel.send(engineMessage(Kind::Title, id, browser.LocationName())); });
        browser.setLoadListener([this, id, &made](const LoadResult& result) {
            // The title first: the program reads it as soon as it hears of the end.
            m_channel.send(engineMessage(Kind::Title, id, made.browser->LocationName()));
            m_channel.send(engineMessage(Kind::Loaded, id, result.reason, made.serial,
                                          static_cast<std::int32_t>(result.outcome), result.code));
        });
        return made;
    }

    // Puts the page into a fresh window of its own; the one it was in before goes.
    static void holdView(Page& page)
    {
        auto window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(page.browser->widget());
        page.window = std::move(window);
    }

    static void showIfEmbedded(Page& page)
    {
        if (page.host)
            page.window->show();
    }

    void received(const EngineMessage& message)
    {
        // Straight out of the event loop: a plain quit would first close the windows, and one whose
        // X window went with the program's may refuse.
        if (message.kind == Kind::Quit) {
            QCoreApplication::exit(0);
            return;
        }
        // A page this engine never showed has nothing to stop, size or put to sleep.
        const bool known = m_pages.contains(message.browser);
        if (!known && (message.kind == Kind::Stop || message.kind == Kind::Sleep || message.kind == Kind::Resize))
            return;
        Page& target = page(message.browser);
        switch (message.kind) {
        case Kind::Navigate:
            target.serial = message.number;
            showIfEmbedded(target);
            target.browser->Navigate(message.text);
            break;
        case Kind::Stop:
            target.browser->Stop();
            break;
        case Kind::Sleep:
            // A page on the screen stays awake; the program's window is closed by now.
            target.window->hide();
            target.browser->sleep(message.text);
            break;
        case Kind::Wake:
            target.browser->wake();
            showIfEmbedded(target);
            break;
        case Kind::Embed:
            embed(target, message);
            break;
        case Kind::Resize:
            target.window->resize(message.first, message.second);
            break;
        default:
            break;
        }
    }

    // The program's X window may be new, and the one the page was drawn into before gone with its
    // children, so the page moves into a window made anew for it.
    static void embed(Page& page, const EngineMessage& message)
    {
        holdView(page);
        page.host.reset(QWindow::fromWinId(static_cast<WId>(message.number)));
        page.window->setAttribute(Qt::WA_NativeWindow);
        page.window->winId();
        page.window->windowHandle()->setParent(page.host.get());
        page.window->setGeometry(0, 0, message.first, message.second);
        page.window->show();
    }

    WebEngineBrowsers m_browsers;
    FocusOnClick m_focusOnClick;
    std::map<std::uint8_t, Page> m_pages;
    EngineChannel m_channel;
};

int socketFrom(const QStringList& arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--socket"));
    bool number = false;
    const int descriptor = at >= 0 && at + 1 < arguments.size() ? arguments[at + 1].toInt(&number) : -1;
    return number ? descriptor : -1;
}

} // namespace

int runEngine(int argc, char* argv[])
{
    prepareWebEngineApplication();
    // The pages are drawn into the program's X11 window, so the engine runs on X11 as the program does.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tunalo"));
    QApplication::setQuitOnLastWindowClosed(false);
    const int descriptor = socketFrom(QApplication::arguments());
    if (descriptor < 0) {
        std::fprintf(stderr, "tunalo-engine: Tunalo starts this program itself, with --socket N\n");
        return 2;
    }
    // The engine's own helper processes (the zygote, the renderers) have no business with it.
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    EngineHost host(descriptor);
    return QApplication::exec();
}

} // namespace tunalo
