// Measures the built program the way a user meets it, on the current X display, each figure beside
// the floor measured in the same run:
//   tunalo-programbench startup [runs]           time from start to the main window shown, beside a
//                                                plain Qt window (tunalo-bench-plain), taken in turn
//   tunalo-programbench steady [seconds] [windows]
//                                                CPU use with publishing on and a player playing
//                                                among other windows, then memory of the process tree;
//                                                beside the CPU use of a plain Qt window with the
//                                                same 100 ms timer on the same desktop
//   tunalo-programbench latency [changes]        time from a title change to the post's arrival
//   tunalo-programbench bare                     memory of Qt WebEngine alone with the program's
//                                                settings and its two pages (tunalo-bench-bare)
//   tunalo-programbench weight [seconds] [changes]
//                                                memory of the process tree with the main window
//                                                shown, closed to the tray for seconds, and after
//                                                changes posts with it closed, each beside the bare
//                                                two pages and (closed) beside a plain Qt program in
//                                                the tray, of the same run; the title-to-post times
//                                                of those posts
// It serves the service's pages itself on loopback, so it measures the program and nothing else. The
// program's processes are its whole process tree, found afresh at every sample: a process that
// starts later (a browser engine started for a page) counts as much as one there from the start.
#include "serviceprotocol.h"
#include "support/standinservice.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using tunalo::test::StandInService;

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Ends the measurement; the program and the windows it made are cleaned up on the way out.
[[noreturn]] void fail(const std::string& why)
{
    throw std::runtime_error(why);
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processes of the tree below root (root included).
std::vector<pid_t> processTree(pid_t root)
{
    std::vector<std::pair<pid_t, pid_t>> parents;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state;
        pid_t parent;
        rest >> state >> parent;
        parents.emplace_back(std::stoi(name), parent);
    }
    std::vector<pid_t> tree{root};
    for (std::size_t i = 0; i < tree.size(); ++i)
        for (const auto& [pid, parent] : parents)
            if (parent == tree[i])
                tree.push_back(pid);
    return tree;
}

// The X display: windows with titles, and the window manager's list of managed windows.
class Display {
public:
    Display() : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            fail("no X display");
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_utf8 = atom("UTF8_STRING");
        m_netWmName = atom("_NET_WM_NAME");
        m_clientList = atom("_NET_CLIENT_LIST");
        m_netWmPid = atom("_NET_WM_PID");
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_connection, m_screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }
    ~Display() { xcb_disconnect(m_connection); }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    xcb_window_t createWindow(const std::string& title)
    {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_screen->root, 0, 0, 320, 60, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, 0, nullptr);
        setTitle(window, title);
        xcb_map_window(m_connection, window);
        xcb_flush(m_connection);
        return window;
    }

    void setTitle(xcb_window_t window, const std::string& title)
    {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, m_netWmName, m_utf8, 8,
                            static_cast<uint32_t>(title.size()), title.data());
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            static_cast<uint32_t>(title.size()), title.data());
        xcb_flush(m_connection);
    }

    // Waits for a managed window titled exactly title of process pid or a process below it (a
    // program may show its window from a process of its own); its handle, or nothing by the deadline.
    std::optional<xcb_window_t> waitForWindow(const std::string& title, pid_t pid, Clock::time_point deadline)
    {
        for (;;) {
            if (const auto window = findWindow(title, pid))
                return window;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms)
                return std::nullopt;
            // Asking for the windows may have read the news already: it waits in xcb's queue, not
            // on the socket, and a poll for it would sleep until the deadline.
            bool news = false;
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                std::free(event);
                news = true;
            }
            if (news)
                continue;
            pollfd descriptor{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            poll(&descriptor, 1, static_cast<int>(left.count()));
        }
    }

    // Asks window to close, as its title bar's close button does.
    void close(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(m_connection);
    }

    // How many windows the window manager lists.
    int managedWindows()
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, m_screen->root, m_clientList, XCB_ATOM_WINDOW, 0, 65536),
            nullptr);
        const int count = reply ? xcb_get_property_value_length(reply) / 4 : 0;
        std::free(reply);
        return count;
    }

private:
    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return result;
    }

    std::string title(xcb_window_t window)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_netWmName, m_utf8, 0, 256), nullptr);
        std::string text;
        if (reply)
            text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                        static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
        return text;
    }

    pid_t processOf(xcb_window_t window)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_netWmPid, XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        pid_t pid = 0;
        if (reply && xcb_get_property_value_length(reply) == 4)
            pid = static_cast<pid_t>(*static_cast<const uint32_t*>(xcb_get_property_value(reply)));
        std::free(reply);
        return pid;
    }

    // A window of a program that was just ended may stay listed a moment longer, so the process counts.
    std::optional<xcb_window_t> findWindow(const std::string& wanted, pid_t pid)
    {
        const std::vector<pid_t> tree = processTree(pid);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, m_screen->root, m_clientList, XCB_ATOM_WINDOW, 0, 4096),
            nullptr);
        std::optional<xcb_window_t> found;
        if (reply) {
            const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / 4;
            for (int i = 0; i < count && !found; ++i)
                if (title(windows[i]) == wanted &&
                    std::find(tree.begin(), tree.end(), processOf(windows[i])) != tree.end())
                    found = windows[i];
        }
        std::free(reply);
        return found;
    }

    xcb_connection_t* m_connection;
    xcb_screen_t* m_screen;
    xcb_atom_t m_utf8, m_netWmName, m_clientList, m_netWmPid;
};

const std::string kHomePath(tunalo::protocol::kHomePath);
const std::string kPostPath(tunalo::protocol::kPostPath);

// The service's pages as the program reads them: logged in, and a post id for every post.
void answerLoggedIn(StandInService& service)
{
    namespace protocol = tunalo::protocol;
    using Kind = StandInService::Answer::Kind;
    service.answer(std::string(protocol::kRootPath), {Kind::Page, "Tunalo"});
    service.answer(kHomePath, {Kind::Page, std::string(protocol::kLoggedInTitle)});
    service.answer(kPostPath, {Kind::Page, std::string(protocol::kPostedTitlePrefix) + "{n}"});
}

// The program (or another program of the build) in a process group of its own, with a fresh home
// so every run is a first start.
class Program {
public:
    explicit Program(const std::string& service, const std::string& executable = "tunalo",
                     const char* argument = nullptr)
    {
        char folder[] = "/tmp/tunalo-bench.XXXXXX";
        if (!mkdtemp(folder))
            fail("no temporary folder");
        m_home = folder;
        for (const char* sub : {"config", "data", "runtime", "cache"})
            std::filesystem::create_directories(m_home + "/" + sub);
        std::filesystem::permissions(m_home + "/runtime", std::filesystem::perms::owner_all);
        m_started = Clock::now();
        m_pid = fork();
        if (m_pid == 0) {
            setpgid(0, 0);
            setenv("TUNALO_SERVICE_URL", service.c_str(), 1);
            setenv("XDG_CONFIG_HOME", (m_home + "/config").c_str(), 1);
            setenv("XDG_DATA_HOME", (m_home + "/data").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", (m_home + "/runtime").c_str(), 1);
            setenv("XDG_CACHE_HOME", (m_home + "/cache").c_str(), 1);
            const std::string program = binDir() + "/" + executable;
            execl(program.c_str(), program.c_str(), argument, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program()
    {
        kill(-m_pid, SIGTERM);
        const auto deadline = Clock::now() + 5s;
        while (waitpid(m_pid, nullptr, WNOHANG) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        kill(-m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        std::filesystem::remove_all(m_home);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return m_pid; }
    Clock::time_point started() const { return m_started; }

    static std::string binDir()
    {
        return std::filesystem::canonical("/proc/self/exe").parent_path().string();
    }

private:
    std::string m_home;
    pid_t m_pid = 0;
    Clock::time_point m_started;
};

// The program's main window, or the plain Qt program's window.
const std::string kMainWindowTitle = "TUNALO";
const std::string kPlainWindowTitle = "PLAIN";
const std::string kPlain = "tunalo-bench-plain";

xcb_window_t waitForMainWindow(Display& display, const Program& program,
                               const std::string& title = kMainWindowTitle)
{
    const auto window = display.waitForWindow(title, program.pid(), program.started() + 30s);
    if (!window)
        fail("the window " + title + " did not appear within 30 s");
    return *window;
}

// Waits until the home page has told the log-in state, then presses "start publishing".
void startPublishing(Display& display, StandInService& service, const Program& program)
{
    const xcb_window_t window = waitForMainWindow(display, program);
    const auto deadline = Clock::now() + 30s;
    while (service.requests(kHomePath).empty() && Clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1500ms); // the page's title reaches the program on its next poll
    const std::string click = "xdotool mousemove --window " + std::to_string(window) + " 80 88 click 1";
    if (std::system(click.c_str()) != 0)
        fail("xdotool could not press the publish button");
}

std::string songTitle(int number)
{
    return "Bench Artist " + std::to_string(number) + " - Song " + std::to_string(number) + " - MediaMonkey";
}

struct Spread {
    double median, p95, min, max;
};

Spread spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const std::size_t p95 = std::max<std::size_t>(1, (n * 95 + 99) / 100) - 1;
    return {values[n / 2], values[p95], values.front(), values.back()};
}

// Time from the start of executable to its window listed by the window manager.
double startToWindow(Display& display, const StandInService& service, const std::string& executable,
                     const std::string& title)
{
    Program program(service.base(), executable);
    waitForMainWindow(display, program, title);
    return millisecondsSince(program.started());
}

int startup(int runs)
{
    Display display;
    StandInService service;
    answerLoggedIn(service);
    std::vector<double> times, plain;
    for (int run = 0; run < runs; ++run) {
        times.push_back(startToWindow(display, service, "tunalo", kMainWindowTitle));
        plain.push_back(startToWindow(display, service, kPlain, kPlainWindowTitle));
        std::printf("run %d: %.0f ms, plain Qt window %.0f ms\n", run + 1, times.back(), plain.back());
    }
    const Spread s = spread(times);
    const Spread p = spread(plain);
    std::printf(
        "start to main window shown over %d runs: median %.0f ms, min %.0f ms, max %.0f ms; a plain Qt "
        "window: median %.0f ms, min %.0f ms, max %.0f ms; %.2fx the plain window's (asked: at most "
        "1.5x)\n",
        runs, s.median, s.min, s.max, p.median, p.min, p.max, s.median / p.median);
    return 0;
}

struct Memory {
    long rss = 0;       // resident, shared pages counted in full
    long pss = 0;       // proportional: shared pages divided among the processes that map them
    long anonymous = 0; // not backed by a file (heap, stacks, the engine's own maps): unlike pss and the
                        // private share of a library, other programs on the machine do not move it
};

// Memory of one process in kB.
Memory memoryKb(pid_t pid)
{
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    Memory memory;
    for (std::string line; std::getline(rollup, line);) {
        std::istringstream fields(line);
        std::string key;
        long value = 0;
        fields >> key >> value;
        if (key == "Rss:")
            memory.rss = value;
        if (key == "Pss:")
            memory.pss = value;
        if (key == "Anonymous:")
            memory.anonymous = value;
    }
    return memory;
}

struct TreeMemory {
    Memory total;
    std::size_t processes = 0;
};

TreeMemory treeMemoryKb(pid_t root)
{
    TreeMemory tree;
    const std::vector<pid_t> pids = processTree(root);
    for (pid_t pid : pids) {
        const Memory one = memoryKb(pid);
        tree.total.rss += one.rss;
        tree.total.pss += one.pss;
        tree.total.anonymous += one.anonymous;
    }
    tree.processes = pids.size();
    return tree;
}

// Prints the memory of the process at root and of its tree; returns the tree's.
TreeMemory printMemory(const char* what, pid_t root)
{
    const TreeMemory tree = treeMemoryKb(root);
    const Memory& total = tree.total;
    const Memory own = memoryKb(root);
    std::printf(
        "memory: %s %ld MB resident (%ld MB proportional, %ld MB anonymous); whole tree of %zu processes "
        "%ld MB resident, %ld MB proportional, %ld MB anonymous\n",
        what, own.rss / 1024, own.pss / 1024, own.anonymous / 1024, tree.processes, total.rss / 1024,
        total.pss / 1024, total.anonymous / 1024);
    return tree;
}

// How long each thread of process pid has run, in nanoseconds, by thread id. The scheduler counts to
// the nanosecond where the clock ticks of /proc/PID/stat count in hundredths of a second, too coarse
// for a program that runs a millisecond a second.
std::vector<std::pair<pid_t, long long>> threadRunTimes(pid_t pid)
{
    std::vector<std::pair<pid_t, long long>> times;
    std::error_code gone;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", gone)) {
        std::ifstream schedstat(entry.path() / "schedstat");
        long long ran = 0;
        if (schedstat >> ran)
            times.emplace_back(std::stoi(entry.path().filename()), ran);
    }
    return times;
}

// CPU use of a process tree over a stretch of time, as shares of one core. The tree and its threads
// are found afresh at every sample, so a process or thread that starts in between counts from its
// start, and one that ends counts up to the sample before its end.
struct CpuUse {
    double root = 0; // the process at the root
    double tree = 0; // the root and every process below it
    std::size_t processes = 0;
};

CpuUse measureCpu(pid_t root, int seconds)
{
    struct Ran {
        pid_t process;
        long long first, last; // nanoseconds
    };
    std::map<pid_t, Ran> threads;
    std::vector<pid_t> processes;
    bool first = true;
    const auto sample = [&] {
        for (pid_t pid : processTree(root)) {
            if (std::find(processes.begin(), processes.end(), pid) == processes.end())
                processes.push_back(pid);
            for (const auto& [thread, ran] : threadRunTimes(pid)) {
                // A thread first seen after the start of the stretch began within it.
                const auto [at, added] = threads.try_emplace(thread, Ran{pid, first ? ran : 0, ran});
                if (!added)
                    at->second.last = std::max(at->second.last, ran);
            }
        }
        first = false;
    };
    sample();
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::min<Clock::duration>(250ms, end - Clock::now()));
        sample();
    }
    const double elapsedNs = millisecondsSince(start) * 1e6;
    CpuUse use;
    for (const auto& [thread, ran] : threads) {
        const double share = 100.0 * static_cast<double>(ran.last - ran.first) / elapsedNs;
        use.tree += share;
        if (ran.process == root)
            use.root += share;
    }
    use.processes = processes.size();
    return use;
}

int steady(int seconds, int others)
{
    Display display;
    StandInService service;
    answerLoggedIn(service);
    std::vector<xcb_window_t> windows;
    for (int i = 0; i < others; ++i)
        windows.push_back(display.createWindow("Other window " + std::to_string(i)));
    const xcb_window_t player = display.createWindow(songTitle(0));
    // The window manager takes a while to take in many windows; the desktop is quiet after that.
    const auto managed = Clock::now() + 120s;
    while (display.managedWindows() < others + 1 && Clock::now() < managed)
        std::this_thread::sleep_for(100ms);
    Program program(service.base());
    startPublishing(display, service, program);
    if (!service.waitForSong(kPostPath, "Bench Artist 0", 10s))
        fail("publishing did not start: no post arrived");
    display.setTitle(player, songTitle(1));
    if (!service.waitForSong(kPostPath, "Bench Artist 1", 10s))
        fail("a new song was not posted");
    std::this_thread::sleep_for(5s); // balloons and page loads settle

    const CpuUse use = measureCpu(program.pid(), seconds);
    std::printf("CPU over %d s, publishing on, player playing, %d other windows: program %.2f%% of one core, "
                "its tree of %zu processes %.2f%%\n",
                seconds, others, use.root, use.processes, use.tree);
    printMemory("program", program.pid());

    // The floor on the same desktop: a plain Qt window with the same 100 ms timer.
    Program plain(service.base(), kPlain);
    waitForMainWindow(display, plain, kPlainWindowTitle);
    std::this_thread::sleep_for(5s);
    const CpuUse floor = measureCpu(plain.pid(), seconds);
    std::printf(
        "CPU over %d s of a plain Qt window with a 100 ms timer on the same desktop: %.2f%% of one core; "
        "the program's tree %.2fx that (asked: at most 2.5x)\n",
        seconds, floor.tree, use.tree / floor.tree);
    return 0;
}

// The floor: Qt WebEngine alone with the program's settings and its two pages loaded.
TreeMemory bareFloor()
{
    StandInService service;
    answerLoggedIn(service);
    Program program(service.base(), "tunalo-bench-bare");
    if (!service.waitForSong(kPostPath, "Bare Artist", 30s))
        fail("the bare browsers did not load the post page");
    std::this_thread::sleep_for(5s); // page loads settle, as in steady
    return printMemory("bare browsers", program.pid());
}

int bare()
{
    bareFloor();
    return 0;
}

// Changes the player's title to the songs first to last, each a quarter second after the one
// before was posted; the time from each change to its post's arrival.
std::vector<double> postChanges(Display& display, StandInService& service, xcb_window_t player, int first, int last)
{
    std::vector<double> times;
    for (int change = first; change <= last; ++change) {
        std::this_thread::sleep_for(250ms);
        const auto changed = Clock::now();
        display.setTitle(player, songTitle(change));
        const auto post = service.waitForSong(kPostPath, "Bench Artist " + std::to_string(change) + " ", 5s);
        if (!post)
            fail("change " + std::to_string(change) + " was not posted within 5 s");
        times.push_back(std::chrono::duration<double, std::milli>(post->arrived - changed).count());
    }
    return times;
}

void printLatency(const char* how, const std::vector<double>& times)
{
    const Spread s = spread(times);
    std::printf("title change to post arrival%s over %zu changes: median %.1f ms, 95th percentile %.1f ms, "
                "min %.1f ms, max %.1f ms\n",
                how, times.size(), s.median, s.p95, s.min, s.max);
}

// The program publishing the songs of a player window to the stand-in service, its first song posted.
struct Publishing {
    Publishing()
    {
        answerLoggedIn(service);
        player = display.createWindow(songTitle(0));
        program = std::make_unique<Program>(service.base());
        startPublishing(display, service, *program);
        if (!service.waitForSong(kPostPath, "Bench Artist 0", 10s))
            fail("publishing did not start: no post arrived");
    }

    Display display;
    StandInService service;
    xcb_window_t player = 0;
    std::unique_ptr<Program> program; // ends first
};

int latency(int changes)
{
    Publishing run;
    printLatency("", postChanges(run.display, run.service, run.player, 1, changes));
    return 0;
}

// The weight of the program while it waits in the tray, beside the bare two pages of the same run.
// The proportional share moves with whatever else on the machine maps the same libraries, so the
// floor is taken before and after and the figures are set beside their mean; the anonymous memory,
// which other programs do not move, is set beside the floor's as well.
int weight(int seconds, int changes)
{
    const TreeMemory first = bareFloor();
    TreeMemory plainTray;
    {
        StandInService service;
        Program plain(service.base(), kPlain, "--tray");
        std::this_thread::sleep_for(5s); // its icon is docked
        plainTray = printMemory("plain Qt program in the tray", plain.pid());
    }
    std::vector<std::pair<std::string, TreeMemory>> trees;
    {
        Publishing run;
        const pid_t pid = run.program->pid();
        std::this_thread::sleep_for(5s); // page loads settle, as in steady
        trees.emplace_back("window shown", treeMemoryKb(pid));

        run.display.close(waitForMainWindow(run.display, *run.program));
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        trees.emplace_back("window hidden " + std::to_string(seconds) + " s", treeMemoryKb(pid));

        const std::vector<double> times = postChanges(run.display, run.service, run.player, 1, changes);
        // Right after the posts the engine still lives out its grace; after it, the program is alone.
        std::this_thread::sleep_for(5s);
        trees.emplace_back("window hidden, 5 s after " + std::to_string(changes) + " posts", treeMemoryKb(pid));
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        trees.emplace_back("window hidden, " + std::to_string(seconds + 5) + " s after " + std::to_string(changes) +
                               " posts",
                           treeMemoryKb(pid));
        std::printf("weight: %zu post requests for %d songs\n", run.service.requests(kPostPath).size(),
                    changes + 1);
        printLatency(" with the window hidden", times);
        std::printf(
            "weight: title change to post with the window hidden: median %.0f ms (asked: at most 1.5 s)\n",
            spread(times).median);
    }
    const TreeMemory last = bareFloor();
    const double floorPss = static_cast<double>(first.total.pss + last.total.pss) / 2.0;
    const double floorAnonymous = static_cast<double>(first.total.anonymous + last.total.anonymous) / 2.0;
    std::printf("weight: the bare two pages: %.0f MB proportional (%ld and %ld MB), %.0f MB anonymous\n",
                floorPss / 1024, first.total.pss / 1024, last.total.pss / 1024, floorAnonymous / 1024);
    for (const auto& [what, tree] : trees)
        std::printf("weight: %s: %ld MB proportional over %zu processes, %.3f of the bare two pages; %ld MB "
                    "anonymous, %.2f of theirs\n",
                    what.c_str(), tree.total.pss / 1024, tree.processes,
                    static_cast<double>(tree.total.pss) / floorPss, tree.total.anonymous / 1024,
                    static_cast<double>(tree.total.anonymous) / floorAnonymous);
    // In the tray the floor is a Qt program without the browser engine.
    for (std::size_t i = 1; i < trees.size(); ++i)
        std::printf("weight: %s: %ld MB proportional, a plain Qt program in the tray %ld MB, %.2fx that "
                    "(asked: at most 30 MB)\n",
                    trees[i].first.c_str(), trees[i].second.total.pss / 1024, plainTray.total.pss / 1024,
                    static_cast<double>(trees[i].second.total.pss) /
                        static_cast<double>(plainTray.total.pss));
    return 0;
}

int argument(int argc, char* argv[], int index, int fallback)
{
    return argc > index ? std::atoi(argv[index]) : fallback;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string what = argc > 1 ? argv[1] : "";
    try {
        if (what == "startup")
            return startup(argument(argc, argv, 2, 10));
        if (what == "steady")
            return steady(argument(argc, argv, 2, 60), argument(argc, argv, 3, 200));
        if (what == "latency")
            return latency(argument(argc, argv, 2, 100));
        if (what == "bare")
            return bare();
        if (what == "weight")
            return weight(argument(argc, argv, 2, 60), argument(argc, argv, 3, 100));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "programbench: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr,
                 "usage: %s startup [runs] | steady [seconds] [windows] | latency [changes] | bare | weight [seconds] "
                 "[changes]\n",
                 argv[0]);
    return 2;
}
