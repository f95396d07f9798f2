#include "platform/qt/trayshell.h"

#include <QCursor>
#include <QEvent>
#include <QMenu>

#include <algorithm>
#include <iterator>
#include <limits>

namespace tunalo {

namespace {

// A desktop that shows balloons passes for an NT-family 6.1; one without for NT 4.0, which makes
// the component take the short record without balloons.
constexpr std::uint32_t kVersionWithBalloons = 0x0106;
constexpr std::uint32_t kVersionWithoutBalloons = 0x0004;

constexpr HICON kFirstIconHandle = 0x3001;

QSystemTrayIcon::MessageIcon messageIcon(std::uint32_t dwInfoFlags)
{
    // The flags above the low four bits (no sound and the like) have no meaning here.
    switch (dwInfoFlags & 0x0F) {
    case 1:
        return QSystemTrayIcon::Information;
    case 2:
        return QSystemTrayIcon::Warning;
    case 3:
        return QSystemTrayIcon::Critical;
    default:
        return QSystemTrayIcon::NoIcon;
    }
}

} // namespace

// Only what cbSize announces is read: the older shape has a short tip and no balloon.
template <typename Record> QtTrayShell::Update QtTrayShell::read(const Record& record, std::uint32_t fullSize)
{
    const bool full = record.cbSize >= fullSize;
    return {{record.hWnd, record.uID},
            record.uFlags,
            record.uCallbackMessage,
            record.hIcon,
            recordText(record.szTip, full ? std::size(record.szTip) : kNotifyIconOldTipLength),
            full,
            recordText(record.szInfo, std::size(record.szInfo)),
            recordText(record.szInfoTitle, std::size(record.szInfoTitle)),
            record.uTimeout,
            record.dwInfoFlags};
}

struct QtTrayShell::Icon {
    IconKey key;
    std::uint32_t uCallbackMessage = 0;
    std::unique_ptr<QSystemTrayIcon> tray = std::make_unique<QSystemTrayIcon>();
    // Runs out with the balloon on screen, which closes itself at the same time.
    QTimer balloonTimeOut;
    // A balloon click that may still turn out to be a click on the icon.
    bool clickPending = false;
};

QtTrayShell::QtTrayShell()
{
    m_retry.setInterval(kRetryIntervalMs);
    connect(&m_retry, &QTimer::timeout, this, &QtTrayShell::retryShowing);
}

QtTrayShell::~QtTrayShell()
{
    closeMenu();
    m_icons.clear();
}

HWND QtTrayShell::createHiddenWindow(Listener listener)
{
    const HWND hWnd = ++m_nextWindow;
    m_windows.emplace(hWnd, std::move(listener));
    return hWnd;
}

void QtTrayShell::destroyHiddenWindow(HWND hWnd)
{
    m_windows.erase(hWnd);
    std::erase_if(m_icons, [hWnd](const auto& entry) { return entry.first.first == hWnd; });
}

bool QtTrayShell::Shell_NotifyIconW(std::uint32_t dwMessage, NOTIFYICONDATAW* lpData)
{
    return notify(dwMessage, read(*lpData, kNotifyIconSizeW));
}

bool QtTrayShell::Shell_NotifyIconA(std::uint32_t dwMessage, NOTIFYICONDATAA* lpData)
{
    return notify(dwMessage, read(*lpData, kNotifyIconSizeA));
}

bool QtTrayShell::notify(std::uint32_t dwMessage, const Update& update)
{
    const auto found = m_icons.find(update.key);
    switch (dwMessage) {
    case NIM_ADD: {
        if (found != m_icons.end() || !m_windows.contains(update.key.first))
            return false;
        auto icon = std::make_unique<Icon>();
        icon->key = update.key;
        Icon& added = *icon;
        m_icons.emplace(update.key, std::move(icon));
        connect(added.tray.get(), &QSystemTrayIcon::activated, added.tray.get(),
                [this, &added](QSystemTrayIcon::ActivationReason reason) { onActivated(added, reason); });
        connect(added.tray.get(), &QSystemTrayIcon::messageClicked, added.tray.get(),
                [this, &added] { onMessageClicked(added); });
        added.tray->installEventFilter(this);
        added.balloonTimeOut.setSingleShot(true);
        connect(&added.balloonTimeOut, &QTimer::timeout, added.tray.get(),
                [this, &added] { post(added.key, {NIN_BALLOONTIMEOUT}); });
        apply(added, update);
        // Qt looks for the notification area only when an icon is shown, so showing waits for one.
        if (hasNotificationArea()) {
            added.tray->show();
        } else if (!m_retry.isActive()) {
            m_retriesLeft = kRetryCount;
            m_retry.start();
        }
        return true;
    }
    case NIM_MODIFY:
        if (found == m_icons.end())
            return false;
        apply(*found->second, update);
        return true;
    case NIM_DELETE:
        if (found == m_icons.end())
            return false;
        m_icons.erase(found);
        return true;
    case NIM_SETVERSION:
        // Every icon here already behaves as the version-3 icons do.
        return found != m_icons.end() && update.balloons;
    default:
        return false;
    }
}

void QtTrayShell::apply(Icon& icon, const Update& update)
{
    if (update.uFlags & NIF_MESSAGE)
        icon.uCallbackMessage = update.uCallbackMessage;
    if (update.uFlags & NIF_ICON)
        icon.tray->setIcon(iconFor(update.hIcon));
    if (update.uFlags & NIF_TIP)
        icon.tray->setToolTip(update.tip);
    if ((update.uFlags & NIF_INFO) && update.balloons)
        showBalloon(icon, update);
}

void QtTrayShell::showBalloon(Icon& icon, const Update& update)
{
    // A balloon needs an icon on screen to point at; an empty message shows none.
    if (!icon.tray->isVisible() || update.info.isEmpty())
        return;
    const int timeOut =
        static_cast<int>(std::min<std::uint32_t>(update.uTimeout, std::numeric_limits<int>::max()));
    icon.tray->showMessage(update.infoTitle, update.info, messageIcon(update.dwInfoFlags), timeOut);
    icon.clickPending = false;
    icon.balloonTimeOut.stop();
    if (timeOut > 0)
        icon.balloonTimeOut.start(timeOut);
    post(icon.key, {NIN_BALLOONSHOW});
}

void QtTrayShell::onActivated(Icon& icon, QSystemTrayIcon::ActivationReason reason)
{
    // Qt reports a press on the icon while a balloon shows as a click on the balloon too, just
    // before the activation: it only closed the balloon.
    if (icon.clickPending) {
        icon.clickPending = false;
        icon.balloonTimeOut.stop();
        post(icon.key, {NIN_BALLOONHIDE});
    }
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        post(icon.key, {WM_LBUTTONDOWN, WM_LBUTTONUP});
        break;
    case QSystemTrayIcon::DoubleClick:
        post(icon.key, {WM_LBUTTONDBLCLK});
        break;
    case QSystemTrayIcon::Context:
        post(icon.key, {WM_RBUTTONDOWN, WM_RBUTTONUP});
        break;
    case QSystemTrayIcon::MiddleClick:
        post(icon.key, {WM_MBUTTONDOWN, WM_MBUTTONUP});
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
}

void QtTrayShell::onMessageClicked(Icon& icon)
{
    icon.clickPending = true;
    const IconKey key = icon.key;
    QMetaObject::invokeMethod(
        this,
        [this, key] {
            const auto found = m_icons.find(key);
            if (found == m_icons.end() || !found->second->clickPending)
                return;
            found->second->clickPending = false;
            found->second->balloonTimeOut.stop();
            deliver(key, NIN_BALLOONUSERCLICK);
        },
        Qt::QueuedConnection);
}

void QtTrayShell::post(const IconKey& key, std::initializer_list<std::uint32_t> codes)
{
    for (const std::uint32_t code : codes)
        QMetaObject::invokeMethod(
            this, [this, key, code] { deliver(key, code); }, Qt::QueuedConnection);
}

void QtTrayShell::deliver(const IconKey& key, std::uint32_t code)
{
    // The icon or its window may have gone since the notification was posted.
    const auto icon = m_icons.find(key);
    const auto window = m_windows.find(key.first);
    if (icon == m_icons.end() || window == m_windows.end() || icon->second->uCallbackMessage == 0)
        return;
    const Listener listener = window->second; // the listener may destroy its own window
    listener(icon->second->uCallbackMessage, code);
}

void QtTrayShell::retryShowing()
{
    if (hasNotificationArea()) {
        m_retry.stop();
        for (auto& [key, icon] : m_icons)
            icon->tray->show();
    } else if (--m_retriesLeft <= 0) {
        m_retry.stop();
    }
}

bool QtTrayShell::eventFilter(QObject* watched, QEvent* event)
{
    // Qt tells an icon only that the pointer rests on it (to show its tip); that stands for the
    // pointer moving over it.
    if (event->type() == QEvent::ToolTip)
        for (const auto& [key, icon] : m_icons)
            if (icon->tray.get() == watched)
                post(key, {WM_MOUSEMOVE});
    return QObject::eventFilter(watched, event);
}

std::uint32_t QtTrayShell::GetVersion()
{
    return QSystemTrayIcon::supportsMessages() ? kVersionWithBalloons : kVersionWithoutBalloons;
}

bool QtTrayShell::SetForegroundWindow(HWND hWnd)
{
    // The popup menu takes the pointer and keyboard itself; there is nothing to raise.
    return m_windows.contains(hWnd);
}

void QtTrayShell::PopupMenu(const std::vector<MenuEntry>& items, int defaultItem,
                            std::function<void(int)> chosen)
{
    closeMenu();
    auto* menu = new QMenu; // a popup of its own; it deletes itself once it has closed
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    for (std::size_t index = 0; index < items.size(); ++index) {
        const MenuEntry& entry = items[index];
        QAction* action =
            entry.caption == QLatin1String("-") ? menu->addSeparator() : menu->addAction(entry.caption);
        action->setEnabled(entry.enabled);
        action->setVisible(entry.visible);
        if (static_cast<int>(index) == defaultItem) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
            menu->setDefaultAction(action);
        }
        // The choice is reported once the menu has gone, from the event loop.
        connect(action, &QAction::triggered, this, [this, chosen, index] {
            QMetaObject::invokeMethod(
                this, [chosen, index] { chosen(static_cast<int>(index)); }, Qt::QueuedConnection);
        });
    }
    m_menu = menu;
    menu->popup(QCursor::pos());
}

void QtTrayShell::closeMenu()
{
    if (m_menu) {
        delete m_menu.data();
    }
}

HICON QtTrayShell::registerIcon(const QIcon& icon)
{
    m_registry.push_back(icon);
    return kFirstIconHandle + static_cast<HICON>(m_registry.size() - 1);
}

QIcon QtTrayShell::iconFor(HICON hIcon) const
{
    const std::size_t index = hIcon - kFirstIconHandle;
    return hIcon >= kFirstIconHandle && index < m_registry.size() ? m_registry[index] : QIcon();
}

bool QtTrayShell::hasNotificationArea() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

std::vector<QSystemTrayIcon*> QtTrayShell::trayIcons() const
{
    std::vector<QSystemTrayIcon*> icons;
    for (const auto& [key, icon] : m_icons)
        icons.push_back(icon->tray.get());
    return icons;
}

} // namespace tunalo
