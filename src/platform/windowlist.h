#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tunalo {

// A top-level window's handle; 0 names no window.
using HWND = std::uint32_t;

inline constexpr std::uint32_t GW_HWNDNEXT = 2;
// Room for a title and its terminating NUL: a title is read up to its 254th character.
inline constexpr int kTitleCapacity = 255;

// The desktop's top-level windows as the now-playing detection sees them: a foreground window
// and the stacking order below it.
class WindowList {
public:
    virtual ~WindowList() = default;

    // The window the user works with now, or 0.
    virtual HWND GetForegroundWindow() = 0;
    // With GW_HWNDNEXT: the next window below hWnd in the stacking order, or 0 after the last one
    // and for a handle that no longer names a window.
    virtual HWND GetWindow(HWND hWnd, std::uint32_t uCmd) = 0;
    // The window's title, at most nMaxCount - 1 characters (see nowplaying/cuttitle.h); empty for a window
    // without a title and for a handle that no longer names a window.
    virtual QString GetWindowTextA(HWND hWnd, int nMaxCount) = 0;
    // A number that stays the same for as long as every answer above does: the foreground window,
    // the stacking order and every title. Nothing when the list cannot tell; then any answer may
    // differ from the last.
    virtual std::optional<std::uint64_t> version() { return std::nullopt; }
};

} // namespace tunalo
