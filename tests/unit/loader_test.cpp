#include "support/appfixture.h"
#include "support/process.h"
#include "ui/darkpalette.h"
#include "ui/interface.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"
#include "web/updatewb.h"

#include <QLabel>
#include <QTimer>

namespace tunalo::test {
namespace {

class Loader : public AppTest {
protected:
    FakeBrowser& home() { return static_cast<FakeBrowser&>(app->form<frmWeb>().wb()); }
    FakeBrowser& post() { return static_cast<FakeBrowser&>(app->form<updatewb>().wb()); }
    frmloadhome& loader() { return app->form<frmloadhome>(); }
    LoginWatch& watch() { return app->login(); }
    ManualClock& clock() { return *fakes.clock; }
    QWidget* cp() { return app->form<interface>().cp; }

    bool noticeShown()
    {
        bool all = loader().Label1->isVisibleTo(&loader());
        for (QLabel* piece : loader().Label2)
            all = all && piece->isVisibleTo(&loader());
        return all;
    }
    bool noticeHidden()
    {
        bool none = !loader().Label1->isVisibleTo(&loader());
        for (QLabel* piece : loader().Label2)
            none = none && !piece->isVisibleTo(&loader());
        return none;
    }
    bool handedOver()
    {
        return app->form<frmWeb>().parentWidget() == cp() && app->form<frmWeb>().isVisibleTo(cp());
    }
    // The frame st shows now.
    int shownFrame()
    {
        const qint64 key = loader().st->pixmap().cacheKey();
        for (std::size_t index = 0; index < loader().frame.size(); ++index)
            if (loader().frame[index]->pixmap().cacheKey() == key)
                return static_cast<int>(index);
        return -1;
    }
};

TEST_F(Loader, TheNoticeComesTenSecondsAfterTheLatestHome)
{
    startUp();
    EXPECT_TRUE(noticeHidden());
    EXPECT_FALSE(loader().frame[0]->isVisibleTo(&loader()));
    clock().advance(6000);
    app->showhome();
    clock().advance(9999);
    EXPECT_TRUE(noticeHidden());
    clock().advance(1);
    EXPECT_TRUE(noticeShown());
}

// A fresh install whose service is not started: the notice says which address and why, beside
// the advice about the internet connection.
TEST_F(Loader, TheNoticeNamesTheAddressAndTheCauseWhenTheServiceCannotBeReached)
{
    startUp();
    QLabel& cause = *loader().Label3;
    home().failLoading(LoadResult::Outcome::NotReached, -102, QStringLiteral("connection refused"));
    EXPECT_FALSE(cause.isVisibleTo(&loader())) << "only with the notice";
    clock().advance(10000);
    EXPECT_TRUE(noticeShown());
    EXPECT_TRUE(cause.isVisibleTo(&loader()));
    EXPECT_EQ(cause.text(), QStringLiteral("Tunalo could not reach http://127.0.0.1:8631: connection refused."));

    // Reached on the next try, only slow: the notice no longer blames the address.
    app->showhome();
    home().finishLoading(QStringLiteral("Tunalo"));
    clock().advance(10000);
    EXPECT_TRUE(noticeShown());
    EXPECT_FALSE(cause.isVisibleTo(&loader()));
}

TEST_F(Loader, ReadsTheTitlesWithinTenMillisecondsOfAnyChangeAndOtherwiseSleeps)
{
    startUp();
    Timer& poll = *watch().checkConstantly;
    clock().advance(10);
    EXPECT_FALSE(poll.isActive());
    EXPECT_EQ(app->state().loginState, LoginState::NoneYet);

    home().setTitle(QStringLiteral("Login Succsesfull"));
    EXPECT_TRUE(poll.isActive());
    clock().advance(10);
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);
    EXPECT_FALSE(poll.isActive());

    // A post page's title is the post queue's to read, once its page is in.
    post().setTitle(QStringLiteral("Posted ID:7"));
    EXPECT_FALSE(poll.isActive());

    // Home forgets the log-in state; the page still shown tells it again at once.
    app->showhome();
    EXPECT_EQ(app->state().loginState, LoginState::NoneYet);
    clock().advance(10);
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);
}

TEST_F(Loader, AnimatesOnlyWhileOnScreen)
{
    startUp();
    EXPECT_TRUE(loader().gifAnim->isActive());
    app->state().loginState = LoginState::Failed;
    watch().Timer1_Timer();
    EXPECT_FALSE(loader().gifAnim->isActive());
    app->showhome();
    EXPECT_TRUE(loader().gifAnim->isActive());
}

TEST_F(Loader, ReadsThePageTitlesExactly)
{
    struct Row {
        const char* homeTitle;
        LoginState before;
        LoginState after;
    };
    using enum LoginState;
    const Row rows[] = {
        {"Login Succsesfull", NoneYet, LoggedIn},
        {"failed", NoneYet, Failed},
        {"failed", LoggedIn, Failed},
        {"Login Succsesfull", Failed, LoggedIn},
        {"login succsesfull", NoneYet, NoneYet},
        {"Login Successful", Failed, Failed},
        {" Login Succsesfull", NoneYet, NoneYet},
        {"Login Succsesfull ", LoggedIn, LoggedIn},
        {"Failed", LoggedIn, LoggedIn},
        {"failed ", NoneYet, NoneYet},
        {"", LoggedIn, LoggedIn}, // no page yet
        {"500 Internal Server Error", Failed, Failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.homeTitle);
        app->state().loginState = row.before;
        home().setTitle(QString::fromUtf8(row.homeTitle));
        watch().checkConstantly_Timer();
        EXPECT_EQ(app->state().loginState, row.after);
    }
}

TEST_F(Loader, TheLoaderBringsThePostBrowserIntoBeing)
{
    EXPECT_FALSE(app->isLoaded<updatewb>());
    loader();
    EXPECT_TRUE(app->isLoaded<updatewb>());
}

TEST_F(Loader, ShowhomeForgetsTheStateAndNavigatesAroundTheLoader)
{
    startUp();
    watch().notifyDelay_Timer();
    app->state().loginState = LoginState::Failed;
    const QString root = QStringLiteral("http://127.0.0.1:8631/");
    const QString page = QStringLiteral("http://127.0.0.1:8631/fb/tnlouserhome.php");
    loader().hide();
    watch().Timer1->stop();
    home().navigations.clear();

    QStringList seen;
    home().onNavigate = [&](const QString& url) {
        const bool docked = loader().parentWidget() == cp() && loader().isVisible();
        seen << QStringLiteral("%1 login=%2 docked=%3 notice=%4")
                    .arg(url)
                    .arg(static_cast<int>(app->state().loginState))
                    .arg(docked)
                    .arg(!noticeHidden());
    };
    app->showhome();
    EXPECT_EQ(seen, QStringList({root + QStringLiteral(" login=0 docked=0 notice=1"),
                                 page + QStringLiteral(" login=0 docked=1 notice=0")}));
    EXPECT_TRUE(watch().Timer1->isActive());
    EXPECT_TRUE(watch().notifyDelay->isActive());
}

TEST_F(Loader, HandsOverToTheHomeBrowserOnceTheLogInStateIsKnown)
{
    startUp();
    for (const LoginState login : {LoginState::NoneYet, LoginState::LoggedIn, LoginState::Failed}) {
        SCOPED_TRACE(login);
        app->showhome();
        app->state().loginState = login;
        watch().Timer1_Timer();
        EXPECT_EQ(handedOver(), login != LoginState::NoneYet);
        EXPECT_EQ(loader().isVisible(), login == LoginState::NoneYet);
        EXPECT_EQ(watch().Timer1->isActive(), login == LoginState::NoneYet);
    }
}

// Closed to the tray, nobody sees the home page: it sleeps once it has told the log-in state, and is
// loaded again when the window comes back.
TEST_F(Loader, TheHomeBrowserSleepsWhileTheWindowIsHidden)
{
    startUp();
    interface& window = app->form<interface>();
    AppState& state = app->state();
    ASSERT_TRUE(window.isVisible());
    window.close();
    ASSERT_FALSE(window.isVisible());
    EXPECT_FALSE(home().asleep) << "the log-in state is still to come";

    home().finishLoading(QStringLiteral("Login Succsesfull"));
    clock().advance(LoginWatch::kReadTitleMs + LoginWatch::kHandOverMs);
    EXPECT_EQ(state.loginState, LoginState::LoggedIn);
    EXPECT_TRUE(handedOver());
    ASSERT_TRUE(home().asleep);
    EXPECT_EQ(home().sleepOrigin, app->serviceBase());

    // Asleep, the page tells nothing: the state stays what the page or a post's answer said last.
    clock().advance(1000);
    EXPECT_EQ(state.loginState, LoginState::LoggedIn);
    state.loginState = LoginState::Failed;
    clock().advance(1000);
    EXPECT_EQ(state.loginState, LoginState::Failed);

    // Shown again: the page is loaded again, and until it has come the state is the one of before,
    // so a song that changes meanwhile still goes out.
    const qsizetype before = home().navigations.size();
    window.show();
    EXPECT_FALSE(home().asleep);
    ASSERT_EQ(home().navigations.size(), before + 1);
    EXPECT_EQ(home().navigations.last(), app->homePageAddress());
    state.loginState = LoginState::LoggedIn;
    state.publishing = kTrue;
    fakes.windows->foreground = fakes.windows->add(QStringLiteral("Opening - Song - MediaMonkey"));
    window.update_Timer();
    EXPECT_EQ(post().navigations.size(), 1) << "a song that changed while the window opened";
    home().finishLoading(QStringLiteral("Login Succsesfull"));
    clock().advance(LoginWatch::kReadTitleMs);
    EXPECT_EQ(state.loginState, LoginState::LoggedIn);

    // Hidden once the state is known, the page sleeps at once; Home from the tray wakes it with the
    // window.
    window.close();
    EXPECT_TRUE(home().asleep);
    EXPECT_EQ(home().sleeps, 2);
    app->showhome();
    window.show();
    EXPECT_FALSE(home().asleep);
    EXPECT_EQ(home().navigations.last(), app->homePageAddress());
}

TEST_F(Loader, TheHomePageTakesTheLoadersPlaceWithinAFifthOfASecondOfTheStateBeingKnown)
{
    startUp();
    clock().advance(1000);
    EXPECT_FALSE(handedOver()) << "nothing is known yet";
    app->showhome();
    home().setTitle(QStringLiteral("Login Succsesfull"));
    clock().advance(199);
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);
    EXPECT_FALSE(handedOver());
    clock().advance(1);
    EXPECT_TRUE(handedOver());
}

TEST_F(Loader, TheOldPageStillCountsRightAfterShowhome)
{
    startUp();
    home().setTitle(QStringLiteral("Login Succsesfull"));
    app->showhome();
    EXPECT_EQ(app->state().loginState, LoginState::NoneYet);
    watch().checkConstantly_Timer();
    EXPECT_EQ(app->state().loginState, LoginState::LoggedIn);
    watch().Timer1_Timer();
    EXPECT_TRUE(handedOver());
    EXPECT_FALSE(loader().isVisible());
}

TEST_F(Loader, TheNoticeLandsOnTheHiddenLoaderAndTheNextHomeHidesIt)
{
    startUp();
    app->state().loginState = LoginState::LoggedIn;
    watch().Timer1_Timer();
    ASSERT_FALSE(loader().isVisible());

    watch().notifyDelay_Timer();
    EXPECT_TRUE(noticeShown());
    EXPECT_FALSE(watch().notifyDelay->isActive());
    EXPECT_TRUE(handedOver()) << "the notice does not bring the loader back";

    app->showhome();
    EXPECT_TRUE(noticeHidden());
    EXPECT_TRUE(loader().isVisible());
}

TEST_F(Loader, TheAnimationRunsRoundAndShowhomeDoesNotRestartIt)
{
    startUp();
    for (int tick = 0; tick < 15; ++tick) {
        loader().gifAnim_Timer();
        EXPECT_EQ(shownFrame(), tick % 11) << tick;
        if (tick == 6)
            app->showhome();
    }
    // Also while the loader is hidden.
    loader().hide();
    loader().gifAnim_Timer();
    EXPECT_EQ(shownFrame(), 4);
}

TEST(LoadingFrames, TheBrightDotMovesOneStepEachFrame)
{
    QImage previous = loadingFrame(10, 11, QPalette()).toImage();
    for (int index = 0; index < 11; ++index) {
        const QImage picture = loadingFrame(index, 11, QPalette()).toImage();
        EXPECT_EQ(picture.size(), QSize(100, 100));
        EXPECT_NE(picture, previous) << index;
        previous = picture;
    }
}

TEST(LoadingFrames, UnderADarkThemeTheFrameShowsThePanelsColourAndAReadableWord)
{
    const QPalette dark = darkPalette();
    const QImage picture = loadingFrame(0, 11, dark).toImage();
    // The corners are the panel's, not a white square.
    EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(picture.pixel(99, 99)), 0);
    // The word, in the middle, stands out from the dark window.
    QColor brightest = dark.color(QPalette::Window);
    for (int x = 25; x < 75; ++x) {
        const QColor colour = QColor::fromRgba(picture.pixel(x, 50));
        if (colour.alpha() == 255 && colour.lightness() > brightest.lightness())
            brightest = colour;
    }
    EXPECT_GE(contrastRatio(brightest, dark.color(QPalette::Window)), 4.5) << brightest.name().toStdString();
}

} // namespace
} // namespace tunalo::test
