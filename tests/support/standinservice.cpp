#include "support/standinservice.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace tunalo::test {

namespace {

constexpr int kPollMs = 20;

// A listening socket on a loopback port (0 picks one); its descriptor and port.
std::pair<int, int> listenOn(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0)
        throw std::runtime_error("the stand-in cannot listen on its port");
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return {fd, ntohs(address.sin_port)};
}

int connectTo(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool readable(int fd, int milliseconds)
{
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, milliseconds) > 0;
}

// A connection that the acceptor of listener hands over, or -1 after a short wait.
int acceptOne(int listener)
{
    if (listener < 0 || !readable(listener, kPollMs))
        return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// The request's head, up to the blank line; empty when the client went away. What came after the
// head is left in rest.
std::string readHead(int fd, const std::atomic<bool>& closing, std::string& rest)
{
    std::string data;
    char buffer[4096];
    for (;;) {
        const auto end = data.find("\r\n\r\n");
        if (end != std::string::npos) {
            rest = data.substr(end + 4);
            return data.substr(0, end + 4);
        }
        if (closing)
            return {};
        if (!readable(fd, kPollMs))
            continue;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return {};
        data.append(buffer, static_cast<std::size_t>(got));
    }
}

void sendAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::string percentDecoded(std::string_view text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string queryValue(std::string_view query, std::string_view key)
{
    for (std::size_t start = 0; start <= query.size();) {
        const auto end = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, end - start);
        if (pair.substr(0, key.size()) == key && pair.size() > key.size() && pair[key.size()] == '=')
            return percentDecoded(pair.substr(key.size() + 1));
        start = end + 1;
    }
    return {};
}

std::string header(const std::string& head, const std::string& name)
{
    const auto at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const auto from = at + name.size() + 4;
    return head.substr(from, head.find("\r\n", from) - from);
}

// The request's head with "Connection: close" in place of whatever it said about the connection.
std::string oneRequestOnly(const std::string& head)
{
    std::string result;
    std::size_t from = 0;
    for (std::size_t end; (end = head.find("\r\n", from)) != std::string::npos && end > from;
         from = end + 2) {
        const std::string line = head.substr(from, end - from);
        if (!line.starts_with("Connection:") && !line.starts_with("Proxy-Connection:"))
            result += line + "\r\n";
    }
    return result + "Connection: close\r\n\r\n";
}

void joinAll(std::vector<std::thread>& threads)
{
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace

LoopbackServer::LoopbackServer()
{
    listen();
}

LoopbackServer::~LoopbackServer()
{
    if (m_listener >= 0)
        close(m_listener);
}

void LoopbackServer::open()
{
    m_acceptor = std::thread([this] { acceptLoop(); });
}

void LoopbackServer::shut()
{
    m_closing = true;
    m_closed.notify_all();
    m_acceptor.join();
    joinAll(m_connections);
}

void LoopbackServer::listen()
{
    const auto [fd, port] = listenOn(m_port);
    std::lock_guard lock(m_mutex);
    m_listener = fd;
    m_port = port;
}

void LoopbackServer::goDown()
{
    std::lock_guard lock(m_mutex);
    close(m_listener);
    m_listener = -1;
}

void LoopbackServer::comeUp()
{
    listen();
}

bool LoopbackServer::waitClosing(int milliseconds)
{
    std::unique_lock lock(m_mutex);
    return m_closed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return m_closing.load(); });
}

void LoopbackServer::acceptLoop()
{
    while (!m_closing) {
        int listener;
        {
            std::lock_guard lock(m_mutex);
            listener = m_listener;
        }
        const int connection = acceptOne(listener);
        if (connection < 0) {
            if (listener < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, connection] {
            serve(connection);
            close(connection);
        });
    }
}

StandInService::StandInService()
{
    open();
}

StandInService::~StandInService()
{
    shut();
}

void StandInService::answer(const std::string& path, Answer answer)
{
    std::lock_guard lock(m_mutex);
    m_answers[path] = std::move(answer);
}

std::vector<StandInService::Request> StandInService::requests(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    std::vector<Request> matching;
    for (const Request& request : m_requests)
        if (request.path == path)
            matching.push_back(request);
    return matching;
}

std::vector<std::string> StandInService::songs(const std::string& postPath)
{
    std::vector<std::string> posted;
    for (const Request& request : requests(postPath))
        posted.push_back(request.song);
    return posted;
}

std::string StandInService::page(const std::string& title)
{
    return "<html><head><title>" + title + "</title></head><body>Tunalo</body></html>";
}

void StandInService::serve(int connection)
{
    std::string rest;
    std::string head = readHead(connection, m_closing, rest);
    if (!head.empty()) {
        // The request line's target, in origin form or, from a proxy, in absolute form.
        std::string target = head.substr(head.find(' ') + 1);
        target = target.substr(0, target.find(' '));
        std::string local = target;
        if (const auto scheme = local.find("://"); scheme != std::string::npos)
            local = local.substr(std::min(local.find('/', scheme + 3), local.size()));
        const auto question = local.find('?');
        const std::string path = local.substr(0, question);
        const std::string query = question == std::string::npos ? std::string() : local.substr(question + 1);
        Answer answer{Answer::Kind::Page, "Not Found", 404};
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back({target, path, queryValue(query, "s"), queryValue(query, "d"),
                                  header(head, "Cookie"), std::chrono::steady_clock::now()});
            m_requestCame.notify_all();
            if (const auto found = m_answers.find(path); found != m_answers.end())
                answer = found->second;
            if (const auto number = answer.title.find("{n}"); number != std::string::npos) {
                const auto count =
                    std::count_if(m_requests.begin(), m_requests.end(),
                                  [&](const Request& request) { return request.path == path; });
                answer.title.replace(number, 3, std::to_string(count));
            }
        }
        reply(connection, answer);
    }
}

std::optional<StandInService::Request> StandInService::waitForSong(const std::string& path,
                                                                   const std::string& fragment,
                                                                   std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    std::optional<Request> found;
    m_requestCame.wait_for(lock, timeout, [&] {
        for (const Request& request : m_requests) {
            if (request.path == path && request.song.find(fragment) != std::string::npos) {
                found = request;
                return true;
            }
        }
        return false;
    });
    return found;
}

void StandInService::reply(int connection, const Answer& answer)
{
    using Kind = Answer::Kind;
    if (answer.kind == Kind::Hang) {
        waitClosing(24 * 3600 * 1000);
        return;
    }
    if (answer.kind == Kind::Reset) {
        const linger abort{1, 0};
        setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return;
    }
    if (answer.kind == Kind::Page && answer.delayMs > 0 && waitClosing(answer.delayMs))
        return;
    const std::string body = answer.body.empty() ? page(answer.title) : answer.body;
    std::string head =
        "HTTP/1.1 " + std::to_string(answer.status) + (answer.status < 400 ? " OK" : " Error") +
        "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\nCache-Control: no-store\r\n";
    if (!answer.setCookie.empty())
        head += "Set-Cookie: " + answer.setCookie + "\r\n";
    sendAll(connection, head + "\r\n");
    if (answer.kind == Kind::Page)
        return sendAll(connection, body);
    // The middle of the title.
    const std::size_t cut = body.find("<title>") + 7 + answer.title.size() / 2;
    sendAll(connection, std::string_view(body).substr(0, cut));
    if (answer.kind == Kind::SlowTitle && !waitClosing(answer.delayMs))
        sendAll(connection, std::string_view(body).substr(cut));
}

StandInProxy::StandInProxy(int servicePort) : m_servicePort(servicePort)
{
    open();
}

StandInProxy::~StandInProxy()
{
    shut();
}

std::vector<std::string> StandInProxy::requestLines()
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

void StandInProxy::delay(const std::string& path, int delayMs)
{
    std::lock_guard lock(m_mutex);
    m_delayedPath = path;
    m_delayMs = delayMs;
}

void StandInProxy::serve(int client)
{
    std::string rest;
    const std::string head = readHead(client, m_closing, rest);
    const int service = head.empty() ? -1 : connectTo(m_servicePort);
    if (service >= 0) {
        const std::string line = head.substr(0, head.find("\r\n"));
        int delayMs = 0;
        {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
            if (!m_delayedPath.empty() && line.find(m_delayedPath) != std::string::npos)
                delayMs = m_delayMs;
        }
        if (delayMs > 0 && waitClosing(delayMs)) {
            close(service);
            return;
        }
        // The service takes the request as it came, on a connection of its own, so that every request
        // passes here; both ends then talk through until one closes.
        sendAll(service, oneRequestOnly(head) + rest);
        pollfd ends[2] = {{client, POLLIN, 0}, {service, POLLIN, 0}};
        char buffer[4096];
        bool open = true;
        while (open && !m_closing) {
            if (poll(ends, 2, kPollMs) <= 0)
                continue;
            for (int from = 0; from < 2 && open; ++from) {
                if (!(ends[from].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t got = read(ends[from].fd, buffer, sizeof buffer);
                if (got <= 0)
                    open = false;
                else
                    sendAll(ends[1 - from].fd, std::string_view(buffer, static_cast<std::size_t>(got)));
            }
        }
        close(service);
    }
}

} // namespace tunalo::test
