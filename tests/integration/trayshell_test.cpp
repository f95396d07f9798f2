#include "adapters/qt/trayshell.h"
#include "support/process.h"
#include "support/trayevents.h"
#include "tray/frmsystray.h"

#include <QApplication>
#include <QPixmapCache>
#include <QMenu>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace tunalo::test {
namespace {

// Moves the real pointer to a point of the screen and, with a button, clicks there.
void pointAt(QPoint where, int button = 0)
{
    QStringList arguments{QStringLiteral("mousemove"), QString::number(where.x()),
                          QString::number(where.y())};
    if (button != 0)
        arguments << QStringLiteral("click") << QString::number(button);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0) << "xdotool failed";
}

// What xwininfo says about an X window; empty once the window is gone.
QString describeWindow(WId window, const QString& option)
{
    QProcess info;
    info.start(QStringLiteral("xwininfo"), {option, QStringLiteral("-id"), QString::number(window)});
    info.waitForFinished(10000);
    return info.exitCode() == 0 ? QString::fromLocal8Bit(info.readAllStandardOutput()) : QString();
}

// The X window that Qt docks into the notification area for an icon.
WId iconWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("QSystemTrayIconSys") && widget->isVisible())
            return widget->winId();
    return 0;
}

// Qt's own balloon, a top-level window of its own.
QWidget* visibleBalloon()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->inherits("QBalloonTip"))
            return widget;
    return nullptr;
}

// The component on the real notification shell of the private desktop, with the program's menu
// and the host's habit of opening the menu on a right press.
class RealTray : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(waitUntil([&] { return shell.hasNotificationArea(); })) << "no notification area";
        tray = std::make_unique<frmSysTray>(shell);
        log = std::make_unique<TrayEventLog>(*tray);
        tray->AddMenuItem(QStringLiteral("&Open TNLO FB App"), QStringLiteral("open"), true);
        tray->AddMenuItem(QStringLiteral("-"), QString());
        tray->AddMenuItem(QStringLiteral("Login\\Logout"), QStringLiteral("login"));
        tray->AddMenuItem(QStringLiteral("-"), QString());
        tray->AddMenuItem(QStringLiteral("&Exit"), QStringLiteral("Exit"));
        QObject::connect(tray.get(), &frmSysTray::SysTrayMouseDown, tray.get(), [this](int button) {
            if (button == 2)
                tray->ShowMenu();
        });
        tray->setToolTip(QStringLiteral("Tunalo"));
        ASSERT_EQ(shell.trayIcons().size(), 1u);
        icon = shell.trayIcons().front();
        // Embedded in the notification area at the bottom right of the 1280x800 screen.
        ASSERT_TRUE(waitUntil([&] { return icon->isVisible() && iconWindow() != 0; }));
        // Docked: the notification area, not the root, is the window's parent, and it shows.
        ASSERT_TRUE(waitUntil([&] {
            return describeWindow(iconWindow(), QStringLiteral("-stats"))
                .contains(QLatin1String("IsViewable"));
        }));
        const QString tree = describeWindow(iconWindow(), QStringLiteral("-tree"));
        const auto idAfter = [&](QLatin1String label) {
            return tree.section(label, 1, 1).section(QLatin1Char(' '), 0, 0).toStdString();
        };
        EXPECT_NE(idAfter(QLatin1String("Parent window id: ")), idAfter(QLatin1String("Root window id: ")))
            << tree.toStdString();
        ASSERT_TRUE(waitUntil([&] {
            return icon->geometry().top() >= 760 && icon->geometry().left() >= 1100;
        })) << "the icon is not in the notification area: "
            << icon->geometry().x() << "," << icon->geometry().y();
    }

    bool logged(const QStringList& entries)
    {
        return waitUntil([&] { return log->entries == entries; }, 10000);
    }

    QtTrayShell shell;
    std::unique_ptr<frmSysTray> tray;
    std::unique_ptr<TrayEventLog> log;
    QSystemTrayIcon* icon = nullptr;
};

TEST_F(RealTray, ShowsTheIconWithItsTipAndReportsALeftClickAsOnePressAtTheRelease)
{
    EXPECT_TRUE(tray->isBalloonShell());
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Tunalo"));
    EXPECT_FALSE(icon->icon().isNull());
    pointAt(icon->geometry().center(), 1);
    EXPECT_TRUE(logged({QStringLiteral("down 1")})) << log->entries.join(QLatin1Char(',')).toStdString();
}

TEST_F(RealTray, ThePointerRestingOnTheIconIsReportedAsAMove)
{
    // Qt starts the tip's timer on a move inside the icon once the pointer has entered it.
    pointAt(icon->geometry().center());
    waitUntil([] { return false; }, 300);
    pointAt(icon->geometry().center() + QPoint(1, 1));
    EXPECT_TRUE(logged({QStringLiteral("move")})) << log->entries.join(QLatin1Char(',')).toStdString();
}

TEST_F(RealTray, AClickOnTheBalloonIsReportedAsBalloonClicked)
{
    tray->ShowBalloonTip(QStringLiteral("Artist - Title (Click To Post)"), QStringLiteral("Tunalo"), 16);
    ASSERT_TRUE(waitUntil([] { return visibleBalloon() != nullptr; }));
    ASSERT_TRUE(logged({QStringLiteral("show")}));
    QWidget* balloon = visibleBalloon();
    pointAt(balloon->mapToGlobal(balloon->rect().center()), 1);
    EXPECT_TRUE(logged({QStringLiteral("show"), QStringLiteral("clicked")}))
        << log->entries.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(visibleBalloon(), nullptr);
}

TEST_F(RealTray, AClickOnTheIconWhileABalloonShowsOnlyHidesTheBalloon)
{
    tray->ShowBalloonTip(QStringLiteral("Song Posted"), QString(), 0);
    ASSERT_TRUE(waitUntil([] { return visibleBalloon() != nullptr; }));
    pointAt(icon->geometry().center(), 1);
    EXPECT_TRUE(logged({QStringLiteral("show"), QStringLiteral("hide"), QStringLiteral("down 1")}))
        << log->entries.join(QLatin1Char(',')).toStdString();
}

// Each of Qt's balloons leaves pictures in the program's picture cache that no later one finds; a
// program that shows one per song all day lets them go with the balloon.
TEST_F(RealTray, ABalloonThatIsLeftAloneTimesOutAndLeavesNoPicturesBehind)
{
    pointAt({10, 10}); // a balloon under the pointer stays
    QPixmap drawn(32, 32);
    drawn.fill(Qt::red);
    const QPixmapCache::Key before = QPixmapCache::insert(drawn);
    tray->ShowBalloonTip(QStringLiteral("Song Posted"), QString(), 0, 1500);
    ASSERT_TRUE(waitUntil([] { return visibleBalloon() != nullptr; }));
    const QPixmapCache::Key during = QPixmapCache::insert(drawn);
    EXPECT_TRUE(logged({QStringLiteral("show"), QStringLiteral("timeout")}))
        << log->entries.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(waitUntil([] { return visibleBalloon() == nullptr; }));
    QPixmap found;
    EXPECT_FALSE(QPixmapCache::find(before, &found));
    EXPECT_FALSE(QPixmapCache::find(during, &found));
}

TEST_F(RealTray, ARightClickOpensTheMenuWithTheDefaultInBoldAndExitReportsItsKey)
{
    pointAt(icon->geometry().center(), 3);
    ASSERT_TRUE(logged({QStringLiteral("down 2"), QStringLiteral("up 2")}))
        << log->entries.join(QLatin1Char(',')).toStdString();
    ASSERT_TRUE(waitUntil([&] { return shell.openMenu() && shell.openMenu()->isVisible(); }));
    QMenu* menu = shell.openMenu();
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_TRUE(actions[0]->font().bold());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_FALSE(actions[4]->font().bold());

    pointAt(menu->mapToGlobal(menu->actionGeometry(actions[4]).center()), 1);
    EXPECT_TRUE(logged({QStringLiteral("down 2"), QStringLiteral("up 2"), QStringLiteral("menu 4 Exit")}))
        << log->entries.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(waitUntil([&] { return !shell.openMenu(); }));
}

TEST_F(RealTray, UnloadingRemovesTheIcon)
{
    const WId window = iconWindow();
    tray->Form_QueryUnload();
    EXPECT_TRUE(shell.trayIcons().empty());
    EXPECT_TRUE(waitUntil([&] { return describeWindow(window, QStringLiteral("-stats")).isEmpty(); }));
}

} // namespace
} // namespace tunalo::test
