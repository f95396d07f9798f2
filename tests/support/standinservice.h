#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tunalo::test {

// A server on a loopback port that serves each connection on a thread of its own. It can go down
// (connections are refused) and come up again on the same port.
class LoopbackServer {
public:
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return m_port; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    void goDown();
    void comeUp();

protected:
    LoopbackServer();
    virtual ~LoopbackServer();
    // Starts taking connections: the last step of a server's constructor.
    void open();
    // Ends the connections' threads: the first step of a server's destructor.
    void shut();
    // Serves one connection; it is closed afterwards.
    virtual void serve(int connection) = 0;
    // Waits milliseconds; true when the server closes meanwhile.
    bool waitClosing(int milliseconds);

    std::atomic<bool> m_closing = false;
    std::mutex m_mutex;

private:
    void listen();
    void acceptLoop();

    int m_port = 0;
    int m_listener = -1;
    std::condition_variable m_closed;
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;
};

// The service's pages from plain sockets, so that an answer can go wrong the ways a network does:
// late, never, reset, cut off, or with an error status. Answers are chosen per path by the test;
// every request is recorded. Each connection carries one request.
class StandInService : public LoopbackServer {
public:
    struct Answer {
        enum class Kind {
            Page,      // a page titled title with status, after delayMs; "{n}" in the title becomes
                       // the number of requests for the path so far
            Reset,     // the connection is reset once the request has come
            CutOff,    // the page is announced whole but the connection closes in the middle of its title
            SlowTitle, // the page comes up to the middle of its title, the rest delayMs later
            Hang,      // no answer until the service closes
        };
        Answer(Kind kind = Kind::Page, std::string title = {}, int status = 200, int delayMs = 0)
            : kind(kind), title(std::move(title)), status(status), delayMs(delayMs)
        {
        }
        Kind kind;
        std::string title;
        int status;
        int delayMs;
        std::string body;      // for a Page: this body in place of a page titled title
        std::string setCookie; // the value of a Set-Cookie header
    };
    struct Request {
        std::string target; // as the request line has it
        std::string path;
        std::string song;   // the query value s, decoded
        std::string postId; // d
        std::string cookie;
        std::chrono::steady_clock::time_point arrived; // when its head had come in
    };

    StandInService();
    ~StandInService() override;

    // What path answers from now on.
    void answer(const std::string& path, Answer answer);
    std::vector<Request> requests(const std::string& path);
    // The songs posted so far, in the order their requests came.
    std::vector<std::string> songs(const std::string& postPath);
    // The first request for path whose song contains fragment, waiting up to timeout for it.
    std::optional<Request> waitForSong(const std::string& path, const std::string& fragment,
                                       std::chrono::milliseconds timeout);

    static std::string page(const std::string& title);

private:
    void serve(int connection) override;
    void reply(int connection, const Answer& answer);

    std::map<std::string, Answer> m_answers;
    std::vector<Request> m_requests;
    std::condition_variable m_requestCame;
};

// Sends every request it is given on to one service on loopback, whatever host the request
// names: as an HTTP proxy, or as a front that the program takes for the service. It records the
// request lines and can hold back requests for one path a while.
class StandInProxy : public LoopbackServer {
public:
    explicit StandInProxy(int servicePort);
    ~StandInProxy() override;

    std::vector<std::string> requestLines();
    // Requests whose line names path go on only delayMs after they came.
    void delay(const std::string& path, int delayMs);

private:
    void serve(int client) override;

    int m_servicePort;
    std::vector<std::string> m_lines;
    std::string m_delayedPath;
    int m_delayMs = 0;
};

} // namespace tunalo::test
