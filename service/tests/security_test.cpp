// Requests meant to hurt the service: floods, oversized input, password guessing.
#include "servicefixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace tunalo::service::testkit;

namespace {

class Security : public ServiceTest {};

TEST_F(Security, OversizedRequestsAreRefusedAndTheServiceGoesOn)
{
    httplib::Headers flood;
    for (int i = 0; i < 3000; ++i)
        flood.emplace("X-Flood-" + std::to_string(i), std::string(40, 'f'));
    const std::string huge(200 * 1024, 'a');

    const struct {
        const char* what;
        std::function<httplib::Result(httplib::Client&)> send;
    } cases[] = {
        {"header flood", [&](httplib::Client& c) { return c.Get("/", flood); }},
        {"one huge header",
         [&](httplib::Client& c) {
             return c.Get("/", {{"X-Big", huge}});
         }},
        {"long address", [&](httplib::Client& c) { return c.Get("/fb/update.php?s=" + huge); }},
        {"large form",
         [&](httplib::Client& c) {
             return c.Post("/fb/login", "name=a&password=" + huge, "application/x-www-form-urlencoded");
         }},
    };
    for (const auto& c : cases) {
        httplib::Client client("127.0.0.1", port());
        client.set_read_timeout(std::chrono::seconds(20));
        const auto result = c.send(client);
        ASSERT_TRUE(result) << c.what << ": " << httplib::to_string(result.error());
        EXPECT_GE(result->status, 400) << c.what;
        EXPECT_LT(result->status, 500) << c.what;
        EXPECT_EQ(visitor().title("/"), "Tunalo service") << "after the " << c.what;
    }
}

TEST_F(Security, ARequestTrickledInIsCutOffAndOthersAreServedMeanwhile)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string start = "GET / HTTP/1.1\r\nHost: x\r\n";
    ASSERT_EQ(::send(fd, start.data(), start.size(), MSG_NOSIGNAL), static_cast<ssize_t>(start.size()));

    // One header line every second never completes the request; the service hangs up after
    // its ten seconds for a request.
    const auto began = std::chrono::steady_clock::now();
    bool cutOff = false;
    while (!cutOff && std::chrono::steady_clock::now() - began < std::chrono::seconds(30)) {
        EXPECT_EQ(visitor().title("/"), "Tunalo service");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        // Cut off: the service answered (a refusal), hung up, or reset the connection.
        char byte = 0;
        const auto got = ::recv(fd, &byte, 1, MSG_DONTWAIT);
        cutOff = got >= 0 || errno != EAGAIN || ::send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL) < 0;
    }
    ::close(fd);
    EXPECT_TRUE(cutOff);
}

TEST_F(Security, TenLogInAttemptsAMinutePerName)
{
    member("Ann");
    member("Bob");
    for (int attempt = 0; attempt < 10; ++attempt)
        EXPECT_FALSE(visitor().logIn("Ann", "guess " + std::to_string(attempt)));

    auto ann = visitor();
    EXPECT_FALSE(ann.logIn("ANN", "correct horse")) << "the eleventh attempt is refused, password or not";
    const auto page = ann.get("/fb/tnlouserhome.php?m=limit");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("Too many log-in attempts"), std::string::npos);

    EXPECT_TRUE(visitor().logIn("Bob", "correct horse")) << "other names are not held back";
}

TEST_F(Security, MessageKeysInTheAddressAreNotEchoed)
{
    const auto page = visitor().get("/fb/tnlouserhome.php?m=%3Cscript%3E");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("script>"), std::string::npos);
    EXPECT_EQ(titleOf(page->body), "failed");
}

} // namespace
