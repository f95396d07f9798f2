#include "core/settings.h"
#include "support/appfixture.h"
#include "support/uiprobe.h"
#include "ui/info.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"
#include "web/updatewb.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace tunalo::test {
namespace {

// A started program watching MediaMonkey, whose window lies below the window the user works in.
class PublishCycle : public AppTest {
protected:
    void SetUp() override
    {
        startUp();
        fakes.windows->foreground = fakes.windows->add(QStringLiteral("Terminal"));
        m_player = fakes.windows->add(QString());
        balloons = std::make_unique<BalloonLog>(*fakes.shell);
        answerEveryPost(*app);
    }

    interface& window() { return app->form<interface>(); }
    AppState& state() { return app->state(); }

    void play(const QString& song)
    {
        fakes.windows->setTitle(m_player, song + QStringLiteral(" - MediaMonkey"));
    }
    void closePlayer() { fakes.windows->destroy(m_player); }
    void tick() { window().update_Timer(); }
    void playAndTick(const QString& song)
    {
        play(song);
        tick();
    }
    void pressPublish() { window().Command1_Click(); }
    void option(const QString& key, const char* value)
    {
        fakes.settings->set(key, QString::fromLatin1(value));
    }

    // The message panel's heading when it lies in front, else empty.
    QString messageInFront()
    {
        return app->isLoaded<info>() && frontPanel(*app) == &app->form<info>()
                   ? app->form<info>().title->text()
                   : QString();
    }
    void expectPublishingOff()
    {
        EXPECT_EQ(state().publishing, 0);
        EXPECT_EQ(window().Command1->text(), QStringLiteral("start publishing"));
        EXPECT_FALSE(window().Command1->font().bold());
    }

    std::unique_ptr<BalloonLog> balloons;

private:
    HWND m_player = 0;
};

TEST_F(PublishCycle, TheStatusLineFollowsThePlayerAndKeepsTheLastSongWhenItCloses)
{
    playAndTick(QStringLiteral("Artist - Title"));
    EXPECT_EQ(window().sts->text(), QStringLiteral("Artist - Title - MediaMonkey"));
    closePlayer();
    tick();
    EXPECT_EQ(window().sts->text(), QStringLiteral("Artist - Title - MediaMonkey"));
    // Publishing is off, so the song is not followed.
    EXPECT_TRUE(state().currentSong.isEmpty());
}

TEST_F(PublishCycle, EachChangeOfSongIsPostedOnceAndARepeatOnlyAfterAnotherTitle)
{
    state().loginState = LoginState::LoggedIn;
    pressPublish();
    EXPECT_EQ(state().publishing, -1);
    EXPECT_EQ(window().Command1->text(), QStringLiteral("stop publishing"));
    EXPECT_TRUE(window().Command1->font().bold());

    app->cycle().BallonMsgs = 1000; // an offer from before; the first post's balloon replaces it
    // An empty song (a title without the marker) counts as a title in between, but is not posted.
    for (const char* song : {"A - One", "A - One", "B - Two", "B - Two", "A - One", "", "A - One"}) {
        if (*song == '\0')
            fakes.windows->setTitle(fakes.windows->windows.back().handle, QStringLiteral("MediaMonkey"));
        else
            play(QString::fromLatin1(song));
        tick();
    }
    EXPECT_EQ(postedSongs(*app), QStringList({QStringLiteral("A - One"), QStringLiteral("B - Two"),
                                              QStringLiteral("A - One"), QStringLiteral("A - One")}));
    // With alerts on, every post is confirmed by a balloon whose click does nothing.
    EXPECT_EQ(app->cycle().BallonMsgs, 0);
    window().m_frmSysTray_BalloonClicked();
    EXPECT_EQ(postedSongs(*app).size(), 4);
}

TEST_F(PublishCycle, NotLoggedInRefusesOnceThenTheRefusedSongGoesOutAfterLogIn)
{
    pressPublish();
    // Right after start-up there is no song yet: publishing stays on until the first one.
    EXPECT_EQ(state().publishing, -1);
    EXPECT_TRUE(messageInFront().isEmpty());

    playAndTick(QStringLiteral("Artist - Title"));
    EXPECT_EQ(messageInFront(), QStringLiteral("Please Log-in To Your Facebook Account First"));
    EXPECT_TRUE(app->form<info>().msg->text().contains(QStringLiteral("listening to")));
    EXPECT_TRUE(
        app->form<info>().msg->text().simplified().contains(QStringLiteral("Artist - Title as your")));
    expectPublishingOff();

    app->form<info>().title->setText(QStringLiteral("seen"));
    playAndTick(QStringLiteral("Next - Song"));
    EXPECT_EQ(app->form<info>().title->text(), QStringLiteral("seen"));
    EXPECT_TRUE(postedSongs(*app).isEmpty());

    // The service takes its time; the player moves on before the refused song's post is answered.
    auto& post = static_cast<FakeBrowser&>(app->form<updatewb>().wb());
    post.onNavigate = {};
    state().loginState = LoginState::LoggedIn;
    pressPublish();
    EXPECT_EQ(postedSongs(*app), QStringList{QStringLiteral("Artist - Title")});
    tick();
    EXPECT_EQ(postedSongs(*app), QStringList{QStringLiteral("Artist - Title")}) << "the next song waits";
    post.finishLoading(QStringLiteral("Posted ID:1"));
    EXPECT_EQ(postedSongs(*app),
              QStringList({QStringLiteral("Artist - Title"), QStringLiteral("Next - Song")}));
}

// A song of nothing but white space, of any script, is no song: it is never posted, so the service
// never refuses it, and publishing stays on, logged in or not.
TEST_F(PublishCycle, ABlankSongIsNeverPostedAndLocksNobodyOut)
{
    const QString blanks[] = {QStringLiteral(" "), QStringLiteral("\u3000"), QStringLiteral("\t\u00A0\u2003 ")};
    pressPublish();
    for (const LoginState login : {LoginState::NoneYet, LoginState::LoggedIn}) {
        state().loginState = login;
        for (const QString& blank : blanks) {
            playAndTick(blank);
            tick();
            EXPECT_EQ(state().publishing, kTrue) << login;
            EXPECT_TRUE(messageInFront().isEmpty()) << messageInFront().toStdString();
        }
    }
    EXPECT_TRUE(postedSongs(*app).isEmpty());
    playAndTick(QStringLiteral("Real - Song"));
    EXPECT_EQ(postedSongs(*app), QStringList{QStringLiteral("Real - Song")});
}

// A balloon holds 255 UTF-16 units: a long song is shortened, never inside a character, and the
// ending always comes whole.
TEST_F(PublishCycle, ABalloonShortensTheSongAndKeepsItsEnding)
{
    const QString note = QStringLiteral("\U0001F3B5");
    for (const char* ending : {" (Song Posted)", " (Not Posted): the service did not answer", " (Click To Post)",
                               " (Can't Be Posted)", " (not confirmed yet)"}) {
        const QString end = QString::fromLatin1(ending);
        for (const QString& song : {QString(300, QLatin1Char('x')), QString(254 - end.size(), QLatin1Char('x')) + note}) {
            app->cycle().showSongBalloon(song, end, BalloonIcon::Quiet, kClickDoesNothing);
            const QString shown = balloons->messages().last();
            EXPECT_TRUE(shown.endsWith(end)) << shown.toStdString();
            EXPECT_LE(shown.size(), tunalo::PublishCycle::kBalloonUnits);
            EXPECT_TRUE(song.startsWith(shown.chopped(end.size())));
            EXPECT_FALSE(shown.chopped(end.size()).back().isHighSurrogate());
        }
        app->cycle().showSongBalloon(QStringLiteral("Short - Song"), end, BalloonIcon::Quiet, kClickDoesNothing);
        EXPECT_EQ(balloons->messages().last(), QStringLiteral("Short - Song") + end);
    }
}

TEST_F(PublishCycle, SwitchingOffAndOnWithTheSameSongPostsNothingAgain)
{
    state().loginState = LoginState::LoggedIn;
    pressPublish();
    playAndTick(QStringLiteral("Artist - Title"));
    tick();
    pressPublish();
    expectPublishingOff();
    pressPublish();
    tick();
    tick();
    EXPECT_EQ(postedSongs(*app), QStringList{QStringLiteral("Artist - Title")});
}

TEST_F(PublishCycle, StartingWithThePlayerClosedAndAnOldSongAsksForAPlayer)
{
    state().loginState = LoginState::LoggedIn;
    pressPublish();
    playAndTick(QStringLiteral("Artist - Title"));
    pressPublish();
    closePlayer();
    pressPublish();
    EXPECT_EQ(messageInFront(), QStringLiteral("Please Select A Media Player"));
    expectPublishingOff();
    EXPECT_EQ(postedSongs(*app).size(), 1);
}

TEST_F(PublishCycle, TheWordFilterHoldsASongBackAndItsBalloonOpensTheOptions)
{
    state().loginState = LoginState::LoggedIn;
    pressPublish();
    playAndTick(QStringLiteral("Artist - Unknown Title"));
    EXPECT_TRUE(postedSongs(*app).isEmpty());
    EXPECT_EQ(app->cycle().BallonMsgs, 2000);
    EXPECT_EQ(balloons->messages().last(), QStringLiteral("Artist - Unknown Title (Can't Be Posted)"));

    option(settings::kAutoPublish, " 0");
    window().hide();
    window().m_frmSysTray_BalloonClicked();
    EXPECT_TRUE(window().isVisible());
    optionsfrm& options = app->form<optionsfrm>();
    EXPECT_EQ(frontPanel(*app), &options);
    EXPECT_FALSE(options.autopublish->isChecked());
    EXPECT_TRUE(postedSongs(*app).isEmpty());

    // With the filter off the list is not looked at.
    option(settings::kAutoPublish, " 1");
    option(settings::kScreenWords, " 0");
    playAndTick(QStringLiteral("Unknown - Untitled Track"));
    EXPECT_EQ(postedSongs(*app), QStringList{QStringLiteral("Unknown - Untitled Track")});
}

TEST_F(PublishCycle, WithoutAutomaticPublishingABalloonOffersTheSongAndItsClickPostsTheCurrentOne)
{
    option(settings::kAutoPublish, " 0");
    state().loginState = LoginState::LoggedIn;
    pressPublish();
    playAndTick(QStringLiteral("First - Song"));
    EXPECT_EQ(app->cycle().BallonMsgs, 1000);
    EXPECT_EQ(balloons->messages().last(), QStringLiteral("First - Song (Click To Post)"));
    EXPECT_TRUE(postedSongs(*app).isEmpty());

    // The user logged out meanwhile: the next song is refused, yet the old balloon posts it,
    // because a click posts whatever song is current and checks nothing again.
    state().loginState = LoginState::NoneYet;
    playAndTick(QStringLiteral("Second - Song"));
    expectPublishingOff();
    window().m_frmSysTray_BalloonClicked();
    EXPECT_EQ(postedSongs(*app), QStringList{QStringLiteral("Second - Song")});
}

TEST_F(PublishCycle, AutomaticPublishingWithoutAlertsPostsWithoutAVisibleSign)
{
    option(settings::kAutoAlert, " 0");
    state().loginState = LoginState::LoggedIn;
    app->cycle().BallonMsgs = 1000;
    const QStringList before = balloons->messages();
    const auto shellCallsBefore = fakes.shell->calls.size();
    pressPublish();
    playAndTick(QStringLiteral("Quiet - Song"));
    EXPECT_EQ(postedSongs(*app), QStringList{QStringLiteral("Quiet - Song")});
    EXPECT_EQ(balloons->messages(), before);
    EXPECT_EQ(fakes.shell->calls.size(), shellCallsBefore);
    EXPECT_EQ(app->cycle().BallonMsgs, 1000);
    EXPECT_TRUE(messageInFront().isEmpty());
}

// The fifth choice follows whichever player plays on the session bus; its song goes the same way.
TEST_F(PublishCycle, APlayerOnTheSessionBusIsFollowedAndPostedLikeAWindow)
{
    fakes.players->any = true;
    app->showplayerpanel();
    app->form<smp>().grab(); // a repaint looks which players run
    app->form<smp>().mp[4]->click();
    ASSERT_EQ(state().selectedPlayer, 4);
    state().loginState = LoginState::LoggedIn;
    pressPublish();
    fakes.players->playing = {QStringLiteral("Ann, Bo - Duet"), QStringLiteral("Rhythmbox")};
    tick();
    EXPECT_EQ(window().sts->text(), QStringLiteral("Ann, Bo - Duet - Rhythmbox"));
    tick(); // still the same song, as after a pause and resume

    fakes.players->playing = {QStringLiteral("Artist - Unknown Title"), QStringLiteral("Elisa")};
    tick();
    EXPECT_EQ(balloons->messages().last(), QStringLiteral("Artist - Unknown Title (Can't Be Posted)"));
    fakes.players->playing = {QStringLiteral("Élodie - Nuit"), QStringLiteral("Elisa")};
    tick();
    EXPECT_EQ(window().sts->text(), QStringLiteral("Élodie - Nuit - Elisa"));
    EXPECT_EQ(postedSongs(*app),
              QStringList({QStringLiteral("Ann, Bo - Duet"), QStringLiteral("Élodie - Nuit")}));

    // The followed player quits while another one is paused: no song, and no " - " either.
    fakes.players->playing = {};
    tick();
    EXPECT_EQ(window().sts->text(), QString());
    fakes.players->playing = {QStringLiteral("Élodie - Nuit"), QStringLiteral("Elisa")};
    tick();

    // Every player left the bus: the status line keeps the last song, and publishing asks for a player.
    fakes.players->any = false;
    fakes.players->playing = {};
    tick();
    EXPECT_EQ(window().sts->text(), QStringLiteral("Élodie - Nuit - Elisa"));
    pressPublish();
    pressPublish();
    EXPECT_EQ(messageInFront(), QStringLiteral("Please Select A Media Player"));
    expectPublishingOff();
}

TEST_F(PublishCycle, AClickOnTheWelcomeBalloonDoesNothing)
{
    EXPECT_EQ(balloons->messages().size(), 0); // the welcome balloon came before the log started
    EXPECT_EQ(app->cycle().BallonMsgs, 0);
    QWidget* front = frontPanel(*app);
    state().currentSong = QStringLiteral("Artist - Title");
    window().m_frmSysTray_BalloonClicked();
    EXPECT_TRUE(postedSongs(*app).isEmpty());
    EXPECT_EQ(frontPanel(*app), front);
}

struct FilterCase {
    const char* list;
    const char* song;
    bool heldBack;
};

class WordFilter : public AppTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(WordFilter, HoldsBackASongWithANonEmptyWordAnywhere)
{
    const FilterCase& row = GetParam();
    app->form<optionsfrm>().Text1->setText(QString::fromUtf8(row.list));
    EXPECT_EQ(app->cycle().hasscreenword(QString::fromUtf8(row.song)), row.heldBack ? -1 : 0)
        << "list \"" << row.list << "\", song \"" << row.song << "\"";
    // The list itself stays as the user typed it.
    EXPECT_EQ(app->cycle().screenWordList(), QString::fromUtf8(row.list));
    EXPECT_EQ(fakes.settings->value(settings::kScreenWordList), QString::fromUtf8(row.list));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, WordFilter,
    ::testing::Values(FilterCase{"untitled,unknown,track,", "Artist - Unknown Title", true},
                      FilterCase{"untitled,unknown,track,", "Track 01 - Artist", true},
                      FilterCase{"untitled,unknown,track,", "Artist - Title", false},
                      FilterCase{"untitled,unknown,track,", "Best Soundtrack Ever", true},
                      FilterCase{",", "Anything - At All", false},
                      FilterCase{"", "Unknown - Untitled", false},
                      FilterCase{"UNTITLED", "artist - untitled", true},
                      // The blanks around a word belong to the list, not to the word.
                      FilterCase{"live, track", "Track 01 - Artist", true},
                      FilterCase{"rain, snow", "Snow Patrol - Chasing Cars", true},
                      FilterCase{"rain ,\u3000snow\t", "Snow Patrol - Chasing Cars", true},
                      FilterCase{"rain, snow", "Rainbow - Stargazer", true},
                      FilterCase{" , \t,", "Anything - At All", false},
                      FilterCase{"live, track", "Artist - Title", false}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return "Case" + std::to_string(info.index); });

} // namespace
} // namespace tunalo::test
