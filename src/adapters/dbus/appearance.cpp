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
const QString kUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");

// The forms take their colours as they are made, so the start waits for the answer; a portal that
// runs answers in a moment, and one that must first be started gets this long before the program
// goes on in the colours Qt gave it.
constexpr int kAnswerTimeOutMs = 500;

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
        if (answer.type() == QDBusMessage::ErrorMessage && answer.errorName() == kUnknownMethod)
            continue; // an older portal knows no ReadOne
        if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
            return ColourScheme::NoPreference; // no answer in time, or none to give: not asked twice
        bool known = false;
        const quint32 scheme = unwrapped(answer.arguments().front()).toUInt(&known);
        if (known && scheme <= static_cast<quint32>(ColourScheme::PreferLight))
            return static_cast<ColourScheme>(scheme);
        return ColourScheme::NoPreference;
    }
    return ColourScheme::NoPreference;
}

} // namespace tunalo
