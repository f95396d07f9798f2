#pragma once

#include "platform/windowlist.h"

#include <cstdint>
#include <memory>

namespace tunalo {

// The X desktop's top-level windows. With an EWMH window manager the foreground window is
// _NET_ACTIVE_WINDOW and the stacking order _NET_CLIENT_LIST_STACKING; without one, the input
// focus and the root window's children. When no window has the focus (none is active, the
// desktop's own window is, or the focus fell back to the root) the foreground window is the top
// of the stacking order. A title is _NET_WM_NAME, or WM_NAME when that is missing or empty. The
// connection opens on first use.
class XcbWindowList : public WindowList {
public:
    // Cached keeps the stacking order and the titles and lets the server's events keep them true,
    // so an unchanged desktop costs no round trip; it takes the events in at the first question
    // of each turn of the event loop, so one handler's questions all see one picture of the
    // desktop. Fresh asks the server for every answer.
    enum class Mode { Cached, Fresh };

    explicit XcbWindowList(Mode mode = Mode::Cached);
    ~XcbWindowList() override;
    XcbWindowList(const XcbWindowList&) = delete;
    XcbWindowList& operator=(const XcbWindowList&) = delete;

    HWND GetForegroundWindow() override;
    HWND GetWindow(HWND hWnd, std::uint32_t uCmd) override;
    QString GetWindowTextA(HWND hWnd, int nMaxCount) override;
    // Cached: moves only with the events that change what the list answers. Fresh: nothing.
    std::optional<std::uint64_t> version() override;

    // Replies waited for since the list was made: the measure of what an answer costs.
    std::uint64_t roundTrips() const;
    // Whether a window manager's stacking list is in use (after the first answer).
    bool usesWindowManager() const;

private:
    class Desktop;
    Mode m_mode;
    std::unique_ptr<Desktop> m_desktop;
    Desktop& desktop();
};

} // namespace tunalo
