#include "support/notificationserver.h"

#include <QDBusConnectionInterface>

namespace tunalo::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kConnection = QStringLiteral("tunalo-standin-notifications");

} // namespace

// A connection of its own, so that the server's signals come from another sender than the
// program's balloons in the same test.
StandInNotificationServer::StandInNotificationServer()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection))
{
    m_ready = m_bus.isConnected() &&
              m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
              m_bus.registerService(kService);
}

StandInNotificationServer::~StandInNotificationServer()
{
    m_bus.unregisterService(kService);
    m_bus.unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(kConnection);
}

QStringList StandInNotificationServer::showing() const
{
    QStringList bodies;
    for (const auto& [id, body] : m_shown)
        bodies.append(body);
    return bodies;
}

quint32 StandInNotificationServer::idOf(const QString& body) const
{
    for (const auto& [id, shown] : m_shown)
        if (shown == body)
            return id;
    return 0;
}

void StandInNotificationServer::end(quint32 id, Reason reason)
{
    if (m_shown.erase(id))
        emit NotificationClosed(id, reason);
}

void StandInNotificationServer::click(quint32 id)
{
    if (!m_shown.contains(id))
        return;
    emit ActionInvoked(id, QStringLiteral("default"));
    end(id, Dismissed);
}

quint32 StandInNotificationServer::Notify(const QString& appName, quint32 replacesId, const QString& appIcon,
                                          const QString& summary, const QString& body, const QStringList& actions,
                                          const QVariantMap& hints, int)
{
    quint32 id = replacesId;
    if (replacesId == 0) {
        id = ++m_lastId;
        m_shown[id] = body;
    } else if (m_shown.contains(replacesId)) {
        m_shown[replacesId] = body;
    }
    // A closed notification named as the one replaced: its id comes back and nothing shows.
    m_requests.push_back({appName, replacesId, appIcon, summary, body, actions,
                          hints.value(QStringLiteral("desktop-entry")).toString(), id});
    return id;
}

void StandInNotificationServer::CloseNotification(quint32 id)
{
    m_closedByPrograms.push_back(id);
    end(id, ClosedByCall);
}

QStringList StandInNotificationServer::GetCapabilities()
{
    return {QStringLiteral("actions"), QStringLiteral("body")};
}

QString StandInNotificationServer::GetServerInformation(QString& vendor, QString& version, QString& specVersion)
{
    vendor = QStringLiteral("Tunalo's tests");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("stand-in");
}

} // namespace tunalo::test
