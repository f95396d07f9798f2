#pragma once

#include "platform/windowlist.h"

#include <QIcon>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tunalo {

using HICON = std::uint32_t;

// The notification-icon record in the shape the shell introduced with its version 5.0. cbSize
// announces how much of it the shell may read; the older shape ends after 64 tip characters.
// The wide form holds UTF-16 text, the ANSI form bytes in the locale's encoding.
template <class Char> struct NotifyIconData {
    std::uint32_t cbSize;
    std::uint32_t hWnd;
    std::uint32_t uID;
    std::uint32_t uFlags;
    std::uint32_t uCallbackMessage;
    std::uint32_t hIcon;
    Char szTip[128];
    std::uint32_t dwState;
    std::uint32_t dwStateMask;
    Char szInfo[256];
    union {
        std::uint32_t uTimeout;
        std::uint32_t uVersion;
    };
    Char szInfoTitle[64];
    std::uint32_t dwInfoFlags;
};

using NOTIFYICONDATAW = NotifyIconData<char16_t>;
using NOTIFYICONDATAA = NotifyIconData<char>;

static_assert(sizeof(NOTIFYICONDATAW) == 936);
static_assert(sizeof(NOTIFYICONDATAA) == 488);

inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIM_MODIFY = 1;
inline constexpr std::uint32_t NIM_DELETE = 2;
inline constexpr std::uint32_t NIM_SETVERSION = 4;

inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;
inline constexpr std::uint32_t NIF_INFO = 16;

inline constexpr std::uint32_t NOTIFYICON_VERSION = 3;

// Notification codes the shell sends for an icon, in the low 16 bits of the callback's parameter.
inline constexpr std::uint32_t WM_MOUSEMOVE = 512;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 513;
inline constexpr std::uint32_t WM_LBUTTONUP = 514;
inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 515;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 516;
inline constexpr std::uint32_t WM_RBUTTONUP = 517;
inline constexpr std::uint32_t WM_RBUTTONDBLCLK = 518;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 519;
inline constexpr std::uint32_t WM_MBUTTONUP = 520;
inline constexpr std::uint32_t NIN_BALLOONSHOW = 1026;
inline constexpr std::uint32_t NIN_BALLOONHIDE = 1027;
inline constexpr std::uint32_t NIN_BALLOONTIMEOUT = 1028;
inline constexpr std::uint32_t NIN_BALLOONUSERCLICK = 1029;

// The record sizes: the version-5 shape, and the older shape that ends after 64 tip characters.
inline constexpr std::uint32_t kNotifyIconSizeW = 936;
inline constexpr std::uint32_t kNotifyIconSizeA = 488;
inline constexpr std::uint32_t kNotifyIconOldSizeW = 152;
inline constexpr std::uint32_t kNotifyIconOldSizeA = 88;
inline constexpr std::size_t kNotifyIconOldTipLength = 64;

// A text member's text, up to its first zero or the end of the field.
inline QString recordText(const char16_t* field, std::size_t fieldLength)
{
    const auto end = std::find(field, field + fieldLength, u'\0');
    return QString::fromUtf16(field, end - field);
}

// The same for a byte field, which holds text in the locale's encoding.
inline QString recordText(const char* field, std::size_t fieldLength)
{
    const auto end = std::find(field, field + fieldLength, '\0');
    return QString::fromLocal8Bit(field, end - field);
}

// One item of a popup menu as the shell draws it.
struct MenuEntry {
    QString caption; // "-" draws a separator; "&" marks the access key
    bool enabled = true;
    bool visible = true;
};

// The desktop's notification area and what the tray component needs around it.
class NotifyShell {
public:
    // A notification for an icon: the callback message and the notification code.
    using Listener = std::function<void(std::uint32_t uCallbackMessage, std::uint32_t code)>;

    virtual ~NotifyShell() = default;

    // The component's hidden window: its handle, to which notifications for icons carrying that
    // handle are delivered through listener.
    virtual HWND createHiddenWindow(Listener listener) = 0;
    virtual void destroyHiddenWindow(HWND hWnd) = 0;

    virtual bool Shell_NotifyIconA(std::uint32_t dwMessage, NOTIFYICONDATAA* lpData) = 0;
    virtual bool Shell_NotifyIconW(std::uint32_t dwMessage, NOTIFYICONDATAW* lpData) = 0;

    // The platform version word: bits 0-7 major, 8-15 minor, bit 31 set on the non-NT family.
    virtual std::uint32_t GetVersion() = 0;

    virtual bool SetForegroundWindow(HWND hWnd) = 0;
    // Pops the menu up at the pointer with defaultItem drawn in bold. chosen runs with the index
    // of the item the user picks, after the menu has closed; nothing runs when none is picked.
    virtual void PopupMenu(const std::vector<MenuEntry>& items, int defaultItem,
                           std::function<void(int)> chosen) = 0;
    // The menu of the window's icons for a notification area that draws the menu itself (a
    // StatusNotifier host reads it over the session bus and shows it on a right click). It holds
    // the items given last; chosen runs as for PopupMenu.
    virtual void setIconMenu(HWND hWnd, const std::vector<MenuEntry>& items, int defaultItem,
                             std::function<void(int)> chosen) = 0;

    // Icon handles: a handle for a picture, and the picture behind a handle.
    virtual HICON registerIcon(const QIcon& icon) = 0;
    virtual QIcon iconFor(HICON hIcon) const = 0;

    // Whether the desktop shows a notification area at all.
    virtual bool hasNotificationArea() const = 0;

    // The picture file the balloons from now on carry in place of the icon's picture, where the
    // desktop's balloons can show one; empty: the icon's again.
    virtual void setBalloonImage(const QString& imagePath) = 0;
};

} // namespace tunalo
