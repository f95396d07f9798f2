#pragma once

#include "base/links.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tunalo::service::testkit {

// A folder under /tmp that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// build/bin/tunalo-service on a free loopback port with the given database (a SQLite file or a
// PostgreSQL address) and any further options, its stderr in a new log file, or with an empty log
// path in a pipe that the test reads (or leaves unread); killed when destroyed. descriptors, when
// not 0, is the most it may have open, soft and hard alike, as systemd's LimitNOFILE sets it.
class ServiceProcess {
public:
    ServiceProcess(const std::string& database, std::filesystem::path log,
                   const std::vector<std::string>& options = {}, unsigned descriptors = 0);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    // The reading end of the stderr pipe, or -1.
    int stderrPipe() const { return m_pipe; }
    // Sends a signal and waits for the process to end; returns its wait status.
    int stop(int signal);
    // Waits for the process to end by itself; its wait status, or -1 after `wait`.
    int waitForEnd(std::chrono::milliseconds wait);

private:
    pid_t m_pid = -1;
    int m_port = 0;
    int m_pipe = -1;
};

// Percent-encodes every byte outside the unreserved set, as the desktop program does.
using service::percentEncode;

// The whole of a file, such as a log written so far; empty when it cannot be read.
std::string fileText(const std::filesystem::path& path);

// The file once it holds `needle` (the service writes its log on a thread of its own, a moment
// after the answer), or as it stands after ten seconds.
std::string fileTextOnceItHas(const std::filesystem::path& path, std::string_view needle);

// The text between <title> and </title>, or "(no title)".
std::string titleOf(const std::string& html);

// The port in the service's "listening on http://127.0.0.1:PORT" line, or 0 before that line.
int listeningPort(std::string_view log);

// The id in a "Posted ID:n" title, or -1.
long long postedId(const std::string& title);

using Fields = std::vector<std::pair<std::string, std::string>>;

// One answer as a client sees it.
struct Answer {
    int status = 0;
    Fields headers;
    std::string body;
    // The first header of that name (letter case ignored), or "".
    std::string header(std::string_view name) const;
};
// Empty when there was no answer (no connection, a reset, a timeout).
using Result = std::optional<Answer>;

// An HTTP client that keeps its connection open between requests and the session cookie like a
// browser, and does not follow redirects.
class Visitor {
public:
    explicit Visitor(int port);
    ~Visitor();
    Visitor(Visitor&&) noexcept;
    Visitor& operator=(Visitor&&) noexcept;

    Result get(const std::string& target, const Fields& headers = {});
    Result post(const std::string& path, const Fields& form, const Fields& headers = {});
    Result send(std::string_view method, const std::string& target, const Fields& headers, std::string body);
    // GET and the page title, or "(request failed)".
    std::string title(const std::string& target);

    std::string& cookie() { return m_cookie; }

    // Creates the account and logs in with it (the service logs a new account in).
    bool signUp(const std::string& name, const std::string& password);
    bool logIn(const std::string& name, const std::string& password);
    // Chooses on the home page who sees the next songs: "public", "followers" or "nobody".
    bool chooseAudience(const std::string& word);
    // Posts a song the way the desktop program does; returns the page title.
    std::string postSong(const std::string& song, const std::string& deleteId = {});

private:
    struct Connection;
    void keepCookie(const Result& result);

    int m_port;
    std::unique_ptr<Connection> m_connection;
    std::string m_cookie;
};

// A plain TCP connection to the service for requests no HTTP client would send.
class RawConnection {
public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool send(std::string_view bytes);
    // Everything that arrives until the service closes the connection or `wait` passes.
    std::string receive(std::chrono::milliseconds wait) { return receiveUntil({}, wait); }
    // What arrives until it ends with `end` (when not empty), the connection closes or `wait` passes.
    std::string receiveUntil(std::string_view end, std::chrono::milliseconds wait);
    // True once the service has closed or reset the connection; waits at most `wait` for it.
    bool closedWithin(std::chrono::milliseconds wait);

private:
    int m_fd = -1;
};

// A log-in form post as a browser sends it, for a RawConnection; `headers` are further whole
// header lines ("Connection: close\r\n").
std::string rawLogIn(const std::string& name, const std::string& password, const std::string& headers = {});

// `count` connections, each with `request` sent whole on it.
std::vector<std::unique_ptr<RawConnection>> sendOnEach(int port, const std::string& request, int count);

} // namespace tunalo::service::testkit
