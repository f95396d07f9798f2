// The tray component on the notification areas and notification servers of today's desktops:
// Xfce's panel as the StatusNotifier host and dunst as the notification server under X, waybar and
// mako on sway.
#include "adapters/dbus/notifications.h"
#include "adapters/qt/trayshell.h"
#include "support/desktophosts.h"
#include "support/process.h"
#include "support/trayevents.h"
#include "tray/frmsystray.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

QString joined(const QStringList& entries)
{
    return entries.join(QLatin1Char(','));
}

void addProgramMenu(frmSysTray& tray)
{
    tray.AddMenuItem(QStringLiteral("&Open TNLO FB App"), QStringLiteral("open"), true);
    tray.AddMenuItem(QStringLiteral("-"), QString());
    tray.AddMenuItem(QStringLiteral("Login\\Logout"), QStringLiteral("login"));
    tray.AddMenuItem(QStringLiteral("-"), QString());
    tray.AddMenuItem(QStringLiteral("&Exit"), QStringLiteral("Exit"));
}

QString menuText(const std::vector<DBusMenuEntry>& menu)
{
    QStringList labels;
    for (const DBusMenuEntry& entry : menu)
        labels.append((entry.enabled ? QString() : QStringLiteral("!")) + entry.label);
    return labels.join(QLatin1Char('|'));
}

int idOf(const std::vector<DBusMenuEntry>& menu, const QString& label)
{
    for (const DBusMenuEntry& entry : menu)
        if (entry.label == label)
            return entry.id;
    return -1;
}

// The program's item once the host reads its menu; empty when none came.
QString programItem()
{
    QString item;
    waitUntil(
        [&] {
            const QStringList items = statusNotifierItems();
            item = items.isEmpty() ? QString() : items.front();
            return !item.isEmpty() && idOf(statusNotifierMenu(item), QStringLiteral("_Exit")) >= 0;
        },
        30000);
    return item;
}

// Chooses "&Exit" in the menu the host reads, as a person does, and waits for the program's end.
void exitFromTheHostsMenu(const QString& item, QProcess& program)
{
    ASSERT_TRUE(clickStatusNotifierMenu(item, idOf(statusNotifierMenu(item), QStringLiteral("_Exit"))));
    ASSERT_TRUE(waitUntil([&] { return program.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

// Xfce's panel on a screen of its own; the icons reach it over the bus.
class StatusNotifierHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(display.ready());
        ASSERT_TRUE(panel.start()) << "the panel's notification area did not come up";
    }

    BareDisplay display;
    XfcePanel panel{display};
};

TEST_F(StatusNotifierHost, ReadsTheProgramsMenuOverTheBusAndItsClicksAndActivationsReachTheComponent)
{
    QtTrayShell shell;
    frmSysTray tray(shell);
    TrayEventLog log(tray);
    addProgramMenu(tray);
    tray.setToolTip(QStringLiteral("TNLO FB App 2.0"));
    ASSERT_TRUE(waitUntil([] { return statusNotifierItems().size() == 1; }))
        << joined(statusNotifierItems()).toStdString();
    EXPECT_TRUE(shell.statusNotifierItems());
    const QString item = statusNotifierItems().front();

    std::vector<DBusMenuEntry> menu;
    ASSERT_TRUE(waitUntil([&] { return (menu = statusNotifierMenu(item)).size() == 5; }))
        << menuText(menu).toStdString();
    EXPECT_EQ(menuText(menu), QStringLiteral("_Open TNLO FB App|-|Login\\Logout|-|_Exit"));
    // The panel along the bottom of the screen shows the icon's blue tile.
    EXPECT_TRUE(waitUntil([&] { return showsColour(display.grab(), {0, 560, 800, 40}, QColor(0x2a, 0x6f, 0xdb)); }))
        << display.screenshot(QStringLiteral("xfce-panel")).toStdString();

    ASSERT_TRUE(clickStatusNotifierMenu(item, idOf(menu, QStringLiteral("_Exit"))));
    EXPECT_TRUE(waitUntil([&] { return log.entries == QStringList{QStringLiteral("menu 4 Exit")}; }))
        << joined(log.entries).toStdString();

    // The host's one click on the icon opens the program, as a double click does in an XEmbed area.
    log.entries.clear();
    ASSERT_TRUE(callStatusNotifierItem(item, QStringLiteral("Activate"), {QStringLiteral("0"), QStringLiteral("0")}));
    EXPECT_TRUE(waitUntil([&] { return log.entries == QStringList{QStringLiteral("double 1")}; }))
        << joined(log.entries).toStdString();

    // The host reads the menu as it is now.
    tray.EnableMenuItem(2, false);
    EXPECT_TRUE(waitUntil([&] {
        return menuText(statusNotifierMenu(item)) == QStringLiteral("_Open TNLO FB App|-|!Login\\Logout|-|_Exit");
    })) << menuText(statusNotifierMenu(item)).toStdString();
}

TEST_F(StatusNotifierHost, ExitInTheMenuTheHostShowsEndsTunalo)
{
    ProgramUnderTest files;
    QProcess& program = files.start();
    const QString item = programItem();
    ASSERT_FALSE(item.isEmpty()) << "no item with a menu: " << joined(statusNotifierItems()).toStdString();
    EXPECT_EQ(menuText(statusNotifierMenu(item)), QStringLiteral("_Open TNLO FB App|-|Login\\Logout|-|_Exit"));

    exitFromTheHostsMenu(item, program);
    EXPECT_TRUE(waitUntil([] { return statusNotifierItems().isEmpty(); }));
}

TEST(LateStatusNotifierHost, TheIconAppearsWhenTheHostStartsAfterTheProgramAndAgainWhenItRestarts)
{
    // The icon's screen has no XEmbed area, as on a Wayland desktop; the host is on another.
    BareDisplay iconScreen;
    BareDisplay panelScreen;
    ASSERT_TRUE(iconScreen.ready() && panelScreen.ready());
    QProcess& tool = iconScreen.start(QStringLiteral(TUNALO_BIN_DIR "/tunalo-traytool"), {});
    QByteArray output;
    ASSERT_TRUE(waitUntil([&] {
        output += tool.readAllStandardOutput();
        return output.contains("notification area: no");
    })) << output.constData();
    pause(2500); // the tool has looked for an area twice

    XfcePanel panel(panelScreen);
    ASSERT_TRUE(panel.start());
    EXPECT_TRUE(waitUntil([] { return statusNotifierItems().size() == 1; }, 5000))
        << joined(statusNotifierItems()).toStdString();

    ASSERT_TRUE(panel.stop());
    ASSERT_TRUE(panel.start());
    EXPECT_TRUE(waitUntil([] { return statusNotifierItems().size() == 1; }, 5000))
        << joined(statusNotifierItems()).toStdString();
    EXPECT_EQ(tool.state(), QProcess::Running);
}

// What dunst, a notification server, answers on the bus through its control program.
QString dunstctl(const QStringList& arguments)
{
    return runTool(QStringLiteral("dunstctl"), arguments).trimmed();
}

class NotificationServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(display.ready());
        display.setEnvironment(QStringLiteral("XDG_CONFIG_HOME"), config.path()); // dunst's own settings
        display.start(QStringLiteral("dunst"), {});
        ASSERT_TRUE(waitUntil([] { return NotificationBalloon::serverExists(QDBusConnection::sessionBus()); }));
        // dunst answers once it has set itself up.
        ASSERT_TRUE(waitUntil([] { return dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}) == QStringLiteral("0"); }));
    }

    QTemporaryDir config;
    BareDisplay display;
};

TEST_F(NotificationServer, ABalloonIsANotificationThatReplacesTheOneBeforeAndReportsItsClickCloseAndTimeOut)
{
    QtTrayShell shell;
    frmSysTray tray(shell);
    TrayEventLog log(tray);
    const auto displayed = [] { return dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}); };
    tray.ShowBalloonTip(QStringLiteral("Artist - First (Click To Post)"), QStringLiteral("Tunalo"), 16);
    tray.ShowBalloonTip(QStringLiteral("Artist - Second (Click To Post)"), QStringLiteral("Tunalo"), 16);
    ASSERT_TRUE(waitUntil([&] { return log.entries.size() == 2 && displayed() == QStringLiteral("1"); }))
        << joined(log.entries).toStdString();
    pause(500);
    EXPECT_EQ(displayed(), QStringLiteral("1"));
    // dunst draws it at the top right of its screen with the program's icon.
    EXPECT_TRUE(showsColour(display.grab(), {400, 0, 400, 150}, QColor(0x2a, 0x6f, 0xdb)))
        << display.screenshot(QStringLiteral("dunst-balloon")).toStdString();
    // Closed by the user, it goes into dunst's history: one notification, the second balloon's,
    // with its default action.
    dunstctl({QStringLiteral("close")});
    EXPECT_TRUE(waitUntil([&] {
        return log.entries == QStringList{QStringLiteral("show"), QStringLiteral("show"), QStringLiteral("hide")};
    })) << joined(log.entries).toStdString();
    const QString history = dunstctl({QStringLiteral("history")});
    EXPECT_EQ(history.count(QLatin1String("\"summary\"")), 1) << history.toStdString();
    EXPECT_TRUE(history.contains(QLatin1String("Artist - Second (Click To Post)"))) << history.toStdString();
    EXPECT_TRUE(history.contains(QLatin1String("\"default\""))) << history.toStdString();

    // The default action, as dunst's middle click or its keyboard command gives it.
    log.entries.clear();
    tray.ShowBalloonTip(QStringLiteral("Artist - Third (Click To Post)"), QStringLiteral("Tunalo"), 16);
    ASSERT_TRUE(waitUntil([&] { return displayed() == QStringLiteral("1"); }));
    dunstctl({QStringLiteral("action"), QStringLiteral("0")});
    EXPECT_TRUE(waitUntil([&] { return log.entries == QStringList{QStringLiteral("show"), QStringLiteral("clicked")}; }))
        << joined(log.entries).toStdString();
    pause(500); // dunst closes the clicked balloon, which is no hide of its own
    EXPECT_EQ(log.entries, (QStringList{QStringLiteral("show"), QStringLiteral("clicked")}));

    log.entries.clear();
    tray.ShowBalloonTip(QStringLiteral("Artist - Fourth (Song Posted)"), QStringLiteral("Tunalo"), 0, 1500);
    EXPECT_TRUE(waitUntil([&] { return log.entries == QStringList{QStringLiteral("show"), QStringLiteral("timeout")}; }))
        << joined(log.entries).toStdString();
}

TEST_F(NotificationServer, ABalloonAboutASongShowsTheSongsPictureFromItsFile)
{
    // A cover of a colour nothing else on the screen has.
    QTemporaryDir covers;
    const QString cover = covers.filePath(QStringLiteral("cover.png"));
    QImage red(64, 64, QImage::Format_RGB32);
    red.fill(QColor(0xe0, 0x10, 0x10));
    ASSERT_TRUE(red.save(cover));
    QtTrayShell shell;
    frmSysTray tray(shell);
    shell.setBalloonImage(cover);
    tray.ShowBalloonTip(QStringLiteral("Band - Song (Song Posted)"), QStringLiteral("Tunalo"), 0);
    ASSERT_TRUE(waitUntil([] { return dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}) == QStringLiteral("1"); }));
    pause(300);
    EXPECT_TRUE(showsColour(display.grab(), {400, 0, 400, 150}, QColor(0xe0, 0x10, 0x10)))
        << display.screenshot(QStringLiteral("dunst-cover")).toStdString();
    EXPECT_FALSE(showsColour(display.grab(), {400, 0, 400, 150}, QColor(0x2a, 0x6f, 0xdb)))
        << "the cover takes the icon's place";
}

TEST_F(NotificationServer, OnlyTheServersOwnSignalsForABalloonsOwnIdCount)
{
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(Qt::blue);
    NotificationBalloon first(QStringLiteral("Tunalo"), QStringLiteral("tunalo"));
    NotificationBalloon second(QStringLiteral("Tunalo"), QStringLiteral("tunalo"));
    QStringList events;
    for (auto [balloon, name] : {std::pair{&first, "first"}, std::pair{&second, "second"}}) {
        const QString who = QString::fromLatin1(name);
        QObject::connect(balloon, &NotificationBalloon::clicked, [&events, who] { events << who + QStringLiteral(" clicked"); });
        QObject::connect(balloon, &NotificationBalloon::hidden, [&events, who] { events << who + QStringLiteral(" hidden"); });
        QObject::connect(balloon, &NotificationBalloon::timedOut, [&events, who] { events << who + QStringLiteral(" timeout"); });
    }
    first.show(QStringLiteral("Tunalo"), QStringLiteral("First (Click To Post)"), picture, 0);
    second.show(QStringLiteral("Tunalo"), QStringLiteral("Second (Click To Post)"), picture, 0);
    ASSERT_TRUE(waitUntil([&] { return first.id() != 0 && second.id() != 0; }));
    ASSERT_NE(first.id(), second.id());

    // A program other than the server claims a click on the balloon.
    for (const quint32 id : {first.id(), second.id()})
        gdbus({QStringLiteral("emit"), QStringLiteral("--session"), QStringLiteral("--object-path"),
               QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("--signal"),
               QStringLiteral("org.freedesktop.Notifications.ActionInvoked"), QString::number(id),
               QStringLiteral("'default'")});
    pause(500);
    EXPECT_TRUE(events.isEmpty()) << joined(events).toStdString();

    // The server closes one balloon and reports a click on the other: each hears only its own.
    dunstctl({QStringLiteral("close")});
    ASSERT_TRUE(waitUntil([&] { return events.size() == 1; })) << joined(events).toStdString();
    dunstctl({QStringLiteral("action"), QStringLiteral("0")});
    ASSERT_TRUE(waitUntil([&] { return events.size() == 2; })) << joined(events).toStdString();
    pause(500);
    EXPECT_TRUE(events == QStringList({QStringLiteral("first hidden"), QStringLiteral("second clicked")}) ||
                events == QStringList({QStringLiteral("second hidden"), QStringLiteral("first clicked")}))
        << joined(events).toStdString();
}

// Tunalo under XWayland on sway, with waybar's notification area and mako.
class SwaySession : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sway.ready()) << "sway, waybar or mako did not come up"; }

    QProcess& startProgram()
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("DISPLAY"), sway.xDisplay());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return files.start(environment);
    }

    HeadlessSway sway;
    ProgramUnderTest files;
};

QString makoctl(const QStringList& arguments)
{
    return runTool(QStringLiteral("makoctl"), arguments);
}

TEST_F(SwaySession, WaybarShowsTheIconWithTheProgramsMenuExitEndsTunaloAndTheWelcomeIsInMako)
{
    QProcess& program = startProgram();
    const QString item = programItem();
    ASSERT_FALSE(item.isEmpty()) << "no item with a menu: " << joined(statusNotifierItems()).toStdString();
    EXPECT_EQ(menuText(statusNotifierMenu(item)), QStringLiteral("_Open TNLO FB App|-|Login\\Logout|-|_Exit"));
    // waybar draws the program's orange icon at the right of the bar along the bottom.
    EXPECT_TRUE(waitUntil([&] { return showsColour(sway.grab(), {824, 670, 200, 30}, QColor(0xf2, 0x7c, 0x1b)); }));
    // The welcome balloon is mako's notification, with the click as its default action.
    ASSERT_TRUE(waitUntil([] { return makoctl({QStringLiteral("list")}).contains(QLatin1String("reopen me")); }))
        << makoctl({QStringLiteral("list")}).toStdString();
    EXPECT_TRUE(makoctl({QStringLiteral("list")}).contains(QLatin1String("\"default\"")));

    exitFromTheHostsMenu(item, program);
    // The balloon goes with the program.
    EXPECT_TRUE(waitUntil([] { return !makoctl({QStringLiteral("list")}).contains(QLatin1String("reopen me")); }));
}

TEST_F(SwaySession, AClickOnAnotherProgramsNotificationInMakoIsNoClickOnTheBalloon)
{
    NotificationBalloon balloon(QStringLiteral("Tunalo"), QStringLiteral("tunalo"));
    QStringList events;
    QObject::connect(&balloon, &NotificationBalloon::clicked, [&] { events << QStringLiteral("clicked"); });
    QObject::connect(&balloon, &NotificationBalloon::hidden, [&] { events << QStringLiteral("hidden"); });
    balloon.show(QStringLiteral("Tunalo"), QStringLiteral("Artist - Title (Click To Post)"), QImage(), 0);
    ASSERT_TRUE(waitUntil([&] { return balloon.id() != 0; }));

    // mako tells every program on the bus of a click on any notification.
    const QString other = gdbus(
        {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
         QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("--object-path"),
         QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("--method"),
         QStringLiteral("org.freedesktop.Notifications.Notify"), QStringLiteral("other"), QStringLiteral("0"),
         QString(), QStringLiteral("Other"), QStringLiteral("another program's news"),
         QStringLiteral("['default', 'Open']"), QStringLiteral("{}"), QStringLiteral("0")});
    const QString otherId = other.section(QLatin1Char(' '), 1, 1).section(QLatin1Char(','), 0, 0);
    ASSERT_FALSE(otherId.isEmpty()) << other.toStdString();
    makoctl({QStringLiteral("invoke"), QStringLiteral("-n"), otherId});
    pause(500);
    EXPECT_TRUE(events.isEmpty()) << joined(events).toStdString();

    makoctl({QStringLiteral("invoke"), QStringLiteral("-n"), QString::number(balloon.id())});
    EXPECT_TRUE(waitUntil([&] { return events == QStringList{QStringLiteral("clicked")}; }))
        << joined(events).toStdString();
}

} // namespace
} // namespace tunalo::test
