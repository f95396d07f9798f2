#include "adapters/qt/trayshell.h"

#include "adapters/dbus/notifications.h"
#include "adapters/dbus/statusnotifier.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QPixmapCache>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>

namespace tunalo {

namespace {

// Qt's balloon is a new window each time, with a palette and an icon of its own, and the style keeps
// what it draws for it in the program's picture cache under keys that name them: no later balloon
// finds those pictures, and with a song every few minutes all day they would pile up to the cache's
// limit of 10 MB. So the cache is emptied before a balloon comes and when it has had its time.
void forgetBalloonPictures()
{
    QPixmapCache::clear();
}

// The desktop passes for an NT-family 6.1, which shows balloons: its notification server does, and
// Qt draws its own where none exists.
constexpr std::uint32_t kVersionWithBalloons = 0x0106;

// The size of the picture a notification server gets with a balloon.
constexpr int kBalloonPictureSize = 64;

constexpr HICON kFirstIconHandle = 0x3001;

// What a notification server heads the balloons with where it finds no desktop entry for the
// program (run from the build, say); the entry and the icon are named by the application's name.
const QString kBalloonSender = QStringLiteral("Tunalo");

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

// Fills a menu with the items as the shell draws them; chosen runs from the event loop, after the
// choice has closed the menu.
void fillMenu(QMenu& menu, const std::vector<MenuEntry>& items, int defaultItem,
              const std::function<void(int)>& chosen, QObject* receiver)
{
    for (std::size_t index = 0; index < items.size(); ++index) {
        const MenuEntry& entry = items[index];
        QAction* action =
            entry.caption == QLatin1String("-") ? menu.addSeparator() : menu.addAction(entry.caption);
        action->setEnabled(entry.enabled);
        action->setVisible(entry.visible);
        if (static_cast<int>(index) == defaultItem) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
            menu.setDefaultAction(action);
        }
        QObject::connect(action, &QAction::triggered, receiver, [receiver, chosen, index] {
            QMetaObject::invokeMethod(
                receiver, [chosen, index] { chosen(static_cast<int>(index)); }, Qt::QueuedConnection);
        });
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
    QIcon picture;
    QString tip;
    // Qt's icon, made once a notification area is there.
    std::unique_ptr<QSystemTrayIcon> tray;
    // The balloons the notification server shows, made for the first of them.
    std::unique_ptr<NotificationBalloon> balloon;
    // Runs out with Qt's balloon on screen, which closes itself at the same time.
    QTimer balloonTimeOut;
    // A click on Qt's balloon that may still turn out to be a click on the icon.
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
    m_iconMenus.clear();
    if (m_x)
        xcb_disconnect(m_x);
}

QDBusConnection QtTrayShell::bus() const
{
    return QDBusConnection::sessionBus();
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
    m_iconMenus.erase(hWnd);
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
        added.balloonTimeOut.setSingleShot(true);
        connect(&added.balloonTimeOut, &QTimer::timeout, &added.balloonTimeOut, [this, key = added.key] {
            forgetBalloonPictures();
            post(key, {NIN_BALLOONTIMEOUT});
        });
        apply(added, update);
        if (hasNotificationArea()) {
            dock(added);
        } else {
            // Looked for again every second for a while, and whenever a StatusNotifier watcher
            // comes onto the bus.
            if (!m_watcher && bus().isConnected()) {
                m_watcher = std::make_unique<QDBusServiceWatcher>(
                    QString::fromLatin1(kStatusNotifierWatcher), bus(),
                    QDBusServiceWatcher::WatchForRegistration);
                connect(m_watcher.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] {
                    m_retriesLeft = kRetryCount;
                    m_retry.start();
                });
            }
            if (!m_retry.isActive()) {
                m_retriesLeft = kRetryCount;
                m_retry.start();
            }
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

void QtTrayShell::dock(Icon& icon)
{
    if (icon.tray)
        return;
    // Qt decides with its first icon, the same way.
    if (m_area == Area::Undecided)
        m_area = statusNotifierHostRegistered(bus()) ? Area::StatusNotifier : Area::XEmbed;
    icon.tray = std::make_unique<QSystemTrayIcon>();
    QSystemTrayIcon* tray = icon.tray.get();
    connect(tray, &QSystemTrayIcon::activated, tray,
            [this, &icon](QSystemTrayIcon::ActivationReason reason) { onActivated(icon, reason); });
    // Qt takes any click the notification server reports for a balloon of its own; its balloons
    // are used only in an XEmbed area.
    if (m_area == Area::XEmbed)
        connect(tray, &QSystemTrayIcon::messageClicked, tray, [this, &icon] { onMessageClicked(icon); });
    tray->installEventFilter(this);
    tray->setIcon(icon.picture);
    tray->setToolTip(icon.tip);
    offerMenu(icon);
    tray->show();
}

void QtTrayShell::offerMenu(Icon& icon)
{
    // An XEmbed area leaves the menu to the program, which pops it up on a right click.
    const auto menu = m_iconMenus.find(icon.key.first);
    if (icon.tray && m_area == Area::StatusNotifier && menu != m_iconMenus.end())
        icon.tray->setContextMenu(menu->second.get());
}

void QtTrayShell::setIconMenu(HWND hWnd, const std::vector<MenuEntry>& items, int defaultItem,
                              std::function<void(int)> chosen)
{
    if (!m_windows.contains(hWnd))
        return;
    std::unique_ptr<QMenu>& menu = m_iconMenus[hWnd];
    if (!menu)
        menu = std::make_unique<QMenu>();
    // The same menu, refilled: the host that shows it is told of the new layout.
    menu->clear();
    fillMenu(*menu, items, defaultItem, chosen, this);
    for (auto& [key, icon] : m_icons)
        if (key.first == hWnd)
            offerMenu(*icon);
}

void QtTrayShell::apply(Icon& icon, const Update& update)
{
    if (update.uFlags & NIF_MESSAGE)
        icon.uCallbackMessage = update.uCallbackMessage;
    if (update.uFlags & NIF_ICON) {
        icon.picture = iconFor(update.hIcon);
        if (icon.tray)
            icon.tray->setIcon(icon.picture);
    }
    if (update.uFlags & NIF_TIP) {
        icon.tip = update.tip;
        if (icon.tray)
            icon.tray->setToolTip(icon.tip);
    }
    if ((update.uFlags & NIF_INFO) && update.balloons)
        showBalloon(icon, update);
}

void QtTrayShell::showBalloon(Icon& icon, const Update& update)
{
    // An empty message shows no balloon.
    if (update.info.isEmpty())
        return;
    const int timeOut =
        static_cast<int>(std::min<std::uint32_t>(update.uTimeout, std::numeric_limits<int>::max()));
    icon.clickPending = false;
    icon.balloonTimeOut.stop();
    if (NotificationBalloon::serverExists(bus())) {
        if (!icon.balloon) {
            icon.balloon = std::make_unique<NotificationBalloon>(kBalloonSender, QCoreApplication::applicationName(),
                                                                 bus());
            const IconKey key = icon.key;
            connect(icon.balloon.get(), &NotificationBalloon::clicked, this,
                    [this, key] { post(key, {NIN_BALLOONUSERCLICK}); });
            connect(icon.balloon.get(), &NotificationBalloon::hidden, this,
                    [this, key] { post(key, {NIN_BALLOONHIDE}); });
            connect(icon.balloon.get(), &NotificationBalloon::timedOut, this,
                    [this, key] { post(key, {NIN_BALLOONTIMEOUT}); });
        }
        icon.balloon->show(update.infoTitle, update.info,
                           icon.picture.pixmap(kBalloonPictureSize).toImage(), timeOut, m_balloonImage);
        post(icon.key, {NIN_BALLOONSHOW});
        return;
    }
    // Qt's balloon points at an icon on screen, which only an XEmbed area has.
    if (m_area != Area::XEmbed || !icon.tray->isVisible())
        return;
    forgetBalloonPictures();
    icon.tray->showMessage(update.infoTitle, update.info, messageIcon(update.dwInfoFlags), timeOut);
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
        // A StatusNotifier host has no double click: its activation is the one that opens the
        // program.
        if (m_area == Area::StatusNotifier)
            post(icon.key, {WM_LBUTTONDBLCLK});
        else
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
            dock(*icon);
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
            if (icon->tray && icon->tray.get() == watched)
                post(key, {WM_MOUSEMOVE});
    return QObject::eventFilter(watched, event);
}

std::uint32_t QtTrayShell::GetVersion()
{
    return kVersionWithBalloons;
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
    fillMenu(*menu, items, defaultItem, chosen, this);
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
    // Asking Qt before its first icon would make it decide there and then.
    if (m_area == Area::Undecided)
        return statusNotifierHostRegistered(bus()) || xembedAreaPresent();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtTrayShell::xembedAreaPresent() const
{
    // The area owns the selection _NET_SYSTEM_TRAY_S<screen> of the screen Qt shows its icons on.
    if (!m_x) {
        int screen = 0;
        m_x = xcb_connect(nullptr, &screen);
        const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            m_x, xcb_intern_atom(m_x, 0, static_cast<std::uint16_t>(name.size()), name.constData()), nullptr);
        m_trayAtom = atom ? atom->atom : 0;
        std::free(atom);
    }
    if (xcb_connection_has_error(m_x) || m_trayAtom == 0)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(m_x, xcb_get_selection_owner(m_x, m_trayAtom), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}

std::vector<QSystemTrayIcon*> QtTrayShell::trayIcons() const
{
    std::vector<QSystemTrayIcon*> icons;
    for (const auto& [key, icon] : m_icons)
        if (icon->tray)
            icons.push_back(icon->tray.get());
    return icons;
}

} // namespace tunalo
