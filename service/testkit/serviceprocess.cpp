#include "serviceprocess.h"
#include "serviceprotocol.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tunalo::service::testkit {

namespace fs = std::filesystem;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "tunalo-service.XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

ServiceProcess::ServiceProcess(const std::string& database, fs::path log,
                               const std::vector<std::string>& options, unsigned descriptors)
{
    const std::string logPath = log.string();
    std::vector<std::string> args = {"tunalo-service", "--listen", "127.0.0.1:0", "--db", database};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipeEnds[2] = {-1, -1};
    if (log.empty() && ::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        const int fd = log.empty() ? pipeEnds[1] : ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(fd, STDERR_FILENO);
        const rlimit limit{descriptors, descriptors};
        if (descriptors > 0 && ::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::_exit(126);
        ::execv(TUNALO_SERVICE_BIN, argv.data());
        ::_exit(127);
    }
    m_pipe = pipeEnds[0];
    if (pipeEnds[1] >= 0)
        ::close(pipeEnds[1]);
    // The service names its port in the first line of its log.
    std::string piped;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (m_pipe >= 0) {
            pollfd entry{m_pipe, POLLIN, 0};
            char byte = 0;
            if (::poll(&entry, 1, 20) > 0 && ::read(m_pipe, &byte, 1) == 1)
                piped += byte;
        }
        m_port = listeningPort(m_pipe >= 0 ? piped : fileText(log));
        if (m_port > 0)
            return;
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("tunalo-service ended at start; see " + logPath);
        }
        if (m_pipe < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop(SIGKILL);
    throw std::runtime_error("tunalo-service did not start; see " + logPath);
}

ServiceProcess::~ServiceProcess()
{
    if (m_pid > 0)
        stop(SIGKILL);
    if (m_pipe >= 0)
        ::close(m_pipe);
}

int ServiceProcess::stop(int signal)
{
    int status = 0;
    if (m_pid > 0) {
        ::kill(m_pid, signal);
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    return status;
}

int ServiceProcess::waitForEnd(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (m_pid > 0) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

int listeningPort(std::string_view log)
{
    constexpr std::string_view marker = "listening on http://127.0.0.1:";
    const auto at = log.find(marker);
    if (at == std::string_view::npos)
        return 0;
    const auto digits = log.substr(at + marker.size());
    const auto end = digits.find_first_not_of("0123456789");
    if (end == std::string_view::npos || end == 0)
        return 0; // the line is not whole yet
    return std::stoi(std::string(digits.substr(0, end)));
}

std::string fileText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string fileTextOnceItHas(const fs::path& path, std::string_view needle)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto text = fileText(path);
    while (text.find(needle) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        text = fileText(path);
    }
    return text;
}

std::string titleOf(const std::string& html)
{
    const auto start = html.find("<title>");
    const auto end = html.find("</title>");
    if (start == std::string::npos || end == std::string::npos || end < start)
        return "(no title)";
    return html.substr(start + 7, end - start - 7);
}

long long postedId(const std::string& title)
{
    const std::string_view prefix = tunalo::protocol::kPostedTitlePrefix;
    const std::string_view digits = std::string_view(title).substr(std::min(title.size(), prefix.size()));
    if (!title.starts_with(prefix) || digits.empty() || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return -1;
    return std::stoll(std::string(digits));
}

std::string Answer::header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (beast::iequals(key, name))
            return value;
    return {};
}

// A socket whose blocking reads and writes give up after 20 seconds, so a test never hangs.
struct Visitor::Connection {
    explicit Connection(int port) : socket(io)
    {
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        socket.set_option(tcp::no_delay(true));
        const timeval limit{20, 0};
        ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }

    asio::io_context io;
    tcp::socket socket;
    beast::flat_buffer buffer;
};

Visitor::Visitor(int port) : m_port(port) {}
Visitor::~Visitor() = default;
Visitor::Visitor(Visitor&&) noexcept = default;
Visitor& Visitor::operator=(Visitor&&) noexcept = default;

void Visitor::keepCookie(const Result& result)
{
    if (!result)
        return;
    const auto header = result->header("Set-Cookie");
    if (header.empty())
        return;
    const auto pair = header.substr(0, header.find(';'));
    m_cookie = pair.ends_with("=") ? std::string{} : pair;
}

Result Visitor::send(std::string_view method, const std::string& target, const Fields& headers,
                     std::string body)
{
    http::request<http::string_body> request{http::string_to_verb(method), target, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(m_port));
    if (!m_cookie.empty())
        request.set(http::field::cookie, m_cookie);
    // A Host given replaces the one above; any other header is added, so a test may send two.
    for (const auto& [name, value] : headers) {
        if (beast::iequals(name, "Host"))
            request.set(http::field::host, value);
        else
            request.insert(name, value);
    }
    request.body() = std::move(body);
    request.prepare_payload();
    // A kept connection the service has closed meanwhile fails at once; a fresh one is tried then.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool reused = m_connection != nullptr;
        try {
            if (!m_connection)
                m_connection = std::make_unique<Connection>(m_port);
            http::write(m_connection->socket, request);
            http::response<http::string_body> response;
            http::read(m_connection->socket, m_connection->buffer, response);
            Answer answer{static_cast<int>(response.result_int()), {}, std::move(response.body())};
            for (const auto& field : response)
                answer.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
            if (!response.keep_alive())
                m_connection.reset();
            Result result(std::move(answer));
            keepCookie(result);
            return result;
        } catch (const std::exception&) {
            m_connection.reset();
            if (!reused)
                return std::nullopt;
        }
    }
    return std::nullopt;
}

Result Visitor::get(const std::string& target, const Fields& headers)
{
    return send("GET", target, headers, {});
}

Result Visitor::post(const std::string& path, const Fields& form, const Fields& headers)
{
    std::string body;
    for (const auto& [name, value] : form)
        body += (body.empty() ? "" : "&") + percentEncode(name) + "=" + percentEncode(value);
    Fields all = headers;
    all.emplace_back("Content-Type", "application/x-www-form-urlencoded");
    return send("POST", path, all, std::move(body));
}

std::string Visitor::title(const std::string& target)
{
    const auto result = get(target);
    return result ? titleOf(result->body) : "(request failed)";
}

bool Visitor::signUp(const std::string& name, const std::string& password)
{
    const auto result = post("/fb/register", {{"name", name}, {"password", password}});
    return result && result->status == 303 && !m_cookie.empty();
}

bool Visitor::logIn(const std::string& name, const std::string& password)
{
    const auto result = post("/fb/login", {{"name", name}, {"password", password}});
    return result && result->status == 303 && !m_cookie.empty();
}

bool Visitor::chooseAudience(const std::string& word)
{
    const auto result = post("/fb/destinations", {{"audience", word}});
    return result && result->status == 303 && result->header("Location").ends_with("?m=saved");
}

std::string Visitor::postSong(const std::string& song, const std::string& deleteId)
{
    std::string target =
        std::string(protocol::kPostPath) + "?" + std::string(protocol::kSongKey) + "=" + percentEncode(song);
    if (!deleteId.empty())
        target += "&" + std::string(protocol::kDeleteKey) + "=" + percentEncode(deleteId);
    return title(target);
}

RawConnection::RawConnection(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to the service");
}

RawConnection::~RawConnection()
{
    ::close(m_fd);
}

bool RawConnection::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string RawConnection::receiveUntil(std::string_view end, std::chrono::milliseconds wait)
{
    std::string all;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return all;
        char chunk[4096];
        const auto n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return all;
        all.append(chunk, static_cast<std::size_t>(n));
        if (!end.empty() && all.ends_with(end))
            return all;
    }
}

bool RawConnection::closedWithin(std::chrono::milliseconds wait)
{
    pollfd entry{m_fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(wait.count())) <= 0)
        return false;
    char byte = 0;
    return ::recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

std::string rawLogIn(const std::string& name, const std::string& password, const std::string& headers)
{
    const std::string form = "name=" + percentEncode(name) + "&password=" + percentEncode(password);
    return "POST /fb/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n" + headers +
           "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form;
}

std::vector<std::unique_ptr<RawConnection>> sendOnEach(int port, const std::string& request, int count)
{
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < count; ++i) {
        connections.push_back(std::make_unique<RawConnection>(port));
        if (!connections.back()->send(request))
            throw std::runtime_error("the service refused a request");
    }
    return connections;
}

} // namespace tunalo::service::testkit
