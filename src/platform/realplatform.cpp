#include "platform/realplatform.h"

#include "platform/qt/desktopopen.h"
#include "platform/qt/inisettings.h"
#include "platform/qt/lockfile.h"
#include "platform/webengine/webenginebrowsers.h"
#include "platform/x11/xcbwindowlist.h"

#include <xcb/xcb.h>

namespace tunalo {

namespace {

// A placeholder until the notification area adapter is in place.
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

} // namespace

std::unique_ptr<Platform> makeRealPlatform()
{
    auto platform = std::make_unique<Platform>();
    platform->lock = std::make_unique<LockFileInstanceLock>();
    platform->settings = std::make_unique<IniSettingsStore>();
    platform->windows = std::make_unique<XcbWindowList>();
    platform->shell = std::make_unique<NoShell>();
    platform->browsers = std::make_unique<WebEngineBrowsers>();
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
