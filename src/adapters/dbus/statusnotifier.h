#pragma once

#include <QDBusConnection>

namespace tunalo {

// The watcher through which StatusNotifier items and the notification areas that show them
// (StatusNotifier hosts) find each other on the session bus.
inline constexpr const char* kStatusNotifierWatcher = "org.kde.StatusNotifierWatcher";

// Whether a StatusNotifier host has registered with the watcher on the bus.
bool statusNotifierHostRegistered(const QDBusConnection& bus);

} // namespace tunalo
