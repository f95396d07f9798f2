#include "serviceprocess.h"
#include "serviceprotocol.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tunalo::service::testkit {

namespace fs = std::filesystem;

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

ServiceProcess::ServiceProcess(fs::path database, fs::path log)
{
    const std::string db = database.string();
    const std::string logPath = log.string();
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(fd, STDERR_FILENO);
        ::execl(TUNALO_SERVICE_BIN, "tunalo-service", "--listen", "127.0.0.1:0", "--db", db.c_str(), nullptr);
        ::_exit(127);
    }
    // The service names its port in the first line of its log.
    const std::regex listening(R"(listening on http://127\.0\.0\.1:(\d+))");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        const auto all = text.str();
        std::smatch match;
        if (std::regex_search(all, match, listening)) {
            m_port = std::stoi(match[1]);
            return;
        }
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("tunalo-service ended at start; see " + logPath);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop(SIGKILL);
    throw std::runtime_error("tunalo-service did not start; see " + logPath);
}

ServiceProcess::~ServiceProcess()
{
    if (m_pid > 0)
        stop(SIGKILL);
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

std::string percentEncode(const std::string& text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    return out;
}

std::string titleOf(const std::string& html)
{
    const auto start = html.find("<title>");
    const auto end = html.find("</title>");
    if (start == std::string::npos || end == std::string::npos || end < start)
        return "(no title)";
    return html.substr(start + 7, end - start - 7);
}

Visitor::Visitor(int port) : m_client("127.0.0.1", port)
{
    m_client.set_read_timeout(std::chrono::seconds(20));
}

void Visitor::keepCookie(const httplib::Result& result)
{
    if (!result || !result->has_header("Set-Cookie"))
        return;
    const auto header = result->get_header_value("Set-Cookie");
    const auto pair = header.substr(0, header.find(';'));
    m_cookie = pair.ends_with("=") ? std::string{} : pair;
}

httplib::Result Visitor::get(const std::string& target)
{
    httplib::Headers headers;
    if (!m_cookie.empty())
        headers.emplace("Cookie", m_cookie);
    auto result = m_client.Get(target, headers);
    keepCookie(result);
    return result;
}

httplib::Result Visitor::post(const std::string& path, const httplib::Params& form)
{
    httplib::Headers headers;
    if (!m_cookie.empty())
        headers.emplace("Cookie", m_cookie);
    auto result = m_client.Post(path, headers, form);
    keepCookie(result);
    return result;
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

std::string Visitor::postSong(const std::string& song, const std::string& deleteId)
{
    std::string target = std::string(protocol::kPostPath) + "?s=" + percentEncode(song);
    if (!deleteId.empty())
        target += "&d=" + percentEncode(deleteId);
    return title(target);
}

} // namespace tunalo::service::testkit
