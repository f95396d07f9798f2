#include "adapters/dbus/appearance.h"

#include "adapters/dbus/busservice.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace tunalo {

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

// A portal that is started on demand may take a moment for its first answer.
constexpr int kAnswerTimeOutMs = 2000;

// The portal's answer: ReadOne gives the value in one variant, the older Read in a variant inside
// another.
QVariant unwrapped(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

} // namespace

ColourScheme desktopColourScheme(const QDBusConnection& bus)
{
    if (!serviceReachable(bus, kPortal))
        return ColourScheme::NoPreference;
    for (const QString& method : {QStringLiteral("ReadOne"), QStringLiteral("Read")}) {
        QDBusMessage read = QDBusMessage::createMethodCall(kPortal, kPortalPath, kSettings, method);
        read << kNamespace << kKey;
        const QDBusMessage answer = bus.call(read, QDBus::Block, kAnswerTimeOutMs);
        if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
            continue; // an older portal knows no ReadOne
        bool known = false;
        const quint32 scheme = unwrapped(answer.arguments().front()).toUInt(&known);
        if (known && scheme <= static_cast<quint32>(ColourScheme::PreferLight))
            return static_cast<ColourScheme>(scheme);
        return ColourScheme::NoPreference;
    }
    return ColourScheme::NoPreference;
}

} // namespace tunalo
