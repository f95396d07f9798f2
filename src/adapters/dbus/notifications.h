#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QDBusPendingCallWatcher;

namespace tunalo {

// One balloon at a time shown by the desktop's notification server (org.freedesktop.Notifications):
// each balloon replaces the one before while that is still on screen, a click on it is its
// "default" action. Once the server has closed a balloon (it expired, was dismissed or clicked) its
// id is spent: some servers (Plasma's) show nothing for a notification that names a closed one as
// the one it replaces, so the next balloon is a new notification. Only the server's own signals
// about this balloon's id count; another program's notification or a signal sent by anyone but the
// server says nothing about it.
class NotificationBalloon : public QObject {
    Q_OBJECT
public:
    // appName heads the balloons where the server finds no desktop entry for the program;
    // desktopEntry names that entry and the program's icon in the icon theme.
    NotificationBalloon(const QString& appName, const QString& desktopEntry,
                        QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    // The balloon on screen goes with its owner, before the owner's program may end.
    ~NotificationBalloon() override;

    // Whether a notification server runs on the bus, or the bus starts one when asked.
    static bool serverExists(const QDBusConnection& bus);

    // Shows the balloon; timeOutMs 0 leaves it up until the user closes it. picture is the
    // program's icon as the notification area shows it; imagePath, when given, a picture file
    // shown in its place (the song's cover).
    void show(const QString& title, const QString& text, const QImage& picture, int timeOutMs,
              const QString& imagePath = {});
    // Takes the balloon on screen away, without a signal.
    void close();

    // The server's id of the balloon shown last; 0 before the server has answered.
    quint32 id() const { return m_id; }

    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";
    // The notification reasons of NotificationClosed.
    static constexpr quint32 kExpired = 1;

signals:
    void clicked();
    void hidden();
    void timedOut();

private slots:
    void onActionInvoked(quint32 id, const QString& actionKey);
    void onNotificationClosed(quint32 id, quint32 reason);

private:
    struct Request {
        QString title;
        QString text;
        QImage picture;
        int timeOutMs;
        QString imagePath;
    };
    void send(const Request& request);
    void answered(QDBusPendingCallWatcher* call);
    void closeShowing(QDBus::CallMode mode);

    QString m_appName;
    QString m_desktopEntry;
    QDBusConnection m_bus;
    quint32 m_id = 0;
    // The balloon on screen is still the server's to report on and the next one's to replace: not
    // yet clicked, closed or replaced.
    bool m_showing = false;
    bool m_waiting = false; // a Notify call has not been answered yet
    QPointer<QDBusPendingCallWatcher> m_call; // that call
    std::optional<Request> m_next; // the newest balloon asked for while waiting
};

} // namespace tunalo
