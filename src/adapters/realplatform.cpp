#include "adapters/realplatform.h"

#include "adapters/dbus/mprisbus.h"
#include "adapters/engineprocess/remotebrowsers.h"
#include "adapters/qt/desktopopen.h"
#include "adapters/qt/inisettings.h"
#include "adapters/qt/lockfile.h"
#include "adapters/qt/systemclock.h"
#include "adapters/qt/trayshell.h"
#include "adapters/qt/xdgautostart.h"
#include "adapters/x11/xcbwindowlist.h"

#include <QCoreApplication>

#include <xcb/xcb.h>

namespace tunalo {

std::unique_ptr<Platform> makeRealPlatform()
{
    auto platform = std::make_unique<Platform>();
    platform->clock = std::make_unique<SystemClock>();
    platform->lock = std::make_unique<LockFileInstanceLock>();
    platform->settings = std::make_unique<IniSettingsStore>();
    platform->windows = std::make_unique<XcbWindowList>();
    platform->shell = std::make_unique<QtTrayShell>();
    platform->browsers = std::make_unique<RemoteBrowsers>();
    platform->shellOpen = std::make_unique<DesktopShellOpen>();
    platform->players = std::make_unique<MprisBus>(*platform->clock);
    // At log-in the desktop starts the very program the user is running now.
    platform->autostart = std::make_unique<XdgAutostart>(QCoreApplication::applicationFilePath());
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
