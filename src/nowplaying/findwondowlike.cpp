#include "nowplaying/findwondowlike.h"

#include "nowplaying/playerid.h"

namespace tunalo {

namespace {

// A desktop whose stacking order changes under the walk could lead it round in a circle; no
// desktop holds this many top-level windows, so a longer walk has lost its way.
constexpr int kLongestWalk = 1 << 16;

} // namespace

bool isWindowHandle(HWND handle)
{
    return static_cast<std::int32_t>(handle) > 0;
}

HWND findbytitle(WindowList& windows, const QString& text)
{
    const QString wanted = text.toLower();
    HWND h = windows.GetForegroundWindow();
    for (int step = 0; h != 0 && step < kLongestWalk; ++step) {
        if (windows.GetWindowTextA(h, kTitleCapacity).toLower().contains(wanted))
            return h;
        h = windows.GetWindow(h, GW_HWNDNEXT);
    }
    return 0;
}

std::int16_t isrunning(WindowList& windows, const QString& key)
{
    const QString k = key.toLower();
    const HWND h = findbytitle(windows, k);
    // The window may have gone since the walk found it: then its title reads empty.
    const QString title = isWindowHandle(h) ? windows.GetWindowTextA(h, kTitleCapacity) : QString();
    return title.toLower().contains(k) ? kTrue : kFalse;
}

} // namespace tunalo
