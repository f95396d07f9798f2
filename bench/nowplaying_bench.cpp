// One tick of the publish cycle as far as windows go: the running test and the song read for the
// selected player, twice. Measured on the X desktop in $DISPLAY (bench/run-nowplaying makes a
// private one) with the player right below the foreground window or at the bottom of the stack.
#include "core/mainmodule.h"
#include "nowplaying/findwondowlike.h"
#include "nowplaying/players.h"
#include "platform/x11/xcbwindowlist.h"
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

// Each tick is a turn of the event loop of its own, as in the program, so its first question takes
// in what the server told since the last one.
void tick(mainmodule& app, WindowList& windows)
{
    QCoreApplication::processEvents();
    for (int read = 0; read < 2; ++read) {
        benchmark::DoNotOptimize(isrunning(windows, QStringLiteral("winamp")));
        benchmark::DoNotOptimize(readsong(app, 0));
    }
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
    Platform platform;
    platform.windows = std::move(list);
    mainmodule app(platform);
    if (readsong(app, 0) != QStringLiteral(" The Example Band - First Light")) {
        state.SkipWithError("the player's song did not read");
        return;
    }
    tick(app, windows); // the steady state: everything read once
    const std::uint64_t before = windows.roundTrips();
    for (auto _ : state)
        tick(app, windows);
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
