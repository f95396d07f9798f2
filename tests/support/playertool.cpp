// A stand-in for a media player: an X window whose title the tests set and change.
//
//   tunalo-playertool [--title TEXT] [--windows N]
//
// Opens one window with the title (and N further windows titled "Window 1" ... when asked),
// waits until the window manager lists them, and prints "window <id>" with the first window's
// id in decimal. Then it reads one command a line from stdin and answers each with "ok" once the
// X server has carried it out ("error <why>" when it cannot):
//
//   title TEXT     sets the title (_NET_WM_NAME and WM_NAME, UTF-8)
//   wmname TEXT    sets only WM_NAME, as Latin-1 STRING, and removes _NET_WM_NAME
//   rawtitle HEX   sets _NET_WM_NAME to the bytes given in hexadecimal (invalid UTF-8, NUL ...)
//   churn N        changes the title N times as fast as it can ("churn 1" ... "churn N")
//   raise | lower  moves the window to the top or the bottom of the stacking order
//   activate       makes it the window the user works with
//   above on|off   keeps it above the others, or no longer
//   minimize       iconifies it (it stays listed)
//   desktoptype    marks the window as the desktop's own (_NET_WM_WINDOW_TYPE_DESKTOP)
//   recreate N     destroys the window and opens a new one in its place, N times as fast as the
//                  server takes it, the n-th titled "Artist - Song n - Winamp"
//   quit           closes the window and ends (so does the end of stdin)
#include <QByteArray>
#include <QString>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <class T> using XReply = std::unique_ptr<T, FreeDeleter>;

class PlayerWindows {
public:
    PlayerWindows() : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    }
    ~PlayerWindows() { xcb_disconnect(m_connection); }
    PlayerWindows(const PlayerWindows&) = delete;
    PlayerWindows& operator=(const PlayerWindows&) = delete;

    bool connected() const { return m_screen != nullptr; }
    xcb_window_t main() const { return m_windows.front(); }

    xcb_window_t open(const QByteArray& title)
    {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_screen->root, 0, 0, 240, 80, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, 0, nullptr);
        const char windowClass[] = "tunalo-playertool\0Tunalo-playertool";
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                            8, sizeof windowClass, windowClass);
        m_windows.push_back(window);
        setTitle(window, title);
        xcb_map_window(m_connection, window);
        return window;
    }

    void setTitle(xcb_window_t window, const QByteArray& utf8)
    {
        setProperty(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), utf8);
        setProperty(window, XCB_ATOM_WM_NAME, atom("UTF8_STRING"), utf8);
    }
    void setLegacyTitle(const QByteArray& latin1)
    {
        xcb_delete_property(m_connection, main(), atom("_NET_WM_NAME"));
        setProperty(main(), XCB_ATOM_WM_NAME, XCB_ATOM_STRING, latin1);
    }
    void setRawTitle(const QByteArray& bytes)
    {
        setProperty(main(), atom("_NET_WM_NAME"), atom("UTF8_STRING"), bytes);
    }

    void restack(bool top)
    {
        const std::uint32_t mode = top ? XCB_STACK_MODE_ABOVE : XCB_STACK_MODE_BELOW;
        xcb_configure_window(m_connection, main(), XCB_CONFIG_WINDOW_STACK_MODE, &mode);
    }
    void activate()
    {
        if (windowManager()) // source 2: as a pager asks, which the window manager does not refuse
            sendToRoot(atom("_NET_ACTIVE_WINDOW"), {2, XCB_CURRENT_TIME, 0, 0, 0});
        else
            xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, main(), XCB_CURRENT_TIME);
    }
    void keepAbove(bool on)
    {
        sendToRoot(atom("_NET_WM_STATE"), {on ? 1u : 0u, atom("_NET_WM_STATE_ABOVE"), 0, 1, 0});
    }
    void minimize() { sendToRoot(atom("WM_CHANGE_STATE"), {3, 0, 0, 0, 0}); }
    void markAsDesktop()
    {
        const xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE_DESKTOP");
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, main(), atom("_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &type);
    }

    // A player that restarts, or makes a new window for every track.
    void recreate(int times)
    {
        for (int n = 1; n <= times; ++n) {
            xcb_destroy_window(m_connection, main());
            m_windows.erase(m_windows.begin());
            const xcb_window_t fresh = open("Artist - Song " + QByteArray::number(n) + " - Winamp");
            m_windows.pop_back();
            m_windows.insert(m_windows.begin(), fresh);
            sync();
        }
    }

    // Returns once the server has carried out every request sent so far.
    bool sync()
    {
        XReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        return reply != nullptr;
    }

    // Waits (two minutes at most: hundreds of windows take a while) until the window manager, if there is
    // one, lists every window.
    void waitUntilListed()
    {
        if (!windowManager())
            return;
        for (int tries = 0; tries < 12000; ++tries) {
            const std::vector<xcb_window_t> listed = stackingList();
            bool all = true;
            for (const xcb_window_t window : m_windows)
                all = all && std::find(listed.begin(), listed.end(), window) != listed.end();
            if (all)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    xcb_atom_t atom(const char* name)
    {
        XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            m_connection,
            xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : XCB_NONE;
    }

    void setProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, const QByteArray& bytes)
    {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                            static_cast<std::uint32_t>(bytes.size()), bytes.constData());
    }

    void sendToRoot(xcb_atom_t type, std::vector<std::uint32_t> data)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = main();
        message.type = type;
        for (std::size_t i = 0; i < data.size() && i < 5; ++i)
            message.data.data32[i] = data[i];
        xcb_send_event(m_connection, 0, m_screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
    }

    std::vector<xcb_window_t> rootWindows(const char* name)
    {
        XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, m_screen->root, atom(name), XCB_ATOM_WINDOW, 0, 1 << 16),
            nullptr));
        if (!reply || reply->format != 32)
            return {};
        const auto* values = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
        return {values, values + xcb_get_property_value_length(reply.get()) / 4};
    }
    // A window manager that was killed leaves its check property behind, naming a window gone.
    bool windowManager()
    {
        const std::vector<xcb_window_t> check = rootWindows("_NET_SUPPORTING_WM_CHECK");
        if (check.empty())
            return false;
        XReply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 0, check.front(),
                                                    atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1),
                                   nullptr));
        return reply && xcb_get_property_value_length(reply.get()) == 4 &&
               *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get())) == check.front();
    }
    std::vector<xcb_window_t> stackingList() { return rootWindows("_NET_CLIENT_LIST_STACKING"); }

    xcb_connection_t* m_connection;
    xcb_screen_t* m_screen = nullptr;
    std::vector<xcb_window_t> m_windows;
};

bool carryOut(PlayerWindows& windows, const std::string& command, const std::string& argument)
{
    const QByteArray text = QByteArray::fromStdString(argument);
    if (command == "title")
        windows.setTitle(windows.main(), text);
    else if (command == "wmname")
        windows.setLegacyTitle(QString::fromUtf8(text).toLatin1());
    else if (command == "rawtitle")
        windows.setRawTitle(QByteArray::fromHex(text));
    else if (command == "churn")
        for (int i = 1; i <= std::atoi(argument.c_str()); ++i)
            windows.setTitle(windows.main(), "churn " + QByteArray::number(i));
    else if (command == "raise" || command == "lower")
        windows.restack(command == "raise");
    else if (command == "activate")
        windows.activate();
    else if (command == "above")
        windows.keepAbove(argument == "on");
    else if (command == "minimize")
        windows.minimize();
    else if (command == "desktoptype")
        windows.markAsDesktop();
    else if (command == "recreate")
        windows.recreate(std::atoi(argument.c_str()));
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QByteArray title = "tunalo-playertool";
    int extra = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--title")
            title = argv[i + 1];
        else if (option == "--windows")
            extra = std::atoi(argv[i + 1]);
    }
    PlayerWindows windows;
    if (!windows.connected()) {
        std::fprintf(stderr, "tunalo-playertool: cannot reach an X display\n");
        return 2;
    }
    windows.open(title);
    for (int i = 1; i <= extra; ++i)
        windows.open("Window " + QByteArray::number(i));
    windows.sync();
    windows.waitUntilListed();
    std::printf("window %u\n", windows.main());
    std::fflush(stdout);

    std::string line;
    while (std::getline(std::cin, line)) {
        const std::size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (command == "quit")
            break;
        const bool known = carryOut(windows, command, argument);
        std::printf(known && windows.sync() ? "ok\n" : "error unknown command\n");
        std::fflush(stdout);
    }
    return 0;
}
