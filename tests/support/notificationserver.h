#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <map>
#include <vector>

namespace tunalo::test {

// A notification server of the test's own on the session bus (org.freedesktop.Notifications), as
// strict as Plasma's: a notification that names a closed one as the one it replaces gets that id
// back and is never shown. Nothing expires by itself; the test ends notifications as a person or
// the server would.
class StandInNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    // One Notify as it came.
    struct Request {
        QString appName;
        quint32 replacesId;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QString desktopEntry;
        quint32 answer; // the id given back
    };

    StandInNotificationServer();
    ~StandInNotificationServer() override;
    // The server owns its name on the bus.
    bool ready() const { return m_ready; }

    const std::vector<Request>& requests() const { return m_requests; }
    // The bodies of the notifications on screen now, in the order of their ids.
    QStringList showing() const;
    // The id of the notification on screen with this body; 0 for none.
    quint32 idOf(const QString& body) const;
    // The ids the programs closed themselves.
    const std::vector<quint32>& closedByPrograms() const { return m_closedByPrograms; }

    // The reasons of NotificationClosed.
    enum Reason : quint32 { Expired = 1, Dismissed = 2, ClosedByCall = 3 };
    // Takes a notification off the screen and says why.
    void end(quint32 id, Reason reason);
    // A click on the notification: its default action, after which the server closes it.
    void click(quint32 id);

public slots:
    quint32 Notify(const QString& appName, quint32 replacesId, const QString& appIcon, const QString& summary,
                   const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout);
    void CloseNotification(quint32 id);
    QStringList GetCapabilities();
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);

signals:
    void NotificationClosed(quint32 id, quint32 reason);
    void ActionInvoked(quint32 id, const QString& actionKey);

private:
    QDBusConnection m_bus;
    bool m_ready = false;
    quint32 m_lastId = 0;
    std::map<quint32, QString> m_shown; // id to body
    std::vector<Request> m_requests;
    std::vector<quint32> m_closedByPrograms;
};

} // namespace tunalo::test
