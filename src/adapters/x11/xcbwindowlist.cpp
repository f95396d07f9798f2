#include "adapters/x11/xcbwindowlist.h"

#include "nowplaying/cuttitle.h"
#include "adapters/x11/titletext.h"

#include <QAbstractEventDispatcher>
#include <QByteArray>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tunalo {

namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <class T> using XReply = std::unique_ptr<T, FreeDeleter>;

// Enough for 254 characters in any encoding; the rest of a longer title is never shown.
constexpr std::uint32_t kTitleLongs = 1024;
// Far more windows than any desktop holds.
constexpr std::uint32_t kListLongs = 1 << 16;

struct Property {
    xcb_atom_t type = XCB_NONE;
    std::uint8_t format = 0;
    QByteArray bytes;
    bool windowGone = false;

    std::vector<xcb_window_t> windows() const
    {
        std::vector<xcb_window_t> list;
        if (format == 32) {
            list.resize(static_cast<std::size_t>(bytes.size()) / sizeof(xcb_window_t));
            std::memcpy(list.data(), bytes.constData(), list.size() * sizeof(xcb_window_t));
        }
        return list;
    }
    xcb_window_t window() const
    {
        const auto list = windows();
        return list.empty() ? XCB_NONE : list.front();
    }
};

struct Atoms {
    xcb_atom_t activeWindow = XCB_NONE;
    xcb_atom_t clientListStacking = XCB_NONE;
    xcb_atom_t supported = XCB_NONE;
    xcb_atom_t supportingWmCheck = XCB_NONE;
    xcb_atom_t netWmName = XCB_NONE;
    xcb_atom_t utf8String = XCB_NONE;
    xcb_atom_t compoundText = XCB_NONE;
    xcb_atom_t windowType = XCB_NONE;
    xcb_atom_t windowTypeDesktop = XCB_NONE;
};

// The root's new children are heard under a window manager too: the server hands out the id of a
// window gone to a window made later, and the manager's list may still hold that id.
constexpr std::uint32_t kRootEwmhMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
constexpr std::uint32_t kRootPlainMask =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_FOCUS_CHANGE;
constexpr std::uint32_t kWindowEwmhMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
constexpr std::uint32_t kWindowPlainMask = kWindowEwmhMask | XCB_EVENT_MASK_FOCUS_CHANGE;

} // namespace

// One connection to the X server and what is known of its windows. In the cached mode every
// piece of knowledge has an event that tells when it goes stale; until then it is kept.
//
// The cached mode answers from one picture of the desktop per turn of the event loop: the first
// question of a timer tick or other handler takes in the events that arrived since the last one,
// and every further question of that handler answers from the same picture, so a running test
// and the song read after it never see two different desktops.
class XcbWindowList::Desktop {
public:
    explicit Desktop(Mode mode)
        : m_cached(mode == Mode::Cached), m_connection(xcb_connect(nullptr, &m_screen))
    {
        // The picture ends when the event loop wakes for its next turn. A timer that fired once
        // control is back in the loop did the same, but cost every tick a second turn of the loop.
        if (QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance())
            m_pictureEnd =
                QObject::connect(loop, &QAbstractEventDispatcher::awake, [this] { m_pictureTaken = false; });
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < m_screen && screens.rem > 0; ++i)
            xcb_screen_next(&screens);
        if (screens.rem == 0)
            return;
        m_root = screens.data->root;
        internAtoms();
    }
    ~Desktop()
    {
        QObject::disconnect(m_pictureEnd);
        xcb_disconnect(m_connection);
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Brings what is known up to date with the server's events; false when there is no server.
    bool ready()
    {
        if (m_root == XCB_NONE || xcb_connection_has_error(m_connection))
            return false;
        if (!m_cached) {
            takeInEvents();
            forgetEverything();
        } else if (!m_pictureTaken) {
            takeInEvents();
            m_pictureTaken = true;
        }
        return xcb_connection_has_error(m_connection) == 0;
    }

    // The window the walk starts from: the focused one or, when no window has the focus (none is
    // active, the desktop's own window is, or the focus fell back to the root), the top of the
    // stacking order, so that clicking the empty desktop does not hide every player.
    xcb_window_t foreground()
    {
        if (!m_cached)
            m_backendKnown = false;
        ensureBackend();
        if (!m_ewmh)
            ensureStack(); // watches every top-level window, so a focus change is heard
        if (!m_foregroundKnown) {
            const xcb_window_t focused = m_ewmh ? readActiveWindow() : readFocusedTopLevel();
            m_foreground = focused == m_root || isDesktopWindow(focused) ? XCB_NONE : focused;
            m_foregroundKnown = m_cached;
        }
        if (m_foreground != XCB_NONE)
            return m_foreground;
        ensureStack();
        return m_stack.empty() ? XCB_NONE : m_stack.front();
    }

    xcb_window_t below(xcb_window_t window)
    {
        if (m_gone.contains(window))
            return XCB_NONE;
        ensureBackend();
        ensureStack();
        const auto at = m_position.find(window);
        if (at == m_position.end() || at->second + 1 >= m_stack.size())
            return XCB_NONE;
        return m_stack[at->second + 1];
    }

    // The title cut for a read of nMaxCount characters with the NUL.
    QString title(xcb_window_t window, int nMaxCount)
    {
        if (m_gone.contains(window))
            return {};
        auto known = m_titles.find(window);
        if (known == m_titles.end()) {
            watch(window);
            bool gone = false;
            QString full = readTitle(window, gone);
            if (gone) {
                markGone(window);
                return {};
            }
            if (!m_cached)
                return cutTitle(full, nMaxCount);
            const QString cut = cutTitle(full, kTitleCapacity);
            known = m_titles.emplace(window, CachedTitle{std::move(full), cut}).first;
        }
        return nMaxCount == kTitleCapacity ? known->second.cut : cutTitle(known->second.full, nMaxCount);
    }

    std::uint64_t roundTrips() const { return m_roundTrips; }
    bool ewmh() const { return m_ewmh; }
    // Moves whenever an event or a read finds that something the walk was told may be otherwise
    // now; only the cached mode can tell.
    std::optional<std::uint64_t> version() const
    {
        return m_cached ? std::optional<std::uint64_t>(m_version) : std::nullopt;
    }

private:
    struct CachedTitle {
        QString full;
        QString cut; // as a read with the usual capacity returns it
    };

    void internAtoms()
    {
        const std::pair<const char*, xcb_atom_t*> atoms[] = {
            {"_NET_ACTIVE_WINDOW", &m_atoms.activeWindow},
            {"_NET_CLIENT_LIST_STACKING", &m_atoms.clientListStacking},
            {"_NET_SUPPORTED", &m_atoms.supported},
            {"_NET_SUPPORTING_WM_CHECK", &m_atoms.supportingWmCheck},
            {"_NET_WM_NAME", &m_atoms.netWmName},
            {"UTF8_STRING", &m_atoms.utf8String},
            {"COMPOUND_TEXT", &m_atoms.compoundText},
            {"_NET_WM_WINDOW_TYPE", &m_atoms.windowType},
            {"_NET_WM_WINDOW_TYPE_DESKTOP", &m_atoms.windowTypeDesktop},
        };
        std::vector<xcb_intern_atom_cookie_t> cookies;
        // Asked all at once, answered in one round trip.
        for (const auto& [name, atom] : atoms)
            cookies.push_back(
                xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
        for (std::size_t i = 0; i < cookies.size(); ++i) {
            XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookies[i], nullptr));
            if (reply)
                *atoms[i].second = reply->atom;
        }
        ++m_roundTrips;
    }

    Property readProperty(xcb_window_t window, xcb_atom_t name, std::uint32_t longs)
    {
        Property property;
        const xcb_get_property_cookie_t cookie =
            xcb_get_property(m_connection, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
        xcb_generic_error_t* error = nullptr;
        XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, &error));
        ++m_roundTrips;
        if (error) {
            property.windowGone = error->error_code == XCB_WINDOW;
            std::free(error);
            return property;
        }
        if (!reply)
            return property;
        property.type = reply->type;
        property.format = reply->format;
        property.bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                    xcb_get_property_value_length(reply.get()));
        return property;
    }

    // _NET_WM_NAME when the window has a title there, else WM_NAME in whichever encoding it is set.
    QString readTitle(xcb_window_t window, bool& gone)
    {
        const Property name = readProperty(window, m_atoms.netWmName, kTitleLongs);
        gone = name.windowGone;
        if (gone)
            return {};
        if (name.type == m_atoms.utf8String && name.format == 8) {
            QString title = decodeTitle(name.bytes, TitleEncoding::Utf8);
            if (!title.isEmpty())
                return title;
        }
        const Property legacy = readProperty(window, XCB_ATOM_WM_NAME, kTitleLongs);
        gone = legacy.windowGone;
        if (legacy.format != 8)
            return {};
        if (legacy.type == XCB_ATOM_STRING)
            return decodeTitle(legacy.bytes, TitleEncoding::Latin1);
        if (legacy.type == m_atoms.utf8String)
            return decodeTitle(legacy.bytes, TitleEncoding::Utf8);
        if (legacy.type == m_atoms.compoundText)
            return decodeTitle(legacy.bytes, TitleEncoding::CompoundText);
        return {};
    }

    // A window manager counts when its check window names itself, as the convention asks, and it
    // keeps the stacking list.
    void ensureBackend()
    {
        if (m_backendKnown)
            return;
        const xcb_window_t check = readProperty(m_root, m_atoms.supportingWmCheck, 1).window();
        bool ewmh = check != XCB_NONE && readProperty(check, m_atoms.supportingWmCheck, 1).window() == check;
        if (ewmh) {
            const auto supported = readProperty(m_root, m_atoms.supported, kListLongs).windows();
            ewmh =
                std::find(supported.begin(), supported.end(), m_atoms.clientListStacking) != supported.end();
        }
        if (m_cached) {
            // The whole picture changes with the window manager: start again from nothing.
            m_titles.clear();
            m_watched.clear();
            const std::uint32_t rootMask = ewmh ? kRootEwmhMask : kRootPlainMask;
            xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &rootMask);
            if (check != XCB_NONE) {
                const std::uint32_t checkMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                xcb_change_window_attributes(m_connection, check, XCB_CW_EVENT_MASK, &checkMask);
            }
            xcb_flush(m_connection);
        }
        m_ewmh = ewmh;
        m_wmCheck = ewmh ? check : XCB_NONE;
        m_backendKnown = true;
        m_stackKnown = false;
        m_foregroundKnown = false;
    }

    void ensureStack()
    {
        if (m_stackKnown)
            return;
        m_gone.clear(); // the list read now no longer holds them
        m_ended.clear();
        std::vector<xcb_window_t> bottomUp =
            m_ewmh ? readProperty(m_root, m_atoms.clientListStacking, kListLongs).windows()
                   : readRootChildren();
        m_stack.assign(bottomUp.rbegin(), bottomUp.rend());
        reindex();
        if (!m_ewmh) {
            // A window that took the focus before it was watched sent us nothing.
            for (const xcb_window_t window : m_stack)
                watch(window);
            xcb_flush(m_connection);
            m_foregroundKnown = false;
        }
        m_stackKnown = m_cached;
    }

    std::vector<xcb_window_t> readRootChildren()
    {
        XReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
        ++m_roundTrips;
        if (!tree)
            return {};
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        return {children, children + xcb_query_tree_children_length(tree.get())};
    }

    xcb_window_t readActiveWindow() { return readProperty(m_root, m_atoms.activeWindow, 1).window(); }

    // The desktop's own window (icons on the background) is active when the user clicked the
    // background on some desktops; it lies at the bottom of the stack.
    bool isDesktopWindow(xcb_window_t window)
    {
        if (window == XCB_NONE)
            return false;
        const auto types = readProperty(window, m_atoms.windowType, 32).windows();
        return std::find(types.begin(), types.end(), m_atoms.windowTypeDesktop) != types.end();
    }

    // The top-level window holding the input focus, or none when the focus is nowhere in particular.
    xcb_window_t readFocusedTopLevel()
    {
        XReply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        ++m_roundTrips;
        if (!focus)
            return XCB_NONE;
        xcb_window_t window = focus->focus;
        while (window != XCB_NONE && window != XCB_INPUT_FOCUS_POINTER_ROOT && window != m_root) {
            if (m_position.contains(window))
                return window;
            XReply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
            ++m_roundTrips;
            if (!tree || tree->parent == m_root)
                return tree ? window : XCB_NONE;
            window = tree->parent;
        }
        return XCB_NONE;
    }

    void watch(xcb_window_t window)
    {
        if (!m_cached || !m_watched.insert(window).second)
            return;
        const std::uint32_t mask = m_ewmh ? kWindowEwmhMask : kWindowPlainMask;
        xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
    }

    void reindex()
    {
        m_position.clear();
        for (std::size_t i = 0; i < m_stack.size(); ++i)
            m_position.emplace(m_stack[i], i);
    }

    // A window found gone while the picture stands: it reads as having no title and nothing below
    // it until the events of its end are taken in.
    void markGone(xcb_window_t window)
    {
        ++m_version;
        m_gone.insert(window);
        m_titles.erase(window);
        m_watched.erase(window);
    }

    // The window no longer exists: it has no title and nothing below it.
    void forget(xcb_window_t window)
    {
        ++m_version;
        m_gone.erase(window);
        m_titles.erase(window);
        m_watched.erase(window);
        if (m_position.contains(window)) {
            std::erase(m_stack, window);
            reindex();
            m_ended.insert(window);
        }
    }

    // A window was made under an id that may have named a window before: nothing known of that
    // one holds for it. A window manager that kept listing the old id lists the new window, in a
    // list that need not change, so the list is read again.
    void arrived(xcb_window_t window)
    {
        const bool known = m_gone.erase(window) + m_titles.erase(window) + m_watched.erase(window) +
                               m_ended.erase(window) + m_position.contains(window) >
                           0;
        if (known)
            stackChanged();
    }

    void stackChanged()
    {
        ++m_version;
        m_stackKnown = false;
    }

    // Without a window manager the root's children and the input focus are the picture: every
    // change of them counts. A window manager's lists tell of theirs by themselves.
    void changedUnlessManaged(bool& known)
    {
        if (m_ewmh)
            return;
        ++m_version;
        known = false;
    }

    void takeInEvents()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            handle(event);
            std::free(event);
        }
    }

    void forgetEverything()
    {
        m_gone.clear();
        m_titles.clear();
        m_stackKnown = false;
        m_foregroundKnown = false;
    }

    void handle(const xcb_generic_event_t* event)
    {
        switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY:
            propertyChanged(*reinterpret_cast<const xcb_property_notify_event_t*>(event));
            break;
        case XCB_DESTROY_NOTIFY: {
            const auto& destroyed = *reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            forget(destroyed.window);
            if (destroyed.window == m_wmCheck)
                m_backendKnown = false;
            changedUnlessManaged(m_stackKnown);
            break;
        }
        case XCB_CREATE_NOTIFY: {
            const auto& created = *reinterpret_cast<const xcb_create_notify_event_t*>(event);
            if (created.parent == m_root)
                arrived(created.window);
            changedUnlessManaged(m_stackKnown);
            break;
        }
        case XCB_REPARENT_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
            changedUnlessManaged(m_stackKnown);
            break;
        case XCB_FOCUS_IN:
        case XCB_FOCUS_OUT:
            changedUnlessManaged(m_foregroundKnown);
            break;
        default:
            // Errors of requests nobody waits for (a window that went before it could be watched)
            // and every other event carry nothing for us.
            break;
        }
    }

    void propertyChanged(const xcb_property_notify_event_t& changed)
    {
        if (changed.window != m_root) {
            if (changed.atom == m_atoms.netWmName || changed.atom == XCB_ATOM_WM_NAME) {
                ++m_version;
                m_titles.erase(changed.window);
            }
            return;
        }
        if (changed.atom == m_atoms.clientListStacking) {
            stackChanged();
        } else if (changed.atom == m_atoms.activeWindow) {
            ++m_version;
            m_foregroundKnown = false;
        } else if (changed.atom == m_atoms.supportingWmCheck || changed.atom == m_atoms.supported) {
            ++m_version;
            m_backendKnown = false;
        }
    }

    const bool m_cached;
    int m_screen = 0;
    xcb_connection_t* m_connection;
    xcb_window_t m_root = XCB_NONE;
    Atoms m_atoms;
    std::uint64_t m_roundTrips = 0;
    std::uint64_t m_version = 0;

    bool m_backendKnown = false;
    bool m_ewmh = false;
    xcb_window_t m_wmCheck = XCB_NONE;

    bool m_stackKnown = false;
    std::vector<xcb_window_t> m_stack; // top to bottom
    std::unordered_map<xcb_window_t, std::size_t> m_position;

    bool m_foregroundKnown = false;
    xcb_window_t m_foreground = XCB_NONE;

    std::unordered_map<xcb_window_t, CachedTitle> m_titles;
    std::unordered_set<xcb_window_t> m_watched;
    std::unordered_set<xcb_window_t> m_gone;
    // Destroyed while the window manager's list, unchanged since, still held them.
    std::unordered_set<xcb_window_t> m_ended;

    bool m_pictureTaken = false;
    QMetaObject::Connection m_pictureEnd;
};

XcbWindowList::XcbWindowList(Mode mode) : m_mode(mode) {}

XcbWindowList::~XcbWindowList() = default;

XcbWindowList::Desktop& XcbWindowList::desktop()
{
    if (!m_desktop)
        m_desktop = std::make_unique<Desktop>(m_mode);
    return *m_desktop;
}

HWND XcbWindowList::GetForegroundWindow()
{
    Desktop& x = desktop();
    return x.ready() ? x.foreground() : 0;
}

HWND XcbWindowList::GetWindow(HWND hWnd, std::uint32_t uCmd)
{
    Desktop& x = desktop();
    if (uCmd != GW_HWNDNEXT || hWnd == 0 || !x.ready())
        return 0;
    return x.below(hWnd);
}

QString XcbWindowList::GetWindowTextA(HWND hWnd, int nMaxCount)
{
    Desktop& x = desktop();
    if (hWnd == 0 || nMaxCount <= 1 || !x.ready())
        return {};
    return x.title(hWnd, nMaxCount);
}

std::uint64_t XcbWindowList::roundTrips() const
{
    return m_desktop ? m_desktop->roundTrips() : 0;
}

std::optional<std::uint64_t> XcbWindowList::version()
{
    Desktop& x = desktop();
    return x.ready() ? x.version() : std::nullopt;
}

bool XcbWindowList::usesWindowManager() const
{
    return m_desktop && m_desktop->ewmh();
}

} // namespace tunalo
