#include "support/appfixture.h"
#include "support/process.h"
#include "ui/interface.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"
#include "web/showhome.h"
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

TEST_F(Loader, StartsItsTimersWhenCreatedWithTheNoticeHidden)
{
    struct Row {
        QTimer* timer;
        int interval;
        bool active;
    };
    // The first reading of the titles is due at once; the animation waits until it can be seen.
    for (const Row& row : {Row{loader().checkConstantly, 10, true}, Row{loader().gifAnim, 100, false},
                           Row{loader().notifyDelay, 10000, true}, Row{loader().Timer1, 200, true}}) {
        EXPECT_EQ(row.timer->isActive(), row.active) << row.interval;
        EXPECT_EQ(row.timer->interval(), row.interval);
    }
    EXPECT_TRUE(noticeHidden());
    EXPECT_FALSE(loader().frame[0]->isVisibleTo(&loader()));
}

TEST_F(Loader, ReadsTheTitlesWithinTenMillisecondsOfAnyChangeAndOtherwiseSleeps)
{
    startUp();
    QTimer& poll = *loader().checkConstantly;
    ASSERT_TRUE(waitUntil([&] { return !poll.isActive(); }, 1000));
    EXPECT_EQ(app->state().loginState, 0);

    home().setTitle(QStringLiteral("Login Succsesfull"));
    EXPECT_TRUE(poll.isActive());
    ASSERT_TRUE(waitUntil([&] { return app->state().loginState == 1; }, 1000));

    ASSERT_TRUE(waitUntil([&] { return !poll.isActive(); }, 1000));
    // A post page's title is the post queue's to read, once its page is in.
    post().setTitle(QStringLiteral("Posted ID:7"));
    EXPECT_FALSE(poll.isActive());
    loader().checkConstantly_Timer();
    EXPECT_TRUE(app->state().lastPostTitle.isEmpty());

    // Home forgets the log-in state; the page still shown tells it again at once.
    showhome(*app);
    EXPECT_EQ(app->state().loginState, 0);
    EXPECT_TRUE(waitUntil([&] { return app->state().loginState == 1; }, 1000));
}

TEST_F(Loader, AnimatesOnlyWhileOnScreen)
{
    startUp();
    EXPECT_TRUE(loader().gifAnim->isActive());
    app->state().loginState = 2;
    loader().Timer1_Timer();
    EXPECT_FALSE(loader().gifAnim->isActive());
    showhome(*app);
    EXPECT_TRUE(loader().gifAnim->isActive());
}

TEST_F(Loader, ReadsThePageTitlesExactly)
{
    struct Row {
        const char* homeTitle;
        LoginState before;
        LoginState after;
    };
    const Row rows[] = {
        {"Login Succsesfull", 0, 1},
        {"failed", 0, 2},
        {"failed", 1, 2},
        {"Login Succsesfull", 2, 1},
        {"login succsesfull", 0, 0},
        {"Login Successful", 2, 2},
        {" Login Succsesfull", 0, 0},
        {"Login Succsesfull ", 1, 1},
        {"Failed", 1, 1},
        {"failed ", 0, 0},
        {"", 1, 1}, // no page yet
        {"500 Internal Server Error", 2, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.homeTitle);
        app->state().loginState = row.before;
        home().title = QString::fromUtf8(row.homeTitle);
        loader().checkConstantly_Timer();
        EXPECT_EQ(app->state().loginState, row.after);
    }
}

TEST_F(Loader, TheFirstPollBringsThePostBrowserIntoBeing)
{
    EXPECT_FALSE(app->isLoaded<updatewb>());
    loader().checkConstantly_Timer();
    EXPECT_TRUE(app->isLoaded<updatewb>());
}

TEST_F(Loader, ShowhomeForgetsTheStateAndNavigatesAroundTheLoader)
{
    startUp();
    loader().notifyDelay_Timer();
    app->state().loginState = 2;
    const QString root = QStringLiteral("http://127.0.0.1:8631/");
    const QString page = QStringLiteral("http://127.0.0.1:8631/fb/tnlouserhome.php");
    loader().hide();
    loader().Timer1->stop();
    home().navigations.clear();

    QStringList seen;
    home().onNavigate = [&](const QString& url) {
        const bool docked = loader().parentWidget() == cp() && loader().isVisible();
        seen << QStringLiteral("%1 login=%2 docked=%3 notice=%4")
                    .arg(url)
                    .arg(app->state().loginState)
                    .arg(docked)
                    .arg(!noticeHidden());
    };
    showhome(*app);
    EXPECT_EQ(seen, QStringList({root + QStringLiteral(" login=0 docked=0 notice=1"),
                                 page + QStringLiteral(" login=0 docked=1 notice=0")}));
    EXPECT_TRUE(loader().Timer1->isActive());
    EXPECT_TRUE(loader().notifyDelay->isActive());
}

TEST_F(Loader, HandsOverToTheHomeBrowserOnceTheLogInStateIsKnown)
{
    startUp();
    for (const LoginState login : {0, 1, 2}) {
        SCOPED_TRACE(login);
        showhome(*app);
        app->state().loginState = login;
        loader().Timer1_Timer();
        EXPECT_EQ(handedOver(), login != 0);
        EXPECT_EQ(loader().isVisible(), login == 0);
        EXPECT_EQ(loader().Timer1->isActive(), login == 0);
    }
}

TEST_F(Loader, TheOldPageStillCountsRightAfterShowhome)
{
    startUp();
    home().title = QStringLiteral("Login Succsesfull");
    showhome(*app);
    EXPECT_EQ(app->state().loginState, 0);
    loader().checkConstantly_Timer();
    EXPECT_EQ(app->state().loginState, 1);
    loader().Timer1_Timer();
    EXPECT_TRUE(handedOver());
    EXPECT_FALSE(loader().isVisible());
}

TEST_F(Loader, TheNoticeLandsOnTheHiddenLoaderAndTheNextHomeHidesIt)
{
    startUp();
    app->state().loginState = 1;
    loader().Timer1_Timer();
    ASSERT_FALSE(loader().isVisible());

    loader().notifyDelay_Timer();
    EXPECT_TRUE(noticeShown());
    EXPECT_FALSE(loader().notifyDelay->isActive());
    EXPECT_TRUE(handedOver()) << "the notice does not bring the loader back";

    showhome(*app);
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
            showhome(*app);
    }
    // Also while the loader is hidden.
    loader().hide();
    loader().gifAnim_Timer();
    EXPECT_EQ(shownFrame(), 4);
}

TEST(LoadingFrames, TheBrightDotMovesOneStepEachFrame)
{
    QImage previous = loadingFrame(10, 11).toImage();
    for (int index = 0; index < 11; ++index) {
        const QImage picture = loadingFrame(index, 11).toImage();
        EXPECT_EQ(picture.size(), QSize(100, 100));
        EXPECT_NE(picture, previous) << index;
        previous = picture;
    }
}

} // namespace
} // namespace tunalo::test
