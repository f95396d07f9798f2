#pragma once

#include "platform/notifyshell.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <map>
#include <memory>
#include <utility>

struct xcb_connection_t;

namespace tunalo {

// The notification shell on a Linux desktop: each icon is a QSystemTrayIcon, its clicks and
// balloons come back to the owning hidden window as the shell's notification codes, and the
// popup menu is a QMenu. Notifications are posted, never delivered inside a call.
//
// Qt makes its icons StatusNotifier items on the session bus when a StatusNotifier host is there
// as the first icon is made, and windows docked in an XEmbed notification area otherwise, for the
// rest of the run. So no icon is made before either kind of area is there; the shell follows the
// StatusNotifier watcher to notice a host that comes later. A StatusNotifier host reads the
// window's icon menu over the bus and opens the window with an activation; balloons go to the
// desktop's notification server where one exists, and are Qt's own otherwise.
class QtTrayShell : public QObject, public NotifyShell {
    Q_OBJECT
public:
    QtTrayShell();
    ~QtTrayShell() override;

    HWND createHiddenWindow(Listener listener) override;
    void destroyHiddenWindow(HWND hWnd) override;
    bool Shell_NotifyIconA(std::uint32_t dwMessage, NOTIFYICONDATAA* lpData) override;
    bool Shell_NotifyIconW(std::uint32_t dwMessage, NOTIFYICONDATAW* lpData) override;
    std::uint32_t GetVersion() override;
    bool SetForegroundWindow(HWND hWnd) override;
    void PopupMenu(const std::vector<MenuEntry>& items, int defaultItem,
                   std::function<void(int)> chosen) override;
    HICON registerIcon(const QIcon& icon) override;
    QIcon iconFor(HICON hIcon) const override;
    void setIconMenu(HWND hWnd, const std::vector<MenuEntry>& items, int defaultItem,
                     std::function<void(int)> chosen) override;
    bool hasNotificationArea() const override;
    void setBalloonImage(const QString& imagePath) override { m_balloonImage = imagePath; }

    // Whether the icons are StatusNotifier items rather than windows in an XEmbed area; known
    // once the first icon shows.
    bool statusNotifierItems() const { return m_area == Area::StatusNotifier; }

    // The tray icons that show the icons added so far.
    std::vector<QSystemTrayIcon*> trayIcons() const;
    // The menu popped up last, while it is open.
    QMenu* openMenu() const { return m_menu; }

    bool eventFilter(QObject* watched, QEvent* event) override;

    // While no notification area exists, icons wait and the shell looks again this often.
    static constexpr int kRetryIntervalMs = 1000;
    static constexpr int kRetryCount = 600;

private:
    using IconKey = std::pair<HWND, std::uint32_t>;
    struct Icon;
    // The members of a record that the shell reads, whichever form it came in.
    struct Update {
        IconKey key;
        std::uint32_t uFlags;
        std::uint32_t uCallbackMessage;
        HICON hIcon;
        QString tip;
        bool balloons; // the record is long enough to carry a balloon
        QString info;
        QString infoTitle;
        std::uint32_t uTimeout;
        std::uint32_t dwInfoFlags;
    };

    template <typename Record> static Update read(const Record& record, std::uint32_t fullSize);
    bool notify(std::uint32_t dwMessage, const Update& update);
    void apply(Icon& icon, const Update& update);
    void showBalloon(Icon& icon, const Update& update);
    void onActivated(Icon& icon, QSystemTrayIcon::ActivationReason reason);
    void onMessageClicked(Icon& icon);
    void post(const IconKey& key, std::initializer_list<std::uint32_t> codes);
    void deliver(const IconKey& key, std::uint32_t code);
    void retryShowing();
    void closeMenu();
    // Makes and shows the icon's QSystemTrayIcon once a notification area is there.
    void dock(Icon& icon);
    void offerMenu(Icon& icon);
    bool xembedAreaPresent() const;
    QDBusConnection bus() const;

    enum class Area { Undecided, StatusNotifier, XEmbed };

    std::map<HWND, Listener> m_windows;
    std::map<IconKey, std::unique_ptr<Icon>> m_icons;
    std::vector<QIcon> m_registry;
    HWND m_nextWindow = 0x2000;
    QTimer m_retry;
    int m_retriesLeft = 0;
    QPointer<QMenu> m_menu;
    std::map<HWND, std::unique_ptr<QMenu>> m_iconMenus;
    Area m_area = Area::Undecided;
    QString m_balloonImage;
    // Follows the StatusNotifier watcher once the first icon waits for an area.
    std::unique_ptr<QDBusServiceWatcher> m_watcher;
    // The X connection that looks for an XEmbed area, opened on first use.
    mutable xcb_connection_t* m_x = nullptr;
    mutable std::uint32_t m_trayAtom = 0;
};

} // namespace tunalo
