#include "support/appfixture.h"
#include "support/playerwindow.h"
#include "support/process.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"

#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <QWindow>

namespace tunalo::test {
namespace {

// Closes the window the way the window system does when the user presses its close box.
void closeFromTheWindowManager(QWidget& window)
{
    window.windowHandle()->close();
}

class MainWindowOnADesktop : public AppTest, public ::testing::WithParamInterface<bool> {};

// A window manager may ignore a minimise, so the close box hides the window on every desktop; it
// comes back from the tray icon, or without a notification area from a later start, with the
// panel it showed.
TEST_P(MainWindowOnADesktop, TheCloseBoxHidesTheTimerGoesOnAndTheWindowComesBackAsItWas)
{
    const bool notificationArea = GetParam();
    fakes.shell->notificationArea = notificationArea;
    startUp();
    interface& window = app->form<interface>();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible() && window.windowHandle()->isExposed(); }));
    app->showoptions();
    QWidget& options = app->form<optionsfrm>();

    closeFromTheWindowManager(window);
    EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
    EXPECT_TRUE(window.update->isActive());

    // The status line still follows the player while the window is away.
    fakes.windows->foreground = fakes.windows->add(QStringLiteral("Artist - Title - MediaMonkey"));
    fakes.clock->advance(100);
    EXPECT_EQ(window.sts->text(), QStringLiteral("Artist - Title - MediaMonkey"));

    if (notificationArea)
        window.m_frmSysTray_SysTrayDoubleClick(1);
    else
        fakes.lock->show();
    EXPECT_TRUE(waitUntil([&] { return window.isVisible() && window.windowHandle()->isExposed(); }));
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(options.isVisible());
    EXPECT_EQ(options.parentWidget(), window.cp);
}

// The client windows from the bottom of the stack to its top, as the window manager lists them.
QList<quint32> stacking()
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    xprop.waitForFinished(10000);
    QList<quint32> windows;
    const QString ids = QString::fromLatin1(xprop.readAllStandardOutput()).section(QLatin1Char('#'), 1);
    for (const QString& id : ids.split(QLatin1Char(','), Qt::SkipEmptyParts))
        windows.append(id.trimmed().toUInt(nullptr, 16));
    return windows;
}

// Whether one window is stacked above the other (the notification area stays above both).
bool above(quint32 upper, quint32 lower)
{
    const QList<quint32> windows = stacking();
    return windows.contains(lower) && windows.indexOf(upper) > windows.indexOf(lower);
}

TEST_F(AppTest, OpenFromTheTrayMenuAndTheHostsActivationRaiseACoveredWindow)
{
    startUp();
    interface& window = app->form<interface>();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible() && window.windowHandle()->isExposed(); }));
    const auto mainWindow = static_cast<quint32>(window.winId());
    PlayerWindow cover(QStringLiteral("A window in front - Some Player"));
    ASSERT_TRUE(cover.started());

    const std::pair<const char*, std::function<void()>> gestures[] = {
        {"open", [&] { window.m_frmSysTray_MenuClick(0, QStringLiteral("open")); }},
        {"activation", [&] { window.m_frmSysTray_SysTrayDoubleClick(1); }},
    };
    for (const auto& [name, gesture] : gestures) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(cover.send(QStringLiteral("activate")));
        ASSERT_TRUE(waitUntil([&] { return above(cover.handle(), mainWindow); }))
            << QDebug::toString(stacking()).toStdString();
        gesture();
        EXPECT_TRUE(waitUntil([&] { return above(mainWindow, cover.handle()); }, 5000))
            << QDebug::toString(stacking()).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Desktops, MainWindowOnADesktop, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "WithNotificationArea"
                                                           : "WithoutNotificationArea");
                         });

} // namespace
} // namespace tunalo::test
