#include "guardedserver.h"

#include "requestlog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace tunalo::service {

namespace {

using Clock = std::chrono::steady_clock;

bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd entry{fd, events, 0};
    int rc = 0;
    do {
        rc = ::poll(&entry, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (entry.revents & (events | POLLHUP | POLLERR));
}

void addressOf(int fd, bool peer, std::string& ip, int& port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                        : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (rc != 0)
        return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
    }
    ip = text;
}

// The status a refused request gets: 431 over the byte budget, 408 past the deadline, else 0.
thread_local int t_refusal = 0;

// A socket stream that hands out at most a budget of bytes per request, each within a deadline.
class BoundedStream : public httplib::Stream {
public:
    BoundedStream(int fd, GuardedServer::Limits limits, std::chrono::milliseconds ioTimeout)
        : m_fd(fd), m_limits(limits), m_ioTimeout(ioTimeout)
    {
    }

    void startRequest()
    {
        m_left = m_limits.requestBytes;
        m_deadline = Clock::now() + m_limits.requestTime;
        m_answered = false;
        t_refusal = 0;
    }

    bool answered() const { return m_answered; }

    bool hasBufferedInput() const { return m_begin < m_end; }

    bool is_readable() const override { return hasBufferedInput() || waitFor(m_fd, POLLIN, timeLeftMs()); }
    bool is_writable() const override
    {
        return waitFor(m_fd, POLLOUT, static_cast<int>(m_ioTimeout.count()));
    }

    ssize_t read(char* ptr, size_t size) override
    {
        if (m_left == 0) {
            t_refusal = 431;
            return -1;
        }
        if (!hasBufferedInput() && !fill())
            return -1;
        const auto n = std::min({size, m_left, static_cast<size_t>(m_end - m_begin)});
        std::memcpy(ptr, m_buffer.data() + m_begin, n);
        m_begin += n;
        m_left -= n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        ssize_t n = 0;
        do {
            n = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        m_answered = m_answered || n > 0;
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        addressOf(m_fd, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        addressOf(m_fd, false, ip, port);
    }
    socket_t socket() const override { return m_fd; }

private:
    int timeLeftMs() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        return static_cast<int>(std::clamp(left, std::chrono::milliseconds(0), m_ioTimeout).count());
    }

    bool fill()
    {
        // Past the deadline even a client that keeps sending is cut off.
        if (Clock::now() >= m_deadline || !waitFor(m_fd, POLLIN, timeLeftMs())) {
            if (Clock::now() >= m_deadline)
                t_refusal = 408;
            return false;
        }
        ssize_t n = 0;
        do {
            n = ::recv(m_fd, m_buffer.data(), m_buffer.size(), 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        m_begin = 0;
        m_end = static_cast<size_t>(n);
        return true;
    }

    int m_fd;
    GuardedServer::Limits m_limits;
    std::chrono::milliseconds m_ioTimeout;
    std::array<char, 4096> m_buffer{};
    size_t m_begin = 0;
    size_t m_end = 0;
    size_t m_left = 0;
    Clock::time_point m_deadline{};
    bool m_answered = false;
};

// Reads and drops what the client still sends for a short while, so that it sees our answer
// instead of a reset caused by unread input.
void drainBeforeClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
    std::array<char, 4096> sink{};
    const auto until = Clock::now() + std::chrono::seconds(1);
    for (std::size_t total = 0; total < (1u << 20) && Clock::now() < until;) {
        if (!waitFor(fd, POLLIN, 100))
            break;
        const auto n = ::recv(fd, sink.data(), sink.size(), 0);
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
}

// When the request line itself is cut off, the library gives up without an answer; this is it.
void refuseUnanswered(BoundedStream& stream, int status)
{
    const std::string answer = "HTTP/1.1 " + std::to_string(status) +
                               (status == 408 ? " Request Timeout" : " Request Header Fields Too Large") +
                               "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    stream.write(answer.data(), answer.size());
    std::string ip;
    int port = 0;
    stream.get_remote_ip_and_port(ip, port);
    logRequest(ip, "-", "(unfinished request line)", status, 0);
}

} // namespace

GuardedServer::GuardedServer(Limits limits) : m_limits(limits) {}

int GuardedServer::bindTo(const std::string& host, int port)
{
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    // The library listens with a queue of 5: a few clients connecting at once overflow it and
    // wait a second for the SYN to be sent again. Linux lets listen() lengthen the queue.
    if (bound >= 0)
        ::listen(svr_sock_, SOMAXCONN);
    return bound;
}

int GuardedServer::currentRefusal()
{
    return t_refusal;
}

bool GuardedServer::process_and_close_socket(socket_t sock)
{
    const std::chrono::milliseconds ioTimeout(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000);
    BoundedStream stream(sock, m_limits, ioTimeout);
    bool ok = false;
    int refusal = 0;
    for (auto left = keep_alive_max_count_; left > 0; --left) {
        // Between requests wait for the next one in short steps, so a stopping server is not held up.
        bool ready = stream.hasBufferedInput();
        for (auto waited = std::chrono::milliseconds(0);
             !ready && waited < std::chrono::seconds(keep_alive_timeout_sec_) && svr_sock_ != INVALID_SOCKET;
             waited += std::chrono::milliseconds(100))
            ready = waitFor(sock, POLLIN, 100);
        if (!ready)
            break;
        stream.startRequest();
        bool closed = false;
        ok = process_request(stream, left == 1 || svr_sock_ == INVALID_SOCKET, closed, nullptr);
        refusal = t_refusal;
        if (refusal != 0 && !stream.answered())
            refuseUnanswered(stream, refusal);
        if (!ok || closed || refusal != 0)
            break;
    }
    if (refusal != 0)
        drainBeforeClose(sock);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    t_refusal = 0;
    return ok;
}

} // namespace tunalo::service
