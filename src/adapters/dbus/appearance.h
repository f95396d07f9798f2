#pragma once

#include <QDBusConnection>

namespace tunalo {

// The colours the desktop prefers, as its XDG desktop portal tells every program
// (org.freedesktop.appearance color-scheme): GNOME's dark style and KDE's dark colour schemes say
// so whether or not Qt has a platform theme that would.
enum class ColourScheme : quint32 { NoPreference = 0, PreferDark = 1, PreferLight = 2 };

// Asks the portal once, waiting half a second at most; no preference where there is no portal or
// it has no answer in that time.
ColourScheme desktopColourScheme(const QDBusConnection& bus = QDBusConnection::sessionBus());

} // namespace tunalo
