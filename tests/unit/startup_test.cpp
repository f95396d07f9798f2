#include "core/settings.h"
#include "support/appfixture.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"

#include <QRadioButton>

namespace tunalo::test {
namespace {

using StartUp = AppTest;

TEST_F(StartUp, ASecondInstanceEndsBeforeAnythingIsCreated)
{
    fakes.lock->free = false;
    EXPECT_FALSE(app->startup());
    EXPECT_FALSE(app->isLoaded<interface>());
    EXPECT_FALSE(app->isLoaded<frmWeb>());
    EXPECT_TRUE(fakes.shell->calls.empty());
    EXPECT_EQ(fakes.settings->reads, 0);
    EXPECT_EQ(fakes.settings->saves, 0);
    EXPECT_TRUE(fakes.browsers->made.empty());
}

TEST_F(StartUp, OnAFirstStartWatchesMediaMonkeyWithEveryOptionOn)
{
    startUp();
    const AppState& state = app->state();
    EXPECT_EQ(state.selectedPlayer, 1);
    EXPECT_TRUE(app->form<smp>().mp[1]->isChecked());
    EXPECT_EQ(state.autoPublish, 1);
    EXPECT_EQ(state.autoDelete, 1);
    EXPECT_EQ(state.autoAlert, 1);
    EXPECT_EQ(state.screenWords, 1);
    EXPECT_TRUE(state.currentSong.isEmpty());
    EXPECT_TRUE(state.previousSong.isEmpty());
    EXPECT_EQ(state.publishing, 0);
    EXPECT_EQ(state.loginState, LoginState::NoneYet);
}

TEST_F(StartUp, SelectsTheLastUsedPlayer)
{
    fakes.settings->set(settings::kLastPlayer, QStringLiteral(" 3"));
    startUp();
    EXPECT_EQ(app->state().selectedPlayer, 3);
    EXPECT_TRUE(app->form<smp>().mp[3]->isChecked());
    EXPECT_FALSE(app->form<smp>().mp[1]->isChecked());
}

TEST_F(StartUp, TheLastPlayerMayBeTheOneOnTheSessionBusWhichIsFollowedFromTheStart)
{
    fakes.settings->set(settings::kLastPlayer, QStringLiteral(" 4"));
    startUp();
    EXPECT_EQ(app->state().selectedPlayer, 4);
    EXPECT_TRUE(app->form<smp>().mp[4]->isChecked());
    EXPECT_TRUE(fakes.players->watching);
}

TEST_F(StartUp, SendsTheHomeBrowserHomeThenToTheRootAndHomeAgain)
{
    startUp();
    ASSERT_FALSE(fakes.browsers->made.empty());
    // The home browser is the first one made, by its form, before the player panel exists.
    EXPECT_EQ(fakes.browsers->made.front()->navigations,
              QStringList({QStringLiteral("http://127.0.0.1:8631/fb/tnlouserhome.php"),
                           QStringLiteral("http://127.0.0.1:8631/"),
                           QStringLiteral("http://127.0.0.1:8631/fb/tnlouserhome.php")}));
}

TEST_F(StartUp, ShowsTheMainWindowWithTheLoaderDockedAndTheOtherFormsHidden)
{
    startUp();
    interface& window = app->form<interface>();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(app->form<frmWeb>().isVisible());
    EXPECT_TRUE(app->isLoaded<optionsfrm>());
    EXPECT_FALSE(app->form<optionsfrm>().isVisible());
    EXPECT_FALSE(app->form<smp>().isVisible());
    frmloadhome& loader = app->form<frmloadhome>();
    EXPECT_EQ(loader.parentWidget(), window.cp);
    EXPECT_TRUE(loader.isVisible());
}

// Started by the desktop at log-in, Tunalo stays in the notification area until a later start,
// from the menu for one, asks for its window.
TEST_F(StartUp, AStartAtLogInStaysInTheTrayUntilALaterStartAsksForTheWindow)
{
    ASSERT_TRUE(app->startup(StartShown::InTray));
    interface& window = app->form<interface>();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(app->form<frmloadhome>().parentWidget(), window.cp) << "the home page loads all the same";
    ASSERT_TRUE(fakes.lock->show) << "a later start's request has somewhere to go";
    fakes.lock->show();
    EXPECT_TRUE(window.isVisible());
}

TEST(ServiceBase, ComesFromTheEnvironmentWithoutATrailingSlash)
{
    qputenv("TUNALO_SERVICE_URL", "https://tunalo.example:9000/");
    FakePlatform fakes;
    mainmodule app(fakes.platform);
    qunsetenv("TUNALO_SERVICE_URL");
    EXPECT_EQ(app.serviceBase(), QStringLiteral("https://tunalo.example:9000"));
    EXPECT_EQ(app.homePageAddress(), QStringLiteral("https://tunalo.example:9000/fb/tnlouserhome.php"));
}

} // namespace
} // namespace tunalo::test
