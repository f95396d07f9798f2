#include "adapters/dbus/notifications.h"

#include "adapters/dbus/busservice.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QUrl>
#include <QVariantMap>

namespace tunalo {

namespace {

Q_LOGGING_CATEGORY(lcBalloon, "tunalo.balloon")

// The only action a balloon offers: a click on the balloon itself.
const QString kDefaultAction = QStringLiteral("default");

// A picture as the image-data hint carries it: width, height, row length, alpha, bits per
// sample, samples per pixel, then the bytes in RGBA order.
QDBusArgument imageData(const QImage& picture)
{
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    QDBusArgument argument;
    argument.beginStructure();
    argument << rgba.width() << rgba.height() << static_cast<int>(rgba.bytesPerLine()) << true << 8 << 4
             << QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
    argument.endStructure();
    return argument;
}

} // namespace

NotificationBalloon::NotificationBalloon(const QString& appName, const QString& desktopEntry, QDBusConnection bus,
                                         QObject* parent)
    : QObject(parent), m_appName(appName), m_desktopEntry(desktopEntry), m_bus(std::move(bus))
{
    // Naming the server's well-known name lets only its present owner through.
    m_bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                  QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(quint32, QString)));
    m_bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                  QStringLiteral("NotificationClosed"), this, SLOT(onNotificationClosed(quint32, quint32)));
}

NotificationBalloon::~NotificationBalloon()
{
    // The owner goes as the program ends (by "&Exit", a signal or the session's end), when a call
    // merely queued may never leave; a balloon left on screen would offer a click nobody hears.
    // A balloon still on its way is waited for, so that it can be closed too.
    m_next.reset();
    if (m_waiting && m_call)
        m_call->waitForFinished();
    closeShowing(QDBus::Block);
}

bool NotificationBalloon::serverExists(const QDBusConnection& bus)
{
    return serviceReachable(bus, QString::fromLatin1(kService));
}

void NotificationBalloon::show(const QString& title, const QString& text, const QImage& picture, int timeOutMs,
                              const QString& imagePath)
{
    Request request{title, text, picture, timeOutMs, imagePath};
    // The server's answer names the id the next balloon replaces; until then only the newest waits.
    if (m_waiting)
        m_next = std::move(request);
    else
        send(request);
}

void NotificationBalloon::send(const Request& request)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_desktopEntry);
    // The server reads a picture file itself; the song's cover goes by name, the icon by its pixels.
    if (!request.imagePath.isEmpty())
        hints.insert(QStringLiteral("image-path"), QUrl::fromLocalFile(request.imagePath).toString());
    else if (!request.picture.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(imageData(request.picture)));
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
        QStringLiteral("Notify"));
    // Only a balloon still on screen is replaced; a closed one's id names nothing any more.
    const quint32 replaces = m_showing ? m_id : 0;
    notify << m_appName << replaces << m_desktopEntry << request.title << request.text
           << QStringList{kDefaultAction, request.title} << hints << request.timeOutMs;
    m_showing = false; // the balloon on screen is being replaced
    m_waiting = true;
    // A server that does not answer in time has not shown the balloon; at the end the program waits
    // no longer than this for a balloon on its way.
    constexpr int kNotifyTimeOutMs = 5000;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(notify, kNotifyTimeOutMs), this);
    m_call = call;
    connect(call, &QDBusPendingCallWatcher::finished, this, &NotificationBalloon::answered);
}

void NotificationBalloon::answered(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    m_waiting = false;
    const QDBusPendingReply<quint32> reply = *call;
    if (reply.isError()) {
        qCWarning(lcBalloon) << "the notification server did not show the balloon:" << reply.error().message();
    } else {
        m_id = reply.value();
        m_showing = true;
    }
    if (m_next) {
        const Request next = std::move(*m_next);
        m_next.reset();
        send(next);
    }
}

void NotificationBalloon::close()
{
    closeShowing(QDBus::NoBlock);
}

void NotificationBalloon::closeShowing(QDBus::CallMode mode)
{
    m_next.reset();
    if (!m_showing)
        return;
    m_showing = false;
    constexpr int kCloseTimeOutMs = 1000;
    m_bus.call(QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                              QString::fromLatin1(kInterface), QStringLiteral("CloseNotification"))
                   << m_id,
               mode, kCloseTimeOutMs);
}

void NotificationBalloon::onActionInvoked(quint32 id, const QString& actionKey)
{
    if (!m_showing || id != m_id || actionKey != kDefaultAction)
        return;
    m_showing = false; // the server closes a clicked balloon; that is no hide of its own
    emit clicked();
}

void NotificationBalloon::onNotificationClosed(quint32 id, quint32 reason)
{
    if (!m_showing || id != m_id)
        return;
    m_showing = false;
    if (reason == kExpired)
        emit timedOut();
    else
        emit hidden();
}

} // namespace tunalo
