#include "support/appfixture.h"
#include "support/process.h"
#include "ui/interface.h"

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

TEST_P(MainWindowOnADesktop, TheCloseBoxHidesOrMinimizesAndTheTimerGoesOn)
{
    const bool notificationArea = GetParam();
    fakes.shell->notificationArea = notificationArea;
    startUp();
    interface& window = app->form<interface>();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible() && window.windowHandle()->isExposed(); }));

    closeFromTheWindowManager(window);
    if (notificationArea) {
        EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
    } else {
        EXPECT_TRUE(waitUntil([&] { return window.isMinimized(); }));
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_TRUE(window.update->isActive());

    // The status line still follows the player while the window is away.
    fakes.windows->foreground = fakes.windows->add(QStringLiteral("Artist - Title - MediaMonkey"));
    fakes.clock->advance(100);
    EXPECT_EQ(window.sts->text(), QStringLiteral("Artist - Title - MediaMonkey"));

    window.m_frmSysTray_SysTrayDoubleClick(1);
    EXPECT_TRUE(waitUntil([&] { return window.isVisible() && !window.isMinimized(); }));
}

INSTANTIATE_TEST_SUITE_P(Desktops, MainWindowOnADesktop, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "WithNotificationArea"
                                                           : "WithoutNotificationArea");
                         });

} // namespace
} // namespace tunalo::test
