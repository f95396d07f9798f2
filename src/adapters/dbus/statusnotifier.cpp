#include "adapters/dbus/statusnotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>

namespace tunalo {

bool statusNotifierHostRegistered(const QDBusConnection& bus)
{
    QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    const QString watcher = QString::fromLatin1(kStatusNotifierWatcher);
    // Asking a name nobody owns could start a program for it.
    if (!daemon || !daemon->isServiceRegistered(watcher).value())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, 2000);
    return reply.isValid() && reply.value().variant().toBool();
}

} // namespace tunalo
