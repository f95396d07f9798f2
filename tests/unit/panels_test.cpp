#include "core/settings.h"
#include "support/appfixture.h"
#include "support/process.h"
#include "support/uiprobe.h"
#include "ui/aboutfrm.h"
#include "ui/cpanel.h"
#include "ui/helpfrm.h"
#include "ui/info.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"
#include "web/frmloadhome.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace tunalo::test {
namespace {

const QString kSelectPlayerBody = QStringLiteral("In order to be able to post the song you are currently "
                                                 "playing on facebook, you must first select a media "
                                                 "player from the 'Select Media Player' Panel");

struct WrapCase {
    QString body;
    QString laidOut;
};

TEST(MessageLayout, BreaksBeforeAWordThatPassesThirtyCharactersAtMostFourTimes)
{
    const QString longWord(31, QLatin1Char('x'));
    const std::vector<WrapCase> rows = {
        {kSelectPlayerBody,
         QStringLiteral("In order to be able to post \r\n the song you are currently \r\n playing on "
                        "facebook, you must \r\n first select a media player \r\n from the 'Select "
                        "Media Player' Panel ")},
        {longWord, QStringLiteral("\r\n ") + longWord + QLatin1Char(' ')},
        {QStringLiteral("a   b"), QStringLiteral("a   b ")},
        {QString(), QString()},
        // After the fourth break the rest stays on the fifth line however long it is.
        {QString(QStringLiteral("%1 ").arg(longWord)).repeated(6).chopped(1),
         QString(QStringLiteral("\r\n %1 ").arg(longWord)).repeated(4) +
             QString(QStringLiteral("%1 ").arg(longWord)).repeated(2)},
    };
    for (const WrapCase& row : rows)
        EXPECT_EQ(wrapMessage(row.body).toStdString(), row.laidOut.toStdString());
}

using Panels = AppTest;

TEST_F(Panels, TheMessagePanelShowsItsHeadingAndTextInFrontOfTheContainer)
{
    startUp();
    app->showmessage(QStringLiteral("Please Select A Media Player"), kSelectPlayerBody);
    info& panel = app->form<info>();
    EXPECT_EQ(panel.title->text(), QStringLiteral("Please Select A Media Player"));
    EXPECT_EQ(panel.msg->text().count(QLatin1Char('\n')), 4);
    EXPECT_FALSE(panel.msg->text().contains(QLatin1Char('\r')));
    EXPECT_EQ(frontPanel(*app), &panel);
    EXPECT_EQ(panel.geometry(), app->form<interface>().cp->rect());
    EXPECT_FALSE(panel.Picture1->pixmap().isNull());

    app->showmessage(QStringLiteral("Empty"), QString());
    EXPECT_TRUE(panel.msg->text().isEmpty());
    EXPECT_EQ(frontPanel(*app), &panel);
}

TEST_F(Panels, ThePanelDockedLastLiesInFrontAndTheOthersStayBehindIt)
{
    startUp();
    interface& window = app->form<interface>();
    app->showmessage(QStringLiteral("First"), QStringLiteral("one"));
    window.Command4_Click();
    optionsfrm& options = app->form<optionsfrm>();
    EXPECT_EQ(frontPanel(*app), &options);
    app->showmessage(QStringLiteral("Second"), QStringLiteral("two"));
    EXPECT_EQ(frontPanel(*app), &app->form<info>());
    EXPECT_EQ(app->form<info>().title->text(), QStringLiteral("Second"));
    EXPECT_EQ(options.parentWidget(), window.cp);
    EXPECT_FALSE(options.isHidden());

    window.Command5_Click();
    EXPECT_EQ(frontPanel(*app), &app->form<aboutfrm>());
    window.Command6_Click();
    EXPECT_EQ(frontPanel(*app), &app->form<helpfrm>());
    window.Command3_Click();
    EXPECT_EQ(frontPanel(*app), &app->form<smp>());
    for (QWidget* panel :
         std::initializer_list<QWidget*>{&options, &app->form<aboutfrm>(), &app->form<smp>()})
        EXPECT_EQ(panel->geometry(), window.cp->rect());
}

struct PlayersCase {
    const char* name;
    std::vector<const char*> titles; // below the foreground window
    bool busPlayer;                  // a player on the session bus
    std::array<bool, 5> running; // for each row of the player table
};

class PlayerPanel : public AppTest, public ::testing::WithParamInterface<PlayersCase> {};

TEST_P(PlayerPanel, EnablesTheRunningPlayersAndLinksToTheOthers)
{
    startUp();
    fakes.windows->foreground = fakes.windows->add(QStringLiteral("Terminal"));
    for (const char* title : GetParam().titles)
        fakes.windows->add(QString::fromUtf8(title));
    fakes.players->any = GetParam().busPlayer;
    smp& panel = app->form<smp>();
    app->showplayerpanel();
    panel.grab(); // a repaint looks again

    // The players on the session bus have no page to download from.
    ASSERT_EQ(playerCount(), 5);
    const std::array<const char*, 5> downloads = {"Download Winamp", "Download MediaMonkey",
                                                             "Download VLC Media Player",
                                                             "Download RealPlayer", nullptr};
    for (std::size_t index = 0; index < downloads.size(); ++index) {
        const bool running = GetParam().running[index];
        EXPECT_EQ(panel.mp[index]->isEnabled(), running) << "player " << index;
        EXPECT_EQ(panel.dl[index]->isHidden(), running || !downloads[index]) << "player " << index;
        if (!running && downloads[index]) {
            EXPECT_EQ(panel.dl[index]->text(), QString::fromLatin1(downloads[index]));
        }
    }
    EXPECT_EQ(panel.mp[4]->text(), QStringLiteral("Other player (MPRIS)"));
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, PlayerPanel,
    ::testing::Values(
        PlayersCase{"None", {}, false, {false, false, false, false, false}},
        PlayersCase{"WinampAndRealPlayer",
                    {"1. A - B - Winamp", "RealPlayer: A - B"},
                    false,
                    {true, false, false, true, false}},
        // The short key finds any window that mentions the player.
        PlayersCase{
            "AnyWindowNamingVlc", {"vlc-setup.exe - Downloads"}, false, {false, false, true, false, false}},
        PlayersCase{"AnyLetterCase", {"A - B - MEDIAMONKEY"}, false, {false, true, false, false, false}},
        PlayersCase{"OnTheBusOnly", {}, true, {false, false, false, false, true}},
        // A window titled after the bus is no player on it.
        PlayersCase{"AWindowNamingTheBus", {"MPRIS - Wikipedia"}, false, {false, false, false, false, false}},
        PlayersCase{"WindowAndBus", {"A - B - Winamp"}, true, {true, false, false, false, true}}),
    [](const ::testing::TestParamInfo<PlayersCase>& info) { return std::string(info.param.name); });

TEST_F(Panels, APlayerThatStartsOrStopsShowsAtTheNextRepaintAndKeepsItsChoice)
{
    startUp();
    fakes.windows->foreground = fakes.windows->add(QStringLiteral("Terminal"));
    smp& panel = app->form<smp>();
    app->showplayerpanel();
    panel.grab();
    ASSERT_FALSE(panel.mp[0]->isEnabled());
    panel.mp[0]->click(); // disabled: nothing happens
    EXPECT_EQ(app->state().selectedPlayer, 1);

    const HWND winamp = fakes.windows->add(QStringLiteral("A - B - Winamp"));
    EXPECT_FALSE(panel.mp[0]->isEnabled());
    panel.grab();
    EXPECT_TRUE(panel.mp[0]->isEnabled());
    panel.mp[0]->click();
    EXPECT_EQ(app->state().selectedPlayer, 0);

    fakes.windows->destroy(winamp);
    QResizeEvent resize(panel.size(), panel.size());
    QCoreApplication::sendEvent(&panel, &resize);
    EXPECT_FALSE(panel.mp[0]->isEnabled());
    EXPECT_TRUE(panel.mp[0]->isChecked());
    EXPECT_EQ(app->state().selectedPlayer, 0);
}

void click(QWidget* widget)
{
    const QPointF inside(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, inside, widget->mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, widget->mapToGlobal(inside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QCoreApplication::sendEvent(widget, &release);
}

TEST_F(Panels, LinksOpenTheirPagesInTheUsersBrowserAndChangeNothingElse)
{
    startUp();
    smp& panel = app->form<smp>();
    for (QLabel* link : panel.dl)
        click(link);
    panel.dl_Click(playerCount());
    const QStringList& opened = fakes.shellOpen->opened;
    ASSERT_EQ(opened.size(), 4);
    const std::array<const char*, 4> paths = {"/", "/", "/vlc/", "/realplayer/"};
    for (int index = 0; index < 4; ++index) {
        const QUrl page(opened[index]);
        EXPECT_TRUE(page.isValid() && page.scheme() == QStringLiteral("https"))
            << opened[index].toStdString();
        EXPECT_EQ(page.path(), QString::fromLatin1(paths[index]));
    }
    EXPECT_NE(QUrl(opened[0]).host(), QUrl(opened[1]).host());
    EXPECT_EQ(app->state().selectedPlayer, 1);

    helpfrm& help = app->form<helpfrm>();
    click(help.Label3);
    ASSERT_EQ(opened.size(), 5);
    const QUrl page(opened.back());
    EXPECT_EQ(page.path(), QStringLiteral("/apps/application.php"));
    EXPECT_FALSE(QUrlQuery(page).queryItemValue(QStringLiteral("id")).isEmpty());
}

// The list of the players on the bus, as the user sees it: each player's name and whether its tick is set.
std::vector<std::pair<QString, bool>> busList(const smp& panel)
{
    std::vector<std::pair<QString, bool>> shown;
    for (std::size_t index = 0; index < panel.busPlayer.size(); ++index)
        shown.emplace_back(panel.busPlayer[index]->text(), panel.postFrom[index]->isChecked());
    return shown;
}

TEST_F(Panels, ThePlayersOnTheBusAreListedLiveAndTheirTicksAreTheStoredChoice)
{
    using Shown = std::vector<std::pair<QString, bool>>;
    startUp();
    fakes.players->any = true;
    fakes.players->onBus = {{"chromium", "Chromium"}, {"chromium", "Chromium"}, {"strawberry", "Strawberry"}};
    smp& panel = app->form<smp>();
    app->showplayerpanel();
    panel.grab();
    panel.mp[1]->click();
    EXPECT_TRUE(panel.busList->isHidden()) << "only with the players on the bus chosen";
    panel.mp[4]->click();
    EXPECT_FALSE(panel.busList->isHidden());
    // By default every player counts but the browser; its two windows are one player.
    EXPECT_EQ(busList(panel), (Shown{{"Chromium", false}, {"Strawberry", true}}));
    for (QCheckBox* tick : panel.postFrom)
        EXPECT_EQ(tick->text(), QStringLiteral("Post songs from this player"));

    panel.postFrom[0]->click();
    EXPECT_EQ(fakes.settings->value(settings::kMprisPlayers), "chromium,strawberry");
    EXPECT_EQ(fakes.players->choice, "chromium,strawberry") << "followed at once";
    panel.postFrom[0]->click();
    panel.postFrom[1]->click();
    EXPECT_EQ(fakes.settings->value(settings::kMprisPlayers), "none") << "no player is not every player";

    // A player that comes is listed at the panel's next look, a player that goes is no longer.
    fakes.players->onBus = {{"mpv", "mpv"}, {"strawberry", "Strawberry"}};
    panel.checkBusPlayers();
    EXPECT_EQ(busList(panel), (Shown{{"mpv", false}, {"Strawberry", false}}));
    panel.postFrom[1]->click();
    fakes.players->onBus = {{"chromium", "Chromium"}, {"mpv", "mpv"}};
    panel.checkBusPlayers();
    panel.postFrom[0]->click();
    EXPECT_EQ(fakes.settings->value(settings::kMprisPlayers), "strawberry,chromium")
        << "a chosen player that is away stays chosen";
}

TEST_F(Panels, AChoiceEditedByHandIsReadForgivinglyAtStartAndWhenThePanelShows)
{
    fakes.settings->set(settings::kMprisPlayers, " Chromium ,nosuchplayer");
    startUp();
    EXPECT_EQ(fakes.players->choice, " Chromium ,nosuchplayer");
    fakes.players->any = true;
    fakes.players->onBus = {{"chromium", "Chromium"}, {"strawberry", ""}};
    smp& panel = app->form<smp>();
    panel.mp_Click(4);
    app->showplayerpanel();
    // A player without a name for itself is listed by its name on the bus.
    EXPECT_EQ(busList(panel), (std::vector<std::pair<QString, bool>>{{"Chromium", true}, {"strawberry", false}}));
}

TEST_F(Panels, OptionsAreStoredAtTheFirstFillAndOnEveryChange)
{
    startUp();
    // Start-up already stored the default word list; the options wait for the panel.
    EXPECT_EQ(fakes.settings->value(settings::kScreenWordList), QStringLiteral("untitled,unknown,track,"));
    EXPECT_FALSE(fakes.settings->has(settings::kAutoPublish));
    fakes.settings->set(settings::kAutoAlert, QStringLiteral(" 0"));

    app->form<interface>().Command4_Click();
    optionsfrm& options = app->form<optionsfrm>();
    for (const QString& key : {settings::kAutoPublish, settings::kAutoDelete, settings::kScreenWords})
        EXPECT_EQ(fakes.settings->value(key), QStringLiteral(" 1")) << key.toStdString();
    EXPECT_EQ(fakes.settings->value(settings::kAutoAlert), QStringLiteral(" 0"));
    EXPECT_FALSE(options.Check2->isChecked());

    options.Check1->click();
    EXPECT_EQ(fakes.settings->value(settings::kAutoDelete), QStringLiteral(" 0"));
    options.Check2->click();
    EXPECT_EQ(fakes.settings->value(settings::kAutoAlert), QStringLiteral(" 1"));
    // The state follows at the next load, not at the click.
    EXPECT_EQ(app->state().autoDelete, 1);

    options.Text1->setText(QStringLiteral("live"));
    EXPECT_EQ(fakes.settings->value(settings::kScreenWordList), QStringLiteral("live"));
    options.Text1->clear();
    EXPECT_TRUE(fakes.settings->has(settings::kScreenWordList));
    EXPECT_EQ(fakes.settings->value(settings::kScreenWordList), QString());
    EXPECT_EQ(app->cycle().hasscreenword(QStringLiteral("untitled live track")), 0);
}

// A change the store or the desktop refused is told in the message panel, once per cause, and the
// box shows what is in effect.
TEST_F(Panels, ARefusedChangeIsToldOncePerCauseAndTheBoxShowsWhatIsInEffect)
{
    startUp();
    interface& window = app->form<interface>();
    window.Command4_Click();
    optionsfrm& options = app->form<optionsfrm>();
    ASSERT_TRUE(options.Check1->isChecked());
    fakes.settings->refusal = QStringLiteral("cannot save the settings: the file is read-only");

    options.Check1->click();
    EXPECT_TRUE(options.Check1->isChecked()) << "the store still holds the option on";
    EXPECT_EQ(fakes.settings->value(settings::kAutoDelete), QStringLiteral(" 1"));
    info& message = app->form<info>();
    EXPECT_EQ(frontPanel(*app), &message);
    EXPECT_EQ(message.title->text(), QStringLiteral("Your Options Could Not Be Saved"));
    EXPECT_TRUE(message.msg->text().simplified().contains(QStringLiteral("is read-only")))
        << message.msg->text().toStdString();

    message.title->setText(QStringLiteral("seen"));
    options.Check2->click();
    options.Text1->setText(QStringLiteral("live"));
    EXPECT_TRUE(options.Check2->isChecked());
    EXPECT_EQ(message.title->text(), QStringLiteral("seen")) << "the same cause is told once";

    fakes.autostart->refusal = QStringLiteral("the folder cannot be written");
    options.Check4->click();
    EXPECT_FALSE(options.Check4->isChecked());
    EXPECT_EQ(message.title->text(), QStringLiteral("Start At Log-in Could Not Be Changed"));
    EXPECT_TRUE(message.msg->text().simplified().contains(QStringLiteral("cannot be written")));

    fakes.settings->refusal.clear();
    options.Check1->click();
    EXPECT_FALSE(options.Check1->isChecked());
    EXPECT_EQ(fakes.settings->value(settings::kAutoDelete), QStringLiteral(" 0")) << "a later change goes through";
}

TEST_F(Panels, StartAtLogInShowsAndChangesTheDesktopsChoiceAndNeverTheStore)
{
    startUp();
    interface& window = app->form<interface>();
    window.Command4_Click();
    optionsfrm& options = app->form<optionsfrm>();
    EXPECT_FALSE(options.Check4->isChecked());

    // Switched on elsewhere (the desktop's own settings): the panel shows it and changes nothing.
    fakes.autostart->enabled = true;
    const int savesBefore = fakes.settings->saves;
    window.Command4_Click();
    EXPECT_TRUE(options.Check4->isChecked());
    EXPECT_EQ(fakes.autostart->changes, 0);

    options.Check4->click();
    EXPECT_FALSE(fakes.autostart->enabled);
    options.Check4->click();
    EXPECT_TRUE(fakes.autostart->enabled);
    EXPECT_EQ(fakes.settings->saves, savesBefore);

    // A change the desktop refused is not shown as made.
    fakes.autostart->refusal = QStringLiteral("the folder cannot be written");
    options.Check4->click();
    EXPECT_TRUE(fakes.autostart->enabled);
    EXPECT_TRUE(options.Check4->isChecked());
}

using MainWindow = AppTest;

TEST_F(MainWindow, ExitSavesThePlayerInNumberFormAndEndsTheEventLoop)
{
    startUp();
    interface& window = app->form<interface>();
    app->state().selectedPlayer = -1;
    QTimer::singleShot(0, &window, [&] { window.m_frmSysTray_MenuClick(4, QStringLiteral("Exit")); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(fakes.settings->value(settings::kLastPlayer), QStringLiteral("-1"));
    EXPECT_FALSE(window.update->isActive());
    EXPECT_EQ(window.m_frmSysTray, nullptr); // unloaded, which takes the icon away
    // With the icon gone a balloon has nowhere to go, and asking for one is harmless.
    window.showBalloon(QStringLiteral("late"), QStringLiteral("Tunalo"), 16);
}

TEST_F(MainWindow, ExitSavesAChosenPlayerWithALeadingBlank)
{
    startUp();
    interface& window = app->form<interface>();
    app->state().selectedPlayer = 2;
    window.m_frmSysTray_MenuClick(4, QStringLiteral("Exit"));
    EXPECT_EQ(fakes.settings->value(settings::kLastPlayer), QStringLiteral(" 2"));
}

TEST_F(MainWindow, ComesBackWhereThePersonLeftItAlsoInTheNextRunAndOnAScreenThatExists)
{
    startUp();
    interface& window = app->form<interface>();
    // The test's screen is 800 x 600, the window some 700 x 470.
    window.move(60, 100);
    window.close(); // to the tray
    EXPECT_EQ(fakes.settings->value(settings::kWindowPlace), QStringLiteral("60,100"));
    window.m_frmSysTray_SysTrayDoubleClick(1);
    EXPECT_EQ(window.pos(), QPoint(60, 100));
    const QSize size = window.size();

    // The next run, after the person moved it once more and chose "&Exit".
    window.move(20, 40);
    window.endProgram();
    app.reset();
    app = std::make_unique<mainmodule>(fakes.platform);
    startUp();
    EXPECT_EQ(app->form<interface>().pos(), QPoint(20, 40));
    EXPECT_EQ(app->form<interface>().size(), size);

    // A place on a screen that has gone since shows on the one there is.
    app.reset();
    fakes.settings->set(settings::kWindowPlace, QStringLiteral("5000,-400"));
    app = std::make_unique<mainmodule>(fakes.platform);
    startUp();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(QRect(app->form<interface>().pos(), app->form<interface>().size())))
        << app->form<interface>().x() << "," << app->form<interface>().y();
}

struct PlaceCase {
    const char* name;
    QRect frame;
    QList<QRect> screens;
    QPoint place;
};

void PrintTo(const PlaceCase& row, std::ostream* out)
{
    *out << row.name;
}

class Placing : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(Placing, KeepsAFrameOnAScreenAndMovesItOnlyAsFarAsItMust)
{
    EXPECT_EQ(placeOnScreens(GetParam().frame, GetParam().screens), GetParam().place);
}

const QRect kLeftScreen(0, 0, 1920, 1080);
const QRect kRightScreen(1920, 0, 1280, 1024);

INSTANTIATE_TEST_SUITE_P(
    Table, Placing,
    ::testing::Values(
        PlaceCase{"InsideOne", {300, 200, 700, 480}, {kLeftScreen, kRightScreen}, {300, 200}},
        PlaceCase{"OnTheSecond", {2000, 100, 700, 480}, {kLeftScreen, kRightScreen}, {2000, 100}},
        PlaceCase{"AcrossTwoGoesToTheOneWithMore", {1800, 100, 700, 480}, {kLeftScreen, kRightScreen}, {1920, 100}},
        PlaceCase{"PastTheBottomRight", {1500, 900, 700, 480}, {kLeftScreen}, {1220, 600}},
        PlaceCase{"OnAScreenThatHasGone", {2500, 300, 700, 480}, {kLeftScreen}, {1220, 300}},
        PlaceCase{"AboveTheTop", {100, -50, 700, 480}, {kLeftScreen}, {100, 0}},
        PlaceCase{"LargerThanTheScreenKeepsItsTopLeft", {-100, -100, 900, 700}, {{0, 0, 800, 600}}, {0, 0}}),
    [](const ::testing::TestParamInfo<PlaceCase>& info) { return std::string(info.param.name); });

TEST_F(MainWindow, TheTrayBringsTheWindowBackAndLoginGoesHome)
{
    startUp();
    interface& window = app->form<interface>();
    auto& home = dynamic_cast<FakeBrowser&>(*fakes.browsers->made.front());
    const auto homeNavigations = home.navigations.size();

    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.update->isActive());
    for (const char* key : {"exit", "LOGIN", "Open", ""})
        window.m_frmSysTray_MenuClick(0, QString::fromLatin1(key));
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(fakes.settings->has(settings::kLastPlayer));
    EXPECT_EQ(home.navigations.size(), homeNavigations);

    window.m_frmSysTray_MenuClick(0, QStringLiteral("open"));
    EXPECT_TRUE(window.isVisible());
    window.hide();
    window.m_frmSysTray_SysTrayDoubleClick(1);
    EXPECT_TRUE(window.isVisible());
    window.hide();
    window.m_frmSysTray_SysTrayMouseDown(1);
    EXPECT_TRUE(window.isVisible());
    window.hide();

    app->state().loginState = LoginState::LoggedIn;
    window.m_frmSysTray_MenuClick(2, QStringLiteral("login"));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(app->state().loginState, LoginState::NoneYet);
    EXPECT_EQ(home.navigations.mid(homeNavigations),
              QStringList({app->serviceBase() + QStringLiteral("/"), app->homePageAddress()}));
}

TEST_F(MainWindow, OffTheScreenTheWindowHoldsNoPicturesAndShownAgainLooksAsBefore)
{
    startUp();
    interface& window = app->form<interface>();
    frmloadhome& loader = app->form<frmloadhome>();
    const auto loaderPictures = [&] {
        int held = loader.st->pixmap().isNull() ? 0 : 1;
        for (QLabel* frame : loader.frame)
            held += frame->pixmap().isNull() ? 0 : 1;
        return held;
    };
    ASSERT_TRUE(loader.isVisible()) << "the home page has not told the log-in state yet";
    loader.gifAnim_Timer();
    loader.gifAnim_Timer();
    const QImage before = window.grab().toImage();
    EXPECT_TRUE(window.holdsBackground());
    EXPECT_EQ(loaderPictures(), 12);

    window.close();
    EXPECT_FALSE(window.holdsBackground());
    EXPECT_EQ(loaderPictures(), 0);
    nextTick();
    EXPECT_FALSE(window.testAttribute(Qt::WA_WState_Created)) << "the window on the desktop is given back";

    window.showNormal();
    EXPECT_EQ(window.grab().toImage(), before) << "the loader shows the frame it stopped at";
    EXPECT_TRUE(window.holdsBackground());
    EXPECT_EQ(loaderPictures(), 12);
    EXPECT_TRUE(window.testAttribute(Qt::WA_WState_Created));
}

TEST_F(MainWindow, WithoutANotificationAreaClosingHidesAndALaterStartBringsItBack)
{
    fakes.shell->notificationArea = false;
    startUp();
    interface& window = app->form<interface>();
    window.close();
    EXPECT_FALSE(window.isVisible());
    fakes.lock->show();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(MainWindow, TheIconGoesToTheTrayAndTheWindowHasItsLayout)
{
    startUp();
    interface& window = app->form<interface>();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("TUNALO"));
    EXPECT_FALSE(fakes.shell->iconFor(0x501).isNull());
    // Each size shipped is the picture drawn for it, any other is the next larger one made smaller.
    const QIcon icon = window.windowIcon();
    EXPECT_EQ(icon.availableSizes().size(), 7);
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        EXPECT_EQ(icon.pixmap(side).toImage(), QImage(QStringLiteral(":/tunalo/icon-%1.png").arg(side))
                                                   .convertToFormat(icon.pixmap(side).toImage().format()))
            << side;
    EXPECT_EQ(icon.pixmap(20).size(), QSize(20, 20));
    EXPECT_EQ(icon.pixmap(20).toImage(),
              QImage(QStringLiteral(":/tunalo/icon-24.png"))
                  .scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(icon.pixmap(20).toImage().format()));
    EXPECT_NE(icon.pixmap(32, QIcon::Disabled).toImage(), icon.pixmap(32).toImage());
    EXPECT_EQ(window.size(), QSize(698, 472));
    EXPECT_EQ(window.cp->geometry(), QRect(168, 96, 521, 369));
    // The tick follows the player ten times a second.
    fakes.windows->foreground = fakes.windows->add(QStringLiteral("A - B - MediaMonkey"));
    const QString before = window.sts->text();
    fakes.clock->advance(99);
    EXPECT_EQ(window.sts->text(), before);
    fakes.clock->advance(1);
    EXPECT_EQ(window.sts->text(), QStringLiteral("A - B - MediaMonkey"));
    // Every button lies beside the container, none on another.
    QRect below;
    for (QPushButton* button : {window.Command1, window.Command2, window.Command3, window.Command4,
                                window.Command5, window.Command6}) {
        EXPECT_FALSE(button->geometry().intersects(below)) << button->text().toStdString();
        EXPECT_LT(button->geometry().right(), window.cp->geometry().left());
        below = button->geometry();
    }
}

} // namespace
} // namespace tunalo::test
