#pragma once

#include "platform/autostart.h"
#include "platform/browser.h"
#include "platform/clock.h"
#include "platform/instancelock.h"
#include "platform/mediaplayers.h"
#include "platform/notifyshell.h"
#include "platform/settingsstore.h"
#include "platform/shellopen.h"
#include "platform/windowlist.h"

#include <memory>

namespace tunalo {

// Everything the program needs from the desktop, one service each. The program builds the real
// adapters; the tests build fakes.
struct Platform {
    std::unique_ptr<Clock> clock;
    std::unique_ptr<InstanceLock> lock;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<WindowList> windows;
    std::unique_ptr<NotifyShell> shell;
    std::unique_ptr<BrowserFactory> browsers;
    std::unique_ptr<ShellOpen> shellOpen;
    std::unique_ptr<MediaPlayers> players;
    std::unique_ptr<Autostart> autostart;
};

} // namespace tunalo
