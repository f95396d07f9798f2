// The tray component's balloons on a notification server as strict as Plasma's, which shows nothing
// for a notification that names a closed one as the one it replaces.
#include "adapters/qt/trayshell.h"
#include "support/notificationserver.h"
#include "support/process.h"
#include "support/trayevents.h"
#include "tray/frmsystray.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace tunalo::test {
namespace {

const QString kFirst = QStringLiteral("Artist - First (Click To Post)");
const QString kSecond = QStringLiteral("Artist - Second (Song Posted)");

// How the first balloon left the screen before the second is asked for, and the events the
// component raised for the two.
struct Ending {
    const char* name;
    std::function<void(StandInNotificationServer&, quint32)> end; // null: it is still showing
    QStringList events;
};

void PrintTo(const Ending& row, std::ostream* out)
{
    *out << row.name;
}

class StrictServer : public ::testing::TestWithParam<Ending> {
protected:
    void SetUp() override { ASSERT_TRUE(server.ready()) << "another notification server owns the name"; }

    StandInNotificationServer server;
    QtTrayShell shell;
    std::unique_ptr<frmSysTray> tray = std::make_unique<frmSysTray>(shell);
    TrayEventLog log{*tray};
};

TEST_P(StrictServer, TheNextBalloonShowsWhetherTheOneBeforeIsStillUpOrGone)
{
    const Ending& ending = GetParam();
    tray->ShowBalloonTip(kFirst, QStringLiteral("Tunalo"), 16);
    ASSERT_TRUE(waitUntil([&] { return server.showing() == QStringList{kFirst}; }));
    const quint32 first = server.idOf(kFirst);
    if (ending.end) {
        ending.end(server, first);
        ASSERT_TRUE(waitUntil([&] { return log.entries.size() == ending.events.size() - 1; }))
            << log.entries.join(QLatin1Char(',')).toStdString();
    }

    tray->ShowBalloonTip(kSecond, QStringLiteral("Tunalo"), 16);
    EXPECT_TRUE(waitUntil([&] { return server.showing() == QStringList{kSecond}; }))
        << server.showing().join(QLatin1Char(',')).toStdString();
    ASSERT_EQ(server.requests().size(), 2u);
    // A balloon on screen is replaced; a closed one's id is named no more.
    EXPECT_EQ(server.requests().back().replacesId, ending.end ? 0u : first);
    EXPECT_EQ(log.entries, ending.events);
    // Headed with the program's name wherever it runs from, and named by its desktop entry.
    for (const StandInNotificationServer::Request& request : server.requests()) {
        EXPECT_EQ(request.appName, QStringLiteral("Tunalo"));
        EXPECT_EQ(request.actions.value(0), QStringLiteral("default"));
        EXPECT_EQ(request.desktopEntry, QCoreApplication::applicationName());
    }

    // The balloon on screen goes with the icon.
    const quint32 second = server.idOf(kSecond);
    tray.reset();
    EXPECT_TRUE(waitUntil([&] { return server.closedByPrograms() == std::vector<quint32>{second}; }));
    EXPECT_TRUE(server.showing().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    HowTheFirstEnded, StrictServer,
    ::testing::Values(
        Ending{"StillShowing", nullptr, {QStringLiteral("show"), QStringLiteral("show")}},
        Ending{"Expired",
               [](StandInNotificationServer& server, quint32 id) { server.end(id, StandInNotificationServer::Expired); },
               {QStringLiteral("show"), QStringLiteral("timeout"), QStringLiteral("show")}},
        Ending{"Dismissed",
               [](StandInNotificationServer& server, quint32 id) { server.end(id, StandInNotificationServer::Dismissed); },
               {QStringLiteral("show"), QStringLiteral("hide"), QStringLiteral("show")}},
        Ending{"Clicked", [](StandInNotificationServer& server, quint32 id) { server.click(id); },
               {QStringLiteral("show"), QStringLiteral("clicked"), QStringLiteral("show")}}),
    [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

} // namespace
} // namespace tunalo::test
