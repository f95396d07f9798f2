#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QString>
#include <QStringList>

namespace tunalo {

// Whether a service runs on the bus, or the bus starts it when asked.
inline bool serviceReachable(const QDBusConnection& bus, const QString& service)
{
    QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (!daemon)
        return false;
    if (daemon->isServiceRegistered(service).value())
        return true;
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(service);
}

} // namespace tunalo
