// The desktop's colour preference as its portal tells it, read from a stand-in portal on the bus.
#include "adapters/dbus/appearance.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

// The portal's settings: color-scheme in org.freedesktop.appearance, through ReadOne, or only
// through the older Read that wraps the value in a second variant.
class StandInPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    StandInPortal(quint32 scheme, bool readOneKnown) : m_scheme(scheme), m_readOneKnown(readOneKnown)
    {
        m_ready = m_bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                       QDBusConnection::ExportAllSlots) &&
                  m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~StandInPortal() override { QDBusConnection::disconnectFromBus(kConnection); }
    bool ready() const { return m_ready; }

public slots:
    QDBusVariant ReadOne(const QString& space, const QString& key)
    {
        if (!m_readOneKnown) {
            sendErrorReply(QDBusError::UnknownMethod, QStringLiteral("no ReadOne here"));
            return {};
        }
        return value(space, key);
    }
    QDBusVariant Read(const QString& space, const QString& key)
    {
        return QDBusVariant(QVariant::fromValue(value(space, key)));
    }

private:
    QDBusVariant value(const QString& space, const QString& key)
    {
        if (space != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme")) {
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("no such key"));
            return {};
        }
        return QDBusVariant(QVariant::fromValue(m_scheme));
    }

    static inline const QString kConnection = QStringLiteral("tunalo-standin-portal");
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection);
    quint32 m_scheme;
    bool m_readOneKnown;
    bool m_ready = false;
};

struct PortalCase {
    const char* name;
    quint32 scheme;
    bool readOneKnown;
    ColourScheme read;
};

void PrintTo(const PortalCase& row, std::ostream* out)
{
    *out << row.name;
}

class Portal : public ::testing::TestWithParam<PortalCase> {};

TEST_P(Portal, TellsTheColoursTheDesktopPrefers)
{
    // The program waits for the answer, so the stand-in answers from a thread of its own.
    QThread thread;
    StandInPortal portal(GetParam().scheme, GetParam().readOneKnown);
    ASSERT_TRUE(portal.ready()) << "another portal owns the name";
    portal.moveToThread(&thread);
    thread.start();
    EXPECT_EQ(desktopColourScheme(), GetParam().read);
    thread.quit();
    thread.wait();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Portal,
    ::testing::Values(PortalCase{"Dark", 1, true, ColourScheme::PreferDark},
                      PortalCase{"DarkFromAnOlderPortal", 1, false, ColourScheme::PreferDark},
                      PortalCase{"Light", 2, true, ColourScheme::PreferLight},
                      PortalCase{"NoPreference", 0, true, ColourScheme::NoPreference},
                      PortalCase{"AValueOfTheFuture", 7, true, ColourScheme::NoPreference}),
    [](const ::testing::TestParamInfo<PortalCase>& info) { return std::string(info.param.name); });

TEST(NoPortal, MeansNoPreference)
{
    EXPECT_EQ(desktopColourScheme(), ColourScheme::NoPreference);
}

} // namespace
} // namespace tunalo::test

#include "appearance_test.moc"
