// One tick of the publish cycle, publishing off, on a desktop where nothing changes: with the cached
// list the tick only asks whether the desktop changed; read afresh, it makes the running test and
// the song read for the selected player, once each, and the status line's text. Measured on the X
// desktop in $DISPLAY (bench/run-nowplaying makes a private one) with the player right below the
// foreground window or at the bottom of the stack.
// And the same tick with the fifth choice, a player on the desktop's session bus.
#include "core/publishcycle.h"
#include "nowplaying/findwondowlike.h"
#include "nowplaying/players.h"
#include "adapters/dbus/mprisbus.h"
#include "adapters/qt/systemclock.h"
#include "adapters/x11/xcbwindowlist.h"
#include "support/fakes.h"
#include "support/mprisplayer.h"
#include "support/playerwindow.h"
#include "support/process.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

using namespace tunalo;
using test::PlayerWindow;

const QString kSong = QStringLiteral("12. The Example Band - First Light - Winamp");

// The desktop of one size: the player and the other windows, the other windows' first one active.
class Desktop {
public:
    explicit Desktop(int windows)
        : m_player(kSong), m_others(QStringLiteral("Untitled - Notepad"), windows - 2), m_windows(windows)
    {
    }
    int windows() const { return m_windows; }
    bool ready() const { return m_player.started() && m_others.started(); }

    // Puts the player right below the foreground window or at the bottom; true once it is so.
    bool place(bool bottom)
    {
        if (!m_player.send(bottom ? QStringLiteral("lower") : QStringLiteral("raise")) ||
            !m_others.send(QStringLiteral("activate")))
            return false;
        XcbWindowList fresh(XcbWindowList::Mode::Fresh);
        const auto placed = [&] {
            if (fresh.GetForegroundWindow() != m_others.handle())
                return false;
            const HWND below = fresh.GetWindow(m_others.handle(), GW_HWNDNEXT);
            return bottom ? below != m_player.handle() && fresh.GetWindow(m_player.handle(), GW_HWNDNEXT) == 0
                          : below == m_player.handle();
        };
        return test::waitUntil(placed, 60000);
    }

private:
    PlayerWindow m_player;
    PlayerWindow m_others;
    int m_windows;
};

// Building a desktop of 500 windows takes the window manager half a minute: keep the last one.
Desktop* desktopOf(int windows)
{
    static std::unique_ptr<Desktop> desktop;
    if (!desktop || desktop->windows() != windows) {
        desktop.reset();
        desktop = std::make_unique<Desktop>(windows);
    }
    return desktop->ready() ? desktop.get() : nullptr;
}

// The publish cycle of the program on the desktop's windows and players, watching player; its tick
// is the program's, publishing off.
struct Cycle {
    Cycle(WindowList& windows, MediaPlayers& players, PlayerId player)
        : cycle(PublishServices{settings, PlayerDesktop{windows, players}, clock, nullptr, QString()})
    {
        cycle.state().selectedPlayer = player;
    }

    test::MemorySettingsStore settings;
    SystemClock clock;
    PublishCycle cycle;
};

// Each tick is a turn of the event loop of its own, as in the program, so its first question takes
// in what the server told since the last one.
void tick(PublishCycle& cycle)
{
    QCoreApplication::processEvents();
    benchmark::DoNotOptimize(cycle.tick());
}

// Arguments: number of windows, player at the bottom (1) or right below the foreground (0),
// cached (1) or read afresh (0).
void Tick(benchmark::State& state)
{
    Desktop* desktop = desktopOf(static_cast<int>(state.range(0)));
    if (!desktop || !desktop->place(state.range(1) != 0)) {
        state.SkipWithError("the test desktop did not come up as asked");
        return;
    }
    auto list = std::make_unique<XcbWindowList>(state.range(2) ? XcbWindowList::Mode::Cached
                                                               : XcbWindowList::Mode::Fresh);
    XcbWindowList& windows = *list;
    SystemClock clock;
    MprisBus noBus(clock); // never watched: no player on the bus
    Cycle cycle(windows, noBus, 0);
    if (cycle.cycle.tick() != QStringLiteral(" The Example Band - First Light - Winamp")) {
        state.SkipWithError("the player's song did not read");
        return;
    }
    tick(cycle.cycle); // the steady state: everything read once
    const std::uint64_t before = windows.roundTrips();
    for (auto _ : state)
        tick(cycle.cycle);
    state.counters["round_trips_per_tick"] = benchmark::Counter(
        static_cast<double>(windows.roundTrips() - before) / static_cast<double>(state.iterations()));
}

void arguments(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"windows", "bottom", "cached"});
    for (const int windows : {50, 500})
        for (const int bottom : {0, 1})
            for (const int cached : {1, 0})
                benchmark->Args({windows, bottom, cached});
    benchmark->Unit(benchmark::kMicrosecond);
}

BENCHMARK(Tick)->Apply(arguments);

constexpr PlayerId kBusPlayer = 4;

// Argument: the player announces its changes (0) or never does and is read afresh (1). Between
// ticks the event loop takes in what the bus sent, as it does in the program.
void TickOnTheBus(benchmark::State& state)
{
    const bool quiet = state.range(0) != 0;
    QStringList options = {QStringLiteral("--identity"), QStringLiteral("Rhythmbox")};
    if (quiet)
        options << QStringLiteral("--quiet");
    test::MprisPlayer player(QProcessEnvironment::systemEnvironment(), QStringLiteral("bench"), options);
    if (!player.started() ||
        !player.play(QStringLiteral("First Light"), {QStringLiteral("The Example Band")})) {
        state.SkipWithError("the stand-in player did not start on the session bus");
        return;
    }
    SystemClock clock;
    MprisBus players(clock);
    XcbWindowList windows;
    Cycle cycle(windows, players, kBusPlayer);
    players.watch();
    if (!test::waitUntil(
            [&] { return players.nowPlaying().song == QStringLiteral("The Example Band - First Light"); })) {
        state.SkipWithError("the player's song did not arrive");
        return;
    }
    const std::uint64_t before = players.callsSent();
    for (auto _ : state) {
        benchmark::DoNotOptimize(cycle.cycle.tick());
        QCoreApplication::processEvents();
    }
    state.counters["bus_calls_per_tick"] = benchmark::Counter(
        static_cast<double>(players.callsSent() - before) / static_cast<double>(state.iterations()));
}

BENCHMARK(TickOnTheBus)->ArgName("quiet")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "this benchmark needs an X desktop: run it through bench/run-nowplaying\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
