#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tunalo::test {

// The service's pages on a loopback port, from plain sockets so that an answer can go wrong the
// ways a network does: late, never, reset, cut off, or with an error status. Answers are chosen per
// path by the test; every request is recorded.
class StandInService {
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
    };
    struct Request {
        std::string target; // as the request line has it
        std::string path;
        std::string song;   // the query value s, decoded
        std::string postId; // d
        std::string cookie;
    };

    StandInService();
    ~StandInService();
    StandInService(const StandInService&) = delete;
    StandInService& operator=(const StandInService&) = delete;

    int port() const { return m_port; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    // What path answers from now on.
    void answer(const std::string& path, Answer answer);
    // Down: connections to the port are refused. Up: it listens on the same port again.
    void goDown();
    void comeUp();

    std::vector<Request> requests(const std::string& path);
    // The songs posted so far, in the order their requests came.
    std::vector<std::string> songs(const std::string& postPath);

    static std::string page(const std::string& title);

private:
    void listen();
    void acceptLoop();
    void serve(int connection);
    void reply(int connection, const Answer& answer);
    bool waitClosing(int milliseconds);

    int m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_closing = false;
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::condition_variable m_closed;
    std::map<std::string, Answer> m_answers;
    std::vector<Request> m_requests;
    std::vector<std::thread> m_connections;
};

// An HTTP proxy on a loopback port that sends every request it is given on to one service,
// whatever host the request names, and records the request lines.
class StandInProxy {
public:
    explicit StandInProxy(int servicePort);
    ~StandInProxy();
    StandInProxy(const StandInProxy&) = delete;
    StandInProxy& operator=(const StandInProxy&) = delete;

    std::string address() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::vector<std::string> requestLines();

private:
    void acceptLoop();
    void forward(int client);

    int m_servicePort;
    int m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_closing = false;
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::thread> m_connections;
};

} // namespace tunalo::test
