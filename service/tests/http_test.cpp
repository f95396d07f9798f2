// HTTP as the clients and proxies in front of the service speak it.
#include "servicefixture.h"

#include <sys/wait.h>

using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

class Http : public ServiceTest {};

TEST_F(Http, HostRulesAndAbsoluteFormTargets)
{
    const struct {
        const char* what;
        std::string request;
        const char* answer; // the start of the answer
    } cases[] = {
        {"HTTP/1.1 without Host", "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400"},
        {"two Hosts", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", "HTTP/1.1 400"},
        {"HTTP/1.0 with two Hosts", "GET / HTTP/1.0\r\nHost: a\r\nHost: b\r\n\r\n", "HTTP/1.0 400"},
        {"HTTP/1.0 without Host", "GET /fb/feed HTTP/1.0\r\n\r\n", "HTTP/1.0 200"},
        {"an absolute-form target", "GET http://tunalo.example/fb/feed?x=1 HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 200"},
        {"an absolute-form target naming the host alone", "GET HTTP://tunalo.example HTTP/1.1\r\n\r\n",
         "HTTP/1.1 200"},
        {"an absolute-form target of another scheme", "GET ftp://tunalo.example/ HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 404"},
    };
    for (const auto& c : cases) {
        RawConnection connection(port());
        ASSERT_TRUE(connection.send(c.request)) << c.what;
        const auto answer = connection.receiveUntil("</html>\n", 10s);
        EXPECT_TRUE(answer.starts_with(c.answer)) << c.what << ":\n" << answer;
    }
    RawConnection absolute(port());
    absolute.send("GET http://tunalo.example/fb/feed HTTP/1.1\r\n\r\n");
    EXPECT_NE(absolute.receiveUntil("</html>\n", 10s).find("<title>Tunalo feed</title>"), std::string::npos);
}

TEST_F(Http, ExpectContinueIsAnsweredBeforeTheBodyIsSent)
{
    member("Ann");
    const std::string form = "name=Ann&password=correct+horse";
    const std::string head = "POST /fb/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: " + std::to_string(form.size()) + "\r\n";
    RawConnection connection(port());
    ASSERT_TRUE(connection.send(head + "Expect: 100-continue\r\n\r\n"));
    EXPECT_EQ(connection.receiveUntil("\r\n\r\n", 10s), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(connection.send(form));
    const auto answer = connection.receiveUntil("\r\n\r\n", 10s);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 303")) << answer;
    EXPECT_NE(answer.find("Set-Cookie: tunalo_session="), std::string::npos) << answer;

    RawConnection unknown(port());
    ASSERT_TRUE(unknown.send(head + "Expect: something-else\r\n\r\n" + form));
    EXPECT_TRUE(unknown.receive(10s).starts_with("HTTP/1.1 417")) << "an expectation it cannot meet";
}

TEST_F(Http, ADatabaseThatCannotBeOpenedIsNamed)
{
    if (onPostgres())
        GTEST_SKIP() << "about a database file";
    const auto missing = folder() / "no such folder" / "service.db";
    const auto log = folder() / "missing.log";
    const std::string command = std::string(TUNALO_SERVICE_BIN) + " --listen 127.0.0.1:0 --db '" +
                                missing.string() + "' 2>'" + log.string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(fileText(log).find("cannot open the database " + missing.string()), std::string::npos)
        << fileText(log);
}

} // namespace
