// The service behind caddy with caddy's own certificate authority, as the README sets it up:
// sign-up, log-in and a post over https. Loopback only; caddy has no admin endpoint and asks
// nothing of the internet.
#include "servicefixture.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

using namespace tunalo::service::testkit;
namespace fs = std::filesystem;

namespace {

// A loopback port nobody listens on at this moment.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Standard output of a shell command.
std::string output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            text.append(chunk, n);
        ::pclose(pipe);
    }
    return text;
}

// caddy in front of a service, each with its files in one folder; both stop when it goes.
class Proxy {
public:
    Proxy(const fs::path& dir, int port, int servicePort) : m_dir(dir)
    {
        std::ofstream(dir / "Caddyfile") << "{\n"
                                            "    admin off\n"
                                            "    auto_https disable_redirects\n"
                                            "    skip_install_trust\n"
                                            "    storage file_system "
                                         << (dir / "caddy").string() << "\n    http_port " << freePort()
                                         << "\n    https_port " << port << "\n}\n"
                                         << "https://localhost:" << port << " {\n"
                                         << "    bind 127.0.0.1\n    tls internal\n"
                                         << "    reverse_proxy 127.0.0.1:" << servicePort << "\n}\n";
        const auto config = (dir / "Caddyfile").string();
        const auto log = (dir / "caddy.log").string();
        const auto home = dir.string();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_DATA_HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
            // Without its log the proxy still runs; a failure shows in the tests that talk to it.
            [[maybe_unused]] const bool logged = std::freopen(log.c_str(), "w", stderr) != nullptr &&
                                                 std::freopen(log.c_str(), "a", stdout) != nullptr;
            ::execlp("caddy", "caddy", "run", "--config", config.c_str(), "--adapter", "caddyfile", nullptr);
            ::_exit(127);
        }
    }
    ~Proxy()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    fs::path rootCertificate() const { return m_dir / "caddy/pki/authorities/local/root.crt"; }
    std::string log() const { return fileText(m_dir / "caddy.log"); }
    bool running() const { return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

private:
    fs::path m_dir;
    pid_t m_pid = -1;
};

TEST(Proxy, SignUpLogInAndPostOverHttpsThroughCaddy)
{
    TempDir dir;
    const int port = freePort();
    const auto origin = "https://localhost:" + std::to_string(port);
    ServiceProcess service(dir.path() / "service.db", dir.path() / "service.log", {"--public-url", origin});
    Proxy proxy(dir.path(), port, service.port());

    // curl trusts caddy's own authority and nothing else; a browser's form sends its Origin.
    const auto curl = [&](const std::string& args) {
        return output("curl -sS --max-time 20 --cacert " + proxy.rootCertificate().string() + " -b " +
                      (dir.path() / "jar").string() + " -c " + (dir.path() / "jar").string() +
                      " -H 'Origin: " + origin + "' " + args + " 2>&1");
    };
    std::string status;
    for (int attempt = 0; attempt < 100 && status != "200" && proxy.running(); ++attempt) {
        if (fs::exists(proxy.rootCertificate()))
            status = curl("-o /dev/null -w '%{http_code}' " + origin + "/");
        if (status != "200")
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_EQ(status, "200") << proxy.log();

    const auto signUp =
        curl("-D - -o /dev/null --data 'name=Ann&password=correct+horse' " + origin + "/fb/register");
    EXPECT_NE(signUp.find("HTTP/2 303"), std::string::npos) << signUp;
    EXPECT_NE(signUp.find("SameSite=Strict; Secure"), std::string::npos) << "a Secure cookie behind https";
    EXPECT_NE(curl("-D - -o /dev/null -X POST " + origin + "/fb/logout").find("HTTP/2 303"),
              std::string::npos);
    const auto logIn =
        curl("-D - -o /dev/null --data 'name=ann&password=correct+horse' " + origin + "/fb/login");
    EXPECT_NE(logIn.find("location: /fb/tnlouserhome.php\r\n"), std::string::npos) << logIn;
    EXPECT_NE(curl(origin + "/fb/tnlouserhome.php").find("<title>Login Succsesfull</title>"),
              std::string::npos);
    EXPECT_NE(curl("-D - -o /dev/null --data 'audience=public' " + origin + "/fb/destinations").find("HTTP/2 303"),
              std::string::npos)
        << "songs for everyone, so that the service's feed shows them";
    EXPECT_NE(curl(origin + "/fb/update.php?s=Over%20TLS").find("<title>Posted ID:"), std::string::npos);
    EXPECT_NE(curl(origin + "/fb/feed.json").find("\"song\":\"Over TLS\""), std::string::npos);
    // Plain http on the https port is not served as the site.
    EXPECT_EQ(output("curl -s --max-time 5 -o /dev/null -w '%{http_code}' http://localhost:" +
                     std::to_string(port) + "/fb/feed"),
              "400");
}

} // namespace
