#include "support/appfixture.h"
#include "support/process.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"

#include <QLabel>
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

INSTANTIATE_TEST_SUITE_P(Desktops, MainWindowOnADesktop, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "WithNotificationArea"
                                                           : "WithoutNotificationArea");
                         });

} // namespace
} // namespace tunalo::test
