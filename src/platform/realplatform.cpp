#include "platform/realplatform.h"

#include "platform/qt/desktopopen.h"
#include "platform/qt/inisettings.h"
#include "platform/qt/lockfile.h"
#include "platform/qt/trayshell.h"

#include <QWidget>

#include <xcb/xcb.h>

namespace tunalo {

namespace {

// Placeholders until the desktop adapters are in place.
class NoWindows : public WindowList {
public:
    HWND GetForegroundWindow() override { return 0; }
    HWND GetWindow(HWND, std::uint32_t) override { return 0; }
    QString GetWindowTextA(HWND, int) override { return {}; }
};

class NoShell : public NotifyShell {
public:
    HWND createHiddenWindow(Listener) override { return 1; }
    void destroyHiddenWindow(HWND) override {}
    bool Shell_NotifyIconA(std::uint32_t, NOTIFYICONDATAA*) override { return false; }
    bool Shell_NotifyIconW(std::uint32_t, NOTIFYICONDATAW*) override { return false; }
    std::uint32_t GetVersion() override { return 5; }
    bool SetForegroundWindow(HWND) override { return false; }
    void PopupMenu(const std::vector<MenuEntry>&, int, std::function<void(int)>) override {}
    HICON registerIcon(const QIcon&) override { return 0; }
    QIcon iconFor(HICON) const override { return {}; }
    bool hasNotificationArea() const override { return false; }
};

class BlankBrowser : public Browser {
public:
    explicit BlankBrowser(QWidget* parent) : m_widget(new QWidget(parent)) {}
    void Navigate(const QString&) override {}
    QString LocationName() const override { return {}; }
    QWidget* widget() override { return m_widget; }

private:
    QWidget* m_widget;
};

class BlankBrowsers : public BrowserFactory {
public:
    std::unique_ptr<Browser> createBrowser(QWidget* parent) override { return std::make_unique<BlankBrowser>(parent); }
};

} // namespace

std::unique_ptr<Platform> makeRealPlatform()
{
    auto platform = std::make_unique<Platform>();
    platform->lock = std::make_unique<LockFileInstanceLock>();
    platform->settings = std::make_unique<IniSettingsStore>();
    platform->windows = std::make_unique<NoWindows>();
    platform->shell = std::make_unique<QtTrayShell>();
    platform->browsers = std::make_unique<BlankBrowsers>();
    platform->shellOpen = std::make_unique<DesktopShellOpen>();
    return platform;
}

bool xDisplayReachable()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

} // namespace tunalo
