#include "app/mainmodule.h"
#include "nowplaying/findwondowlike.h"
#include "nowplaying/players.h"
#include "adapters/x11/xcbwindowlist.h"
#include "support/fakes.h"
#include "support/playerwindow.h"
#include "support/process.h"
#include "support/titlecases.h"
#include "support/uiprobe.h"
#include "ui/info.h"
#include "ui/interface.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QProcess>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstring>
#include <utility>
#include <vector>

namespace tunalo::test {
namespace {

using Walked = std::vector<std::pair<HWND, QString>>;

// Every window the walk passes, with its title, from the foreground window down.
Walked walk(WindowList& windows)
{
    Walked walked;
    for (HWND h = windows.GetForegroundWindow(); h != 0 && walked.size() < 5000;
         h = windows.GetWindow(h, GW_HWNDNEXT))
        walked.emplace_back(h, windows.GetWindowTextA(h, kTitleCapacity));
    return walked;
}

// Answers once (which notices a window manager that came or went), then tells whether one is in use.
bool managed(XcbWindowList& list)
{
    list.GetForegroundWindow();
    return list.usesWindowManager();
}

const QString kNotepad = QStringLiteral("Untitled - Notepad");

// The program's now-playing detection on the test desktop, with a list read afresh beside it.
class RealDesktop : public ::testing::Test {
protected:
    RealDesktop()
    {
        auto list = std::make_unique<XcbWindowList>();
        cached = list.get();
        fakes.platform.windows = std::move(list);
        app = std::make_unique<mainmodule>(fakes.platform);
    }

    void SetUp() override
    {
        // The test desktop's window manager may still be starting.
        ASSERT_TRUE(waitUntil([&] { return managed(fresh); }));
    }

    // Opens a window and makes it the one the user works with.
    static void activate(PlayerWindow& window, WindowList& seenBy, int timeoutMs = 15000)
    {
        ASSERT_TRUE(window.send(QStringLiteral("activate")));
        ASSERT_TRUE(waitUntil([&] { return seenBy.GetForegroundWindow() == window.handle(); }, timeoutMs));
    }

    void expectSameAsFresh() { EXPECT_EQ(walk(*cached), walk(fresh)); }
    QString song(PlayerId player) { return readsong(app->cycle().desktop(), player).song; }

    // The program, logged in and publishing what the Winamp window plays, has posted its first song.
    void startPublishing(PlayerWindow& player, const QString& firstSong)
    {
        ASSERT_TRUE(player.started());
        ASSERT_TRUE(app->startup());
        app->state().loginState = LoginState::LoggedIn;
        app->state().selectedPlayer = 0;
        answerEveryPost(*app);
        app->form<interface>().Command1_Click();
        ASSERT_EQ(app->state().publishing, kTrue);
        activate(player, fresh);
        tick();
        ASSERT_EQ(postedSongs(*app), QStringList{firstSong});
    }
    // One tick of the publish cycle, in a turn of the event loop of its own.
    void tick()
    {
        nextTick();
        app->form<interface>().update_Timer();
    }

    FakePlatform fakes;
    XcbWindowList* cached;
    XcbWindowList fresh{XcbWindowList::Mode::Fresh};
    std::unique_ptr<mainmodule> app;
};

TEST_F(RealDesktop, ReadsTheSongOutOfRealTitlesTheMomentTheyChange)
{
    PlayerWindow player(QStringLiteral("starting"));
    PlayerWindow notepad(kNotepad);
    ASSERT_TRUE(player.started() && notepad.started());
    activate(notepad, fresh);
    walk(*cached);
    for (const SongCase& c : songCases()) {
        ASSERT_TRUE(player.setTitle(QString::fromUtf8(c.title)));
        // No waiting: the change must show in the very next tick.
        nextTick();
        EXPECT_EQ(song(c.player), QString::fromUtf8(c.song)) << c.title;
        expectSameAsFresh();
    }
    EXPECT_TRUE(cached->usesWindowManager());
}

// The tick walks the windows again only when the desktop changed, and then sees the change at once:
// the list's version stays while nothing happens and moves with everything the walk reads.
TEST_F(RealDesktop, TheTickReadsAgainOnlyAfterAChangeAndThenSeesIt)
{
    PlayerWindow player(QStringLiteral("Artist - First - Winamp"));
    PlayerWindow notepad(kNotepad);
    ASSERT_TRUE(player.started() && notepad.started());
    activate(notepad, fresh);
    ASSERT_TRUE(player.send(QStringLiteral("lower")));
    ASSERT_TRUE(waitUntil([&] { return walk(fresh).back().first == player.handle(); }));
    PlayerDesktop desktop{*cached, *fakes.players};
    PlayerDesktop freshDesktop{fresh, *fakes.players};
    PlayerWatch watch;
    // The desktop settles (the window manager's own changes come in) and stays as it is.
    ASSERT_TRUE(waitUntil([&] {
        nextTick();
        return !watch.look(desktop, 0);
    }));
    const auto expectQuiet = [&](const char* after) {
        for (int turn = 0; turn < 20; ++turn) {
            nextTick();
            EXPECT_FALSE(watch.look(desktop, 0)) << after << ": read again though nothing changed";
        }
    };
    expectQuiet("at first");
    // A title is seen in the very next tick.
    for (const QString& title : {QStringLiteral("Artist - Second - Winamp"), QStringLiteral("Winamp")}) {
        ASSERT_TRUE(player.setTitle(title));
        nextTick();
        EXPECT_TRUE(watch.look(desktop, 0)) << title.toStdString();
        EXPECT_EQ(watch.last().reading.song, readsong(freshDesktop, 0).song) << title.toStdString();
    }
    ASSERT_TRUE(notepad.setTitle(QStringLiteral("Notes - Winamp")));
    nextTick();
    EXPECT_TRUE(watch.look(desktop, 0));
    EXPECT_EQ(watch.last().reading.song, QStringLiteral("Notes"));
    expectQuiet("a title changed");
    // What the window manager does comes a moment later; the look follows it.
    const auto expectFollowed = [&](const char* what) {
        EXPECT_TRUE(waitUntil([&] {
            nextTick();
            watch.look(desktop, 0);
            const SongReading now = readsong(freshDesktop, 0);
            return watch.last().running == now.running && watch.last().reading.song == now.song;
        })) << what;
    };
    ASSERT_TRUE(player.setTitle(QStringLiteral("Artist - Third - Winamp")) && notepad.setTitle(kNotepad));
    activate(player, fresh);
    expectFollowed("the player activated");
    EXPECT_EQ(watch.last().reading.song, QStringLiteral("Artist - Third"));
    ASSERT_TRUE(player.send(QStringLiteral("above on")));
    activate(notepad, fresh);
    expectFollowed("the player kept above the foreground window");
    EXPECT_FALSE(watch.last().running);
    ASSERT_TRUE(player.send(QStringLiteral("above off")));
    activate(notepad, fresh);
    ASSERT_TRUE(player.send(QStringLiteral("lower")));
    expectFollowed("the player lowered below it");
    EXPECT_TRUE(watch.last().running);
    player.send(QStringLiteral("quit"));
    expectFollowed("the player closed");
    EXPECT_FALSE(watch.last().running);
    ASSERT_TRUE(waitUntil([&] {
        nextTick();
        return !watch.look(desktop, 0);
    }));
    expectQuiet("the player closed");
}

TEST_F(RealDesktop, TheWalkGoesDownFromTheForegroundWindowPastHiddenOnesButNeverUp)
{
    PlayerWindow player(QStringLiteral("3. Some Artist - Some Song - Winamp"));
    PlayerWindow notepad(kNotepad);
    ASSERT_TRUE(player.started() && notepad.started());
    activate(notepad, fresh);
    EXPECT_EQ(findbytitle(*cached, QStringLiteral("- winamp")), player.handle());
    EXPECT_EQ(isrunning(*cached, QStringLiteral("winamp")), -1);
    EXPECT_EQ(findbytitle(*cached, QString()), notepad.handle());

    // Kept on top, the player lies above the foreground window.
    ASSERT_TRUE(player.send(QStringLiteral("above on")));
    ASSERT_TRUE(waitUntil([&] { return findbytitle(fresh, QStringLiteral("- winamp")) == 0; }));
    EXPECT_EQ(findbytitle(*cached, QStringLiteral("- winamp")), 0u);
    EXPECT_EQ(isrunning(*cached, QStringLiteral("winamp")), 0);
    expectSameAsFresh();

    ASSERT_TRUE(player.send(QStringLiteral("above off")));
    ASSERT_TRUE(player.send(QStringLiteral("minimize")));
    activate(notepad, fresh);
    ASSERT_TRUE(waitUntil([&] { return findbytitle(fresh, QStringLiteral("- winamp")) == player.handle(); }));
    EXPECT_EQ(findbytitle(*cached, QStringLiteral("- winamp")), player.handle());
    expectSameAsFresh();
}

TEST_F(RealDesktop, AnUnchangedDesktopCostsNoRoundTrip)
{
    PlayerWindow player(QStringLiteral("1. A - B - Winamp"), 20);
    ASSERT_TRUE(player.started());
    activate(player, fresh);
    // The window manager goes on placing and stacking the new windows for a moment.
    ASSERT_TRUE(waitUntil([&] {
        const std::uint64_t start = cached->roundTrips();
        song(0);
        isrunning(*cached, QStringLiteral("no such player"));
        return cached->roundTrips() == start;
    }));
    const std::uint64_t before = cached->roundTrips();
    for (int tick = 0; tick < 10; ++tick) {
        EXPECT_EQ(song(0), QStringLiteral(" A - B"));
        EXPECT_EQ(isrunning(*cached, QStringLiteral("no such player")), 0);
    }
    EXPECT_EQ(cached->roundTrips(), before);

    ASSERT_TRUE(player.setTitle(QStringLiteral("2. C - D - Winamp")));
    nextTick();
    EXPECT_EQ(song(0), QStringLiteral(" C - D"));
    EXPECT_LE(cached->roundTrips(), before + 2) << "only the changed title is read again";
    EXPECT_GT(fresh.roundTrips(), 0u);
}

TEST_F(RealDesktop, OddTitlesReadLikeAFreshReadAndNeverHarm)
{
    PlayerWindow player(QStringLiteral("x"));
    PlayerWindow notepad(kNotepad);
    ASSERT_TRUE(player.started() && notepad.started());
    activate(notepad, fresh);
    struct Odd {
        QString command;
        QString song;
    };
    const Odd odds[] = {
        {QStringLiteral("rawtitle 41ff2d2057696e616d70"), QStringLiteral("A\uFFFD")}, // invalid UTF-8
        {QStringLiteral("rawtitle 536f6e67202d2057696e616d7000414141"),
         QStringLiteral("Song")},                                                   // NUL after the marker
        {QStringLiteral("rawtitle 536f6e6700202d2057696e616d70"), QString()},       // NUL before it
        {QStringLiteral("wmname Caf\u00e9 - Winamp"), QStringLiteral("Caf\u00e9")}, // Latin-1 WM_NAME
        {QStringLiteral("rawtitle "), QStringLiteral("Caf\u00e9")}, // an empty _NET_WM_NAME beside it
        {QStringLiteral("title ") + QString(10000, QLatin1Char('x')) + QStringLiteral(" - Winamp"),
         QString()},
        {QStringLiteral("title "), QString()},
        {QStringLiteral("churn 500"), QString()},
        {QStringLiteral("title Last Song - Winamp"), QStringLiteral("Last Song")},
    };
    for (const Odd& odd : odds) {
        ASSERT_TRUE(player.send(odd.command)) << odd.command.left(40).toStdString();
        nextTick();
        const bool found = findbytitle(*cached, QStringLiteral("- winamp")) == player.handle();
        EXPECT_EQ(found ? song(0) : QString(), odd.song) << odd.command.left(40).toStdString();
        expectSameAsFresh();
    }
}

TEST_F(RealDesktop, AClosedPlayerNoLongerRunsAndEndsTheWalk)
{
    PlayerWindow notepad(kNotepad);
    PlayerWindow below(QStringLiteral("Below - Winamp"));
    PlayerWindow player(QStringLiteral("Song - Winamp"));
    ASSERT_TRUE(notepad.started() && player.started() && below.started());
    activate(notepad, fresh);
    ASSERT_TRUE(player.send(QStringLiteral("lower")) && below.send(QStringLiteral("lower")));
    ASSERT_TRUE(waitUntil([&] { return findbytitle(fresh, QStringLiteral("- winamp")) == player.handle(); }));
    EXPECT_EQ(song(0), QStringLiteral("Song"));

    const HWND gone = player.handle();
    player.close();
    // The title goes with the window, and a moment later the window manager drops it from the
    // stacking order; only then do both lists agree on what lies below.
    ASSERT_TRUE(waitUntil([&] {
        return fresh.GetWindowTextA(gone, kTitleCapacity).isEmpty() &&
               fresh.GetWindow(gone, GW_HWNDNEXT) == 0;
    }));
    EXPECT_EQ(cached->GetWindowTextA(gone, kTitleCapacity), QString());
    EXPECT_EQ(cached->GetWindow(gone, GW_HWNDNEXT), 0u);
    EXPECT_EQ(song(0), QStringLiteral("Below"));
    expectSameAsFresh();
}

// Clicks the empty desktop, where no window lies, until the window manager takes the focus away
// from every window (openbox does on a click on the background).
bool clickEmptyDesktop()
{
    const std::pair<int, int> spots[] = {{1200, 120}, {1200, 500}, {700, 700}, {20, 780}};
    for (const auto& [x, y] : spots) {
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("mousemove"), QString::number(x), QString::number(y),
                           QStringLiteral("click"), QStringLiteral("1")});
        if (waitUntil([] { return activeWindow() == 0; }, 2000))
            return true;
    }
    return false;
}

TEST_F(RealDesktop, AClickOnTheEmptyDesktopDoesNotStopTheNextSongFromBeingPosted)
{
    PlayerWindow player(QStringLiteral("Artist - First - Winamp"));
    ASSERT_NO_FATAL_FAILURE(startPublishing(player, QStringLiteral("Artist - First")));

    ASSERT_TRUE(clickEmptyDesktop());
    ASSERT_TRUE(player.setTitle(QStringLiteral("Artist - Second - Winamp")));
    tick();
    EXPECT_EQ(postedSongs(*app),
              QStringList({QStringLiteral("Artist - First"), QStringLiteral("Artist - Second")}));
    EXPECT_EQ(app->state().publishing, kTrue);
    EXPECT_EQ(app->form<interface>().sts->text(), QStringLiteral("Artist - Second - Winamp"));
}

// Some desktops make their own background window the active one when the user clicks it.
TEST_F(RealDesktop, TheDesktopsOwnWindowActiveCountsAsNoFocusedWindow)
{
    PlayerWindow background(QStringLiteral("Desktop"));
    PlayerWindow player(QStringLiteral("Song - Winamp"));
    ASSERT_TRUE(background.started() && player.started());
    ASSERT_TRUE(background.send(QStringLiteral("desktoptype")));
    ASSERT_TRUE(background.send(QStringLiteral("activate")));
    ASSERT_TRUE(waitUntil([&] { return activeWindow() == background.handle(); }));
    ASSERT_TRUE(player.send(QStringLiteral("raise")));
    ASSERT_TRUE(
        waitUntil([&] { return findbytitle(*cached, QStringLiteral("- winamp")) == player.handle(); }));
    EXPECT_NE(cached->GetForegroundWindow(), background.handle());
    // The window manager may restack the desktop's window a moment after the raise; once it has,
    // the tick's picture and a fresh read agree.
    EXPECT_TRUE(waitUntil([&] { return walk(*cached) == walk(fresh); }));
    expectSameAsFresh();
}

// A player that restarts, or makes a new window for every track, while the cycle ticks.
TEST_F(RealDesktop, APlayerWindowMadeAnewAThousandTimesNeverSwitchesPublishingOff)
{
    PlayerWindow player(QStringLiteral("Artist - Song 0 - Winamp"));
    ASSERT_NO_FATAL_FAILURE(startPublishing(player, QStringLiteral("Artist - Song 0")));
    player.start(QStringLiteral("recreate 1000"));
    const QDeadlineTimer deadline(180000);
    int ticks = 0;
    while (!player.done() && !deadline.hasExpired()) {
        tick();
        ++ticks;
        ASSERT_EQ(app->state().publishing, kTrue) << "after " << ticks << " ticks";
    }
    ASSERT_FALSE(deadline.hasExpired()) << "the player tool did not finish";
    EXPECT_FALSE(app->isLoaded<info>()) << "no message panel was shown";
    // The window manager may name the last window gone as the active one for a moment.
    EXPECT_TRUE(waitUntil([&] {
        tick();
        return postedSongs(*app).last() == QStringLiteral("Artist - Song 1000");
    }));
}

// An X server of the test's own, at first without a window manager.
class BareDisplay {
public:
    BareDisplay()
    {
        m_server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (m_server.waitForReadyRead(15000))
            name = QLatin1Char(':') + QString::fromLatin1(m_server.readLine()).trimmed();
    }
    ~BareDisplay()
    {
        stopWindowManager();
        m_server.terminate();
        m_server.waitForFinished(5000);
    }
    BareDisplay(const BareDisplay&) = delete;
    BareDisplay& operator=(const BareDisplay&) = delete;

    void startWindowManager()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), name);
        m_windowManager.setProcessEnvironment(environment);
        m_windowManager.setProcessChannelMode(QProcess::MergedChannels);
        m_windowManager.start(QStringLiteral("openbox"), {});
        m_windowManager.waitForStarted(10000);
    }
    void stopWindowManager()
    {
        if (m_windowManager.state() == QProcess::NotRunning)
            return;
        m_windowManager.kill();
        m_windowManager.waitForFinished(5000);
    }

    QString name;

private:
    QProcess m_server;
    QProcess m_windowManager;
};

// The list connects on first use to $DISPLAY; these tests point it at their own server.
std::unique_ptr<XcbWindowList> listOn(const QString& display, XcbWindowList::Mode mode)
{
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", display.toLatin1());
    auto list = std::make_unique<XcbWindowList>(mode);
    list->GetForegroundWindow();
    qputenv("DISPLAY", saved);
    return list;
}

// A private server with the program's list and a list read afresh on it.
class BareDesktop : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(display.name.isEmpty()); }

    BareDisplay display;
    const std::unique_ptr<XcbWindowList> cached = listOn(display.name, XcbWindowList::Mode::Cached);
    const std::unique_ptr<XcbWindowList> fresh = listOn(display.name, XcbWindowList::Mode::Fresh);
};

TEST_F(BareDesktop, WithoutAWindowManagerAndWhileOneComesAndGoes)
{
    PlayerWindow player(QStringLiteral("7. Song - Winamp"), 0, display.name);
    PlayerWindow notepad(kNotepad, 0, display.name);
    ASSERT_TRUE(player.started() && notepad.started());
    ASSERT_TRUE(notepad.send(QStringLiteral("activate")));
    nextTick();

    EXPECT_EQ(cached->GetForegroundWindow(), notepad.handle());
    EXPECT_FALSE(cached->usesWindowManager());
    EXPECT_EQ(findbytitle(*cached, QStringLiteral("- winamp")), player.handle());
    ASSERT_TRUE(player.setTitle(QStringLiteral("8. Other - Winamp")));
    nextTick();
    EXPECT_EQ(cached->GetWindowTextA(player.handle(), kTitleCapacity), QStringLiteral("8. Other - Winamp"));
    ASSERT_TRUE(player.send(QStringLiteral("raise")));
    nextTick();
    EXPECT_EQ(findbytitle(*cached, QStringLiteral("- winamp")), 0u) << "raised above the focused window";
    EXPECT_EQ(walk(*cached), walk(*fresh));

    display.startWindowManager();
    ASSERT_TRUE(waitUntil([&] { return managed(*cached); }));
    ASSERT_TRUE(notepad.send(QStringLiteral("activate")));
    ASSERT_TRUE(waitUntil([&] { return cached->GetForegroundWindow() == notepad.handle(); }));
    ASSERT_TRUE(player.send(QStringLiteral("lower")));
    ASSERT_TRUE(
        waitUntil([&] { return findbytitle(*cached, QStringLiteral("- winamp")) == player.handle(); }));
    EXPECT_EQ(walk(*cached), walk(*fresh));

    display.stopWindowManager();
    ASSERT_TRUE(waitUntil([&] { return !managed(*cached); }));
    ASSERT_TRUE(notepad.send(QStringLiteral("activate")));
    nextTick();
    EXPECT_EQ(cached->GetForegroundWindow(), notepad.handle());
    EXPECT_EQ(walk(*cached), walk(*fresh));
}

TEST_F(BareDesktop, KillingTheWindowManagerDoesNotBlindTheWalk)
{
    display.startWindowManager();
    PlayerWindow player(QStringLiteral("Song - Winamp"), 0, display.name);
    PlayerWindow notepad(kNotepad, 0, display.name);
    ASSERT_TRUE(player.started() && notepad.started());
    ASSERT_TRUE(waitUntil([&] { return managed(*cached); }));
    ASSERT_TRUE(notepad.send(QStringLiteral("activate")) && player.send(QStringLiteral("lower")));
    ASSERT_TRUE(
        waitUntil([&] { return findbytitle(*cached, QStringLiteral("- winamp")) == player.handle(); }));

    display.stopWindowManager();
    ASSERT_TRUE(waitUntil([&] { return !managed(*cached); }));
    EXPECT_TRUE(
        waitUntil([&] { return findbytitle(*cached, QStringLiteral("- winamp")) == player.handle(); }, 5000));
    EXPECT_EQ(walk(*cached), walk(*fresh));
}

// Without a window manager to place them, a thousand windows open in a moment.
TEST_F(BareDesktop, AThousandWindowsWalkAlike)
{
    PlayerWindow player(QStringLiteral("Song - Winamp"), 0, display.name);
    PlayerWindow many(kNotepad, 999, display.name);
    ASSERT_TRUE(player.started() && many.started());
    ASSERT_TRUE(player.send(QStringLiteral("lower")) && many.send(QStringLiteral("raise")) &&
                many.send(QStringLiteral("activate")));
    nextTick();

    const Walked walked = walk(*cached);
    EXPECT_EQ(walked.size(), 1001u);
    EXPECT_EQ(walked, walk(*fresh));
    EXPECT_EQ(findbytitle(*cached, QStringLiteral("- winamp")), player.handle());
    const std::uint64_t before = cached->roundTrips();
    EXPECT_EQ(isrunning(*cached, QStringLiteral("no such player")), 0);
    EXPECT_EQ(cached->roundTrips(), before);
}


// One client of a private server, drawing windows and writing root properties by hand.
class XClient {
public:
    explicit XClient(const QString& display)
        : m_connection(xcb_connect(display.toLatin1().constData(), nullptr))
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~XClient() { xcb_disconnect(m_connection); }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    xcb_window_t makeWindow(const QString& title)
    {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const QByteArray text = title.toUtf8();
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_NAME"),
                            atom("UTF8_STRING"), 8, static_cast<std::uint32_t>(text.size()), text.constData());
        sync();
        return window;
    }

    // Announces a window manager that keeps the stacking list the test writes, whatever windows
    // come and go: sway's X11 support kept a window's id listed after the window was gone.
    void actAsWindowManager()
    {
        const xcb_window_t check = makeWindow(QStringLiteral("manager"));
        setList(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
        setList(m_root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
        setList(m_root, "_NET_SUPPORTED", XCB_ATOM_ATOM,
                {atom("_NET_CLIENT_LIST_STACKING"), atom("_NET_ACTIVE_WINDOW"), atom("_NET_WM_NAME")});
    }
    void list(const std::vector<xcb_window_t>& bottomUp, xcb_window_t active)
    {
        setList(m_root, "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, bottomUp);
        setList(m_root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {active});
    }

private:
    xcb_atom_t atom(const char* name)
    {
        const auto cookie =
            xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(m_connection, cookie, nullptr);
        const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }
    void setList(xcb_window_t window, const char* name, xcb_atom_t type, const std::vector<std::uint32_t>& values)
    {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom(name), type, 32,
                            static_cast<std::uint32_t>(values.size()), values.data());
        sync();
    }
    // Every request so far has reached the server once this returns.
    void sync() { std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); }

    xcb_connection_t* m_connection;
    xcb_window_t m_root = XCB_NONE;
};

// A program that ends takes its windows with it, and the next program to connect is given the same
// ids; a list that remembered the old window's end must read the new one as it is.
TEST_F(BareDesktop, AWindowMadeUnderTheIdOfOneGoneIsReadAfresh)
{
    XClient manager(display.name);
    manager.actAsWindowManager();
    const xcb_window_t bottom = manager.makeWindow(QStringLiteral("Bottom"));
    const xcb_window_t top = manager.makeWindow(kNotepad);
    const QString winamp = QStringLiteral("- winamp");
    xcb_window_t player = XCB_NONE;
    {
        XClient first(display.name);
        player = first.makeWindow(QStringLiteral("Old - Winamp"));
        manager.list({bottom, player, top}, top);
        ASSERT_TRUE(waitUntil([&] { return managed(*cached); }));
        ASSERT_TRUE(waitUntil([&] { return findbytitle(*cached, winamp) == player; }));
    }
    // The window went with its program; the manager goes on listing it.
    ASSERT_TRUE(waitUntil([&] { return findbytitle(*cached, winamp) == 0; }));
    EXPECT_EQ(cached->GetWindowTextA(player, kTitleCapacity), QString());
    EXPECT_EQ(cached->GetWindow(player, GW_HWNDNEXT), 0u);

    XClient second(display.name);
    ASSERT_EQ(second.makeWindow(QStringLiteral("New - Winamp")), player)
        << "the server gave the next program's window another id";
    EXPECT_TRUE(waitUntil([&] { return findbytitle(*cached, winamp) == player; }, 5000));
    EXPECT_EQ(cached->GetWindow(player, GW_HWNDNEXT), bottom);
    EXPECT_EQ(cached->GetWindowTextA(player, kTitleCapacity), QStringLiteral("New - Winamp"));
    EXPECT_EQ(walk(*cached), walk(*fresh));
}

} // namespace
} // namespace tunalo::test
