#include "nowplaying/findwondowlike.h"
#include "nowplaying/players.h"
#include "support/appfixture.h"
#include "support/titlecases.h"
#include "ui/info.h"
#include "ui/interface.h"

#include <QLabel>

#include <functional>
#include <optional>
#include <stdexcept>

namespace tunalo::test {
namespace {

// A desktop listed top to bottom; foreground is an index into titles, -1 for none.
struct WalkCase {
    const char* name;
    std::vector<QString> titles;
    int foreground;
    QString text;
    int found; // index of the window findbytitle returns, -1 for none
    std::int16_t running;
};

void PrintTo(const WalkCase& c, std::ostream* out)
{
    *out << c.name;
}

class Walk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(Walk, FindsTheFirstWindowBelowTheForegroundOneThatHoldsTheText)
{
    const WalkCase& c = GetParam();
    FakeWindowList windows;
    for (const QString& title : c.titles)
        windows.add(title);
    if (c.foreground >= 0)
        windows.foreground = windows.windows[c.foreground].handle;
    const HWND expected = c.found >= 0 ? windows.windows[c.found].handle : 0;
    EXPECT_EQ(findbytitle(windows, c.text), expected);
    EXPECT_EQ(isrunning(windows, c.text), c.running);
}

const QString kNotepad = QStringLiteral("Untitled - Notepad");
const QString kWinamp = QStringLiteral("3. Some Artist - Some Song - Winamp");
const QString kLongTitle =
    QString(259, QLatin1Char('x')) + QStringLiteral("winamp") + QString(35, QLatin1Char('y'));

INSTANTIATE_TEST_SUITE_P(
    Lookup, Walk,
    ::testing::Values(
        WalkCase{"PlayerBelowTheForeground", {kNotepad, kWinamp}, 0, QStringLiteral("- winamp"), 1, -1},
        WalkCase{"PlayerAboveTheForeground", {kWinamp, kNotepad}, 1, QStringLiteral("winamp"), -1, 0},
        WalkCase{"CaseIgnoredOnBothSides",
                 {kNotepad, QStringLiteral("clip.avi - vlc MEDIA player")},
                 0,
                 QStringLiteral("- VLC media player"),
                 1,
                 -1},
        WalkCase{"NonAsciiLettersFoldToo",
                 {kNotepad, QStringLiteral("ÄRZTE - Lied - Winamp")},
                 0,
                 QStringLiteral("ärzte"),
                 1,
                 -1},
        WalkCase{"NearerOfTwoMatches",
                 {kNotepad, QStringLiteral("1. A - B - Winamp"), kWinamp},
                 0,
                 QStringLiteral("winamp"),
                 1,
                 -1},
        WalkCase{"AnyProgramsTitleCounts",
                 {kNotepad, QStringLiteral("Download Winamp - Web Browser")},
                 0,
                 QStringLiteral("winamp"),
                 1,
                 -1},
        WalkCase{"NoForegroundWindow", {kNotepad, kWinamp}, -1, QStringLiteral("winamp"), -1, 0},
        WalkCase{"EmptyTextIsTheForegroundWindow", {kNotepad, kWinamp}, 1, QString(), 1, -1},
        WalkCase{"EmptyKeyWithoutAnyWindow", {}, -1, QString(), -1, -1},
        WalkCase{"TextBeyondThe254thCharacter", {kNotepad, kLongTitle}, 0, QStringLiteral("winamp"), -1, 0},
        WalkCase{"TextEndingAtThe254thCharacter",
                 {QString(248, QLatin1Char('x')) + QStringLiteral("winamp") + QString(40, QLatin1Char('y'))},
                 0,
                 QStringLiteral("winamp"),
                 0,
                 -1},
        WalkCase{"TextEndingAtThe255thCharacter",
                 {QString(249, QLatin1Char('x')) + QStringLiteral("winamp") + QString(40, QLatin1Char('y'))},
                 0,
                 QStringLiteral("winamp"),
                 -1,
                 0}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return info.param.name; });

TEST(WalkOnAChangingDesktop, AWindowDestroyedUnderTheWalkEndsIt)
{
    FakeWindowList windows;
    windows.foreground = windows.add(kNotepad);
    const HWND doomed = windows.add(QStringLiteral("Terminal"));
    windows.add(kWinamp);
    windows.beforeRead = [&](HWND h) {
        if (h == doomed)
            windows.destroy(h);
    };
    EXPECT_EQ(findbytitle(windows, QStringLiteral("winamp")), 0u);
}

TEST(WalkOnAChangingDesktop, APlayerThatClosesBeforeTheSecondReadDoesNotRun)
{
    FakeWindowList windows;
    windows.foreground = windows.add(kNotepad);
    const HWND player = windows.add(kWinamp);
    int playerReads = 0;
    windows.beforeRead = [&](HWND h) {
        if (h == player && ++playerReads == 2)
            windows.destroy(h);
    };
    EXPECT_EQ(isrunning(windows, QStringLiteral("winamp")), 0);
    EXPECT_EQ(playerReads, 2);
}

TEST(WalkOnAChangingDesktop, AHandleThatIsNegativeAsASigned32BitNumberIsNoWindow)
{
    FakeWindowList windows;
    windows.foreground = windows.add(kNotepad);
    windows.windows.push_back({0x80000001u, kWinamp});
    EXPECT_EQ(findbytitle(windows, QStringLiteral("winamp")), 0x80000001u);
    EXPECT_EQ(isrunning(windows, QStringLiteral("winamp")), 0);
}

// Two windows that each name the other as the next one down, as a restacking desktop can.
class CircularWindows : public WindowList {
public:
    HWND GetForegroundWindow() override { return 1; }
    HWND GetWindow(HWND hWnd, std::uint32_t) override { return hWnd == 1 ? 2 : 1; }
    QString GetWindowTextA(HWND, int) override { return QStringLiteral("Terminal"); }
};

TEST(WalkOnAChangingDesktop, AStackingOrderThatRunsInACircleEndsTheWalk)
{
    CircularWindows windows;
    EXPECT_EQ(findbytitle(windows, QStringLiteral("winamp")), 0u);
}

class ReadSong : public AppTest {
protected:
    void SetUp() override
    {
        startUp();
        fakes.windows->foreground = fakes.windows->add(kNotepad);
    }
    bool messageShown() { return app->isLoaded<info>() && app->form<info>().isVisible(); }
    PlayerDesktop& desktop() { return app->cycle().desktop(); }
    QString song(PlayerId player) { return readsong(desktop(), player).song; }
};

// The status line names the player after the song, for every row of the player table.
TEST_F(ReadSong, CutsTheSongOutOfEachPlayersTitleAndTheStatusLineNamesThePlayer)
{
    const std::array<QString, 4> names = {QStringLiteral("Winamp"), QStringLiteral("MediaMonkey"),
                                          QStringLiteral("VLC Media Player"), QStringLiteral("RealPlayer")};
    const HWND player = fakes.windows->add(QString());
    interface& window = app->form<interface>();
    for (const SongCase& c : songCases()) {
        fakes.windows->setTitle(player, QString::fromUtf8(c.title));
        EXPECT_EQ(song(c.player), QString::fromUtf8(c.song)) << c.title;
        app->state().selectedPlayer = c.player;
        window.update_Timer();
        EXPECT_EQ(window.sts->text(), QString::fromUtf8(c.song) + QStringLiteral(" - ") + names[c.player])
            << c.title;
    }
    EXPECT_FALSE(messageShown());
}

TEST_F(ReadSong, APlayerThatDoesNotRunGivesNoSongAndATickItClosesInSaysSo)
{
    const HWND player = fakes.windows->add(QStringLiteral("clip.avi - VLC media player"));
    const SongReading winamp = readsong(desktop(), 0);
    EXPECT_FALSE(winamp.running);
    EXPECT_EQ(winamp.song, QString());
    EXPECT_FALSE(messageShown()) << "the caller decides what to show";

    // The player closes after the tick's running test (which reads its title twice), before its song
    // is read.
    app->state().selectedPlayer = 2;
    int playerReads = 0;
    fakes.windows->beforeRead = [&](HWND read) {
        if (read == player && ++playerReads == 3)
            fakes.windows->destroy(player);
    };
    app->form<interface>().update_Timer();
    ASSERT_TRUE(messageShown());
    EXPECT_EQ(app->form<info>().title->text(), QStringLiteral("Please Select A Media Player Error Code:#19"));
    // The panel wraps the body; the words are the program's own.
    EXPECT_EQ(
        app->form<info>().msg->text().simplified(),
        QStringLiteral("In order to be able to post the song you are currently playing on facebook, you must "
                       "first select a media player from the 'Select Media Player' Panel"));
}

TEST_F(ReadSong, ARunningPlayerWithoutTheLookupTextGivesNothingAndNoMessage)
{
    const HWND player = fakes.windows->add(QStringLiteral("Winamp 5.9"));
    EXPECT_EQ(song(0), QString());
    fakes.windows->setTitle(player, QStringLiteral("RealPlayer"));
    EXPECT_EQ(song(3), QString());
    EXPECT_FALSE(messageShown());
}

TEST_F(ReadSong, AMarkerBeyondThe254thCharacterIsNotSeen)
{
    const QString song = QStringLiteral("2. ") + QString(240, QLatin1Char('s')) + QStringLiteral(" - winamp");
    fakes.windows->add(song + QStringLiteral(" - Winamp"));
    // The title is cut inside the marker, so the song runs to the cut.
    EXPECT_EQ(this->song(0), (song + QStringLiteral(" -")).mid(2));
}

// Ten times a second the tick asks whether the desktop changed: it walks the windows again only
// after a change, and tells the status line only a text it does not show yet.
TEST_F(ReadSong, TheTickReadsTheWindowsOnlyAfterAChangeAndTellsTheStatusLineOnlyANewText)
{
    const HWND player = fakes.windows->add(QStringLiteral("Artist - One - Winamp"));
    app->state().selectedPlayer = 0;
    PublishCycle& cycle = app->cycle();
    ASSERT_EQ(cycle.tick(), QStringLiteral("Artist - One - Winamp"));
    fakes.windows->titleReads = 0;
    EXPECT_EQ(cycle.tick(), std::nullopt);
    EXPECT_EQ(fakes.windows->titleReads, 0);
    const struct {
        const char* what;
        std::function<void()> change;
        std::optional<QString> status; // what the first tick after it tells
    } changes[] = {
        {"the song", [&] { fakes.windows->setTitle(player, QStringLiteral("Artist - Two - Winamp")); },
         QStringLiteral("Artist - Two - Winamp")},
        {"the title, but not the song",
         [&] { fakes.windows->setTitle(player, QStringLiteral("Artist - Two   - Winamp")); }, std::nullopt},
        {"a window above the player takes its name",
         [&] { fakes.windows->setTitle(fakes.windows->foreground, QStringLiteral("Notes - Winamp")); },
         QStringLiteral("Notes - Winamp")},
        {"the foreground window", [&] { fakes.windows->foreground = player; },
         QStringLiteral("Artist - Two - Winamp")},
        {"the player chosen", [&] { app->state().selectedPlayer = 3; }, std::nullopt},
        {"the player chosen back", [&] { app->state().selectedPlayer = 0; }, std::nullopt},
        {"the player closed", [&] { fakes.windows->destroy(player); }, std::nullopt},
        {"the player back with a song",
         [&] { fakes.windows->foreground = fakes.windows->add(QStringLiteral("Back - Winamp")); },
         QStringLiteral("Back - Winamp")},
    };
    for (const auto& c : changes) {
        c.change();
        fakes.windows->titleReads = 0;
        EXPECT_EQ(cycle.tick(), c.status) << c.what;
        const int reads = fakes.windows->titleReads;
        for (int tick = 0; tick < 10; ++tick)
            EXPECT_EQ(cycle.tick(), std::nullopt) << c.what;
        EXPECT_EQ(fakes.windows->titleReads, reads) << c.what << ": an unchanged desktop was read again";
    }
}

TEST_F(ReadSong, AnUnknownPlayerIsRefusedBeforeAnyWindowIsRead)
{
    fakes.windows->add(kWinamp);
    fakes.windows->titleReads = 0;
    EXPECT_THROW(readsong(desktop(), static_cast<PlayerId>(playerCount())), std::out_of_range);
    EXPECT_THROW(readsong(desktop(), -1), std::out_of_range);
    EXPECT_EQ(fakes.windows->titleReads, 0);
    EXPECT_FALSE(messageShown());
}

} // namespace
} // namespace tunalo::test
