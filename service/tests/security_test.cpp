// Requests meant to hurt the service, as an attacker on the open internet would send them.
#include "servicefixture.h"

#include <sys/wait.h>

#include <thread>

using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

class Security : public ServiceTest {
protected:
    std::string posts() { return sql("SELECT count(*) FROM posts").at(0); }
};

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

int countOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A request that would post under the victim's cookie if the service read it as a request of
// its own; it rides behind each refused one.
const std::string hidden = "GET /fb/update.php?s=smuggled HTTP/1.1\r\nHost: x\r\nCookie: {cookie}\r\n\r\n";

std::string withLength(const std::string& head, const std::string& body)
{
    return replaceAll(head, "{length}", std::to_string(body.size())) + body;
}

TEST_F(Security, HostileRequestsGetTheirAnswerAndNothingIsPosted)
{
    auto victim = member("Victim");
    const std::string big(20 * 1024, 'a');
    const struct {
        const char* what;
        std::string request;
        const char* status;
    } cases[] = {
        {"a brotli body",
         withLength("POST /fb/login HTTP/1.1\r\nHost: x\r\nContent-Encoding: br\r\n"
                    "Content-Length: {length}\r\n\r\n",
                    "\x1b\xff\xff\x07") +
             hidden,
         "415"},
        {"a gzip body",
         withLength("POST /fb/register HTTP/1.1\r\nHost: x\r\nContent-Encoding: gzip\r\n"
                    "Content-Length: {length}\r\n\r\n",
                    "\x1f\x8b\x08\x00") +
             hidden,
         "415"},
        {"a malformed request line", "GET /fb/update.php?s=a HTTP/1.1 extra\r\nHost: x\r\n\r\n" + hidden,
         "400"},
        {"bare line feeds", "GET / HTTP/1.1\nHost: x\n\n" + hidden, "400"},
        {"a GET with a body",
         withLength("GET / HTTP/1.1\r\nHost: x\r\nContent-Length: {length}\r\n\r\n", hidden), "400"},
        {"two equal Content-Lengths",
         withLength("POST /fb/logout HTTP/1.1\r\nHost: x\r\nContent-Length: {length}\r\nContent-Length: "
                    "{length}\r\n\r\n",
                    "a=b") +
             hidden,
         "400"},
        {"two different Content-Lengths",
         withLength(
             "POST /fb/logout HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: {length}\r\n\r\n",
             hidden),
         "400"},
        {"Content-Length and chunked",
         "POST /fb/logout HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nTransfer-Encoding: "
         "chunked\r\n\r\n0\r\n\r\n" +
             hidden,
         "400"},
        {"a transfer coding other than chunked",
         "POST /fb/logout HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n" + hidden,
         "400"},
        {"a head over its limit", "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + big + "\r\n\r\n" + hidden, "431"},
        {"an address over the limit", "GET /fb/update.php?s=" + big + " HTTP/1.1\r\nHost: x\r\n\r\n" + hidden,
         "431"},
        {"a body over the limit",
         "POST /fb/login HTTP/1.1\r\nHost: x\r\nContent-Length: 20000\r\n\r\n" + hidden, "413"},
        {"an escape byte in the path", "GET /\x1b[31mred HTTP/1.1\r\nHost: x\r\n\r\n" + hidden, "400"},
        {"a NUL in the path", std::string("GET /\0 HTTP/1.1\r\nHost: x\r\n\r\n", 29) + hidden, "400"},
        // Well-framed requests that must not act; they ask to close, so nothing follows them.
        {"a cross-site top-level GET of update.php",
         "GET /fb/update.php?s=cross HTTP/1.1\r\nHost: x\r\nCookie: {cookie}\r\nSec-Fetch-Site: "
         "cross-site\r\n"
         "Connection: close\r\n\r\n",
         "403"},
        {"a log-out form from another site",
         "POST /fb/logout HTTP/1.1\r\nHost: x\r\nCookie: {cookie}\r\nOrigin: https://evil.example\r\n"
         "Content-Length: 0\r\nConnection: close\r\n\r\n",
         "403"},
        {"a log-in form from an opaque origin",
         "POST /fb/login HTTP/1.1\r\nHost: x\r\nOrigin: null\r\nContent-Length: 0\r\nConnection: "
         "close\r\n\r\n",
         "403"},
        {"a log-in form from an opaque origin of the same site",
         "POST /fb/login HTTP/1.1\r\nHost: x\r\nOrigin: null\r\nSec-Fetch-Site: same-site\r\n"
         "Content-Length: 0\r\nConnection: close\r\n\r\n",
         "403"},
        {"HEAD of update.php",
         "HEAD /fb/update.php?s=head HTTP/1.1\r\nHost: x\r\nCookie: {cookie}\r\nConnection: close\r\n\r\n",
         "405"},
        {"a song of blanks and NULs",
         "GET /fb/update.php?s=%20%00%09%00%20 HTTP/1.1\r\nHost: x\r\nCookie: {cookie}\r\nConnection: "
         "close\r\n\r\n",
         "200"},
        {"a song of invisible characters",
         "GET /fb/update.php?s=%E2%80%8B%E2%80%AE%C2%A0 HTTP/1.1\r\nHost: x\r\nCookie: "
         "{cookie}\r\nConnection: close\r\n\r\n",
         "200"},
    };
    for (const auto& c : cases) {
        RawConnection connection(port());
        ASSERT_TRUE(connection.send(replaceAll(c.request, "{cookie}", victim.cookie()))) << c.what;
        const auto answer = connection.receive(15s);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 " + std::string(c.status))) << c.what << ":\n" << answer;
        EXPECT_EQ(countOf(answer, "HTTP/1.1 "), 1) << c.what << ": nothing after it is answered";
        EXPECT_TRUE(connection.closedWithin(1s)) << c.what;
        if (std::string(c.status) == "200") {
            EXPECT_NE(answer.find("<title>failed</title>"), std::string::npos) << c.what;
        }
        // Every answer, refusals included, carries the headers that keep other sites out.
        for (const auto* header :
             {"X-Content-Type-Options: nosniff", "frame-ancestors 'none'", "Referrer-Policy: no-referrer"})
            EXPECT_NE(answer.find(header), std::string::npos) << c.what << " lacks " << header;
    }
    EXPECT_EQ(posts(), "0");
    EXPECT_EQ(victim.title("/fb/tnlouserhome.php"), "Login Succsesfull") << "the refused log-out did nothing";
    EXPECT_EQ(victim.title("/"), "Tunalo service") << "the service goes on";
}

// The paths where other servers post activities take bodies of up to 256 KiB. One announced as
// larger is refused from its head, at once: no byte of it is waited for or read. One of exactly
// that size is read.
TEST_F(Security, AnActivityAnnouncedOverItsCapIsRefusedBeforeItsBodyIsRead)
{
    constexpr std::size_t cap = 256 * 1024;
    const auto head = [](const std::string& path, std::size_t length) {
        return "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/activity+json\r\n"
               "Content-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
    };
    for (const std::string path : {"/fb/inbox", "/fb/u/Someone/inbox"}) {
        RawConnection over(port());
        ASSERT_TRUE(over.send(head(path, cap + 1))) << path;
        EXPECT_TRUE(over.receiveUntil("\r\n\r\n", 2s).starts_with("HTTP/1.1 413")) << path << ": with no body sent";

        RawConnection at(port());
        ASSERT_TRUE(at.send(head(path, cap) + std::string(cap, ' '))) << path;
        const auto answer = at.receiveUntil("\r\n\r\n", 15s);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 ")) << path;
        EXPECT_FALSE(answer.starts_with("HTTP/1.1 413")) << path << ": a body at the cap is read";
    }
}

TEST_F(Security, BrowserLoadsOfTheSameSiteAndPlainClientsStillPost)
{
    auto ann = member("Ann");
    const Fields allowed[] = {
        {},
        {{"Sec-Fetch-Site", "none"}}, // a load the embedding program starts
        {{"Sec-Fetch-Site", "same-origin"}, {"Origin", "http://127.0.0.1:" + std::to_string(port())}},
        // The service's own pages under their no-referrer policy: a browser names the origin "null".
        {{"Sec-Fetch-Site", "same-origin"}, {"Origin", "null"}},
    };
    for (const auto& headers : allowed) {
        const auto result = ann.get("/fb/update.php?s=Allowed", headers);
        ASSERT_TRUE(result);
        EXPECT_EQ(titleOf(result->body).rfind("Posted ID:", 0), 0u) << result->body;
    }
    EXPECT_EQ(posts(), "4");

    // The log-in form on the service's own home page, as a browser sends it.
    auto browser = visitor();
    const auto login = browser.post("/fb/login", {{"name", "Ann"}, {"password", "correct horse"}},
                                    {{"Sec-Fetch-Site", "same-origin"}, {"Origin", "null"}});
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 303);
    EXPECT_FALSE(browser.cookie().empty());
}

TEST_F(Security, ControlCharactersInAPathCannotForgeLogLines)
{
    RawConnection connection(port());
    connection.send(
        "GET /%0a2026-01-01T00:00:00Z%20forged%1b[31m\\x41 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(connection.receive(10s).starts_with("HTTP/1.1 404"));
    RawConnection raw(port());
    raw.send("GET /a\x7f\x1b HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(raw.receive(10s).starts_with("HTTP/1.1 400"));
    visitor().title("/fb/feed"); // a last line: the log has all once it has this one

    const auto log = logTextOnceItHas(" GET /fb/feed 200 ");
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    EXPECT_EQ(log.find('\x7f'), std::string::npos);
    EXPECT_EQ(log.find("\n2026-01-01"), std::string::npos) << "no line starts with the forged time";
    EXPECT_NE(log.find("/%0a2026-01-01T00:00:00Z%20forged%1b[31m\\x5cx41 404"), std::string::npos)
        << "the path is logged as sent, with a backslash escaped:\n"
        << log;
}

TEST_F(Security, IdleAndTrickledConnectionsHoldNoOneUpAndAreCutOff)
{
    // Hundreds of connections that send nothing cost the service memory, not threads.
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 300; ++i)
        idle.push_back(std::make_unique<RawConnection>(port()));
    RawConnection trickle(port());
    ASSERT_TRUE(trickle.send("GET / HTTP/1.1\r\nHost: x\r\n"));

    // One header line every second never completes the request; the service hangs up after its
    // ten seconds for a request head while serving others all along.
    bool cutOff = false;
    for (int second = 0; second < 30 && !cutOff; ++second) {
        EXPECT_EQ(visitor().title("/"), "Tunalo service") << "at second " << second;
        cutOff = trickle.closedWithin(1s) || !trickle.send("X-Slow: 1\r\n");
    }
    EXPECT_TRUE(cutOff);
    EXPECT_TRUE(idle.front()->closedWithin(5s)) << "a connection that never sends is closed as well";
}

TEST_F(Security, AKeptAliveConnectionServesManyRequestsAndClosesWhenIdle)
{
    auto ann = member("Ann");
    RawConnection connection(port());
    const std::string request =
        "GET /fb/update.php?s=Kept HTTP/1.1\r\nHost: x\r\nCookie: " + ann.cookie() + "\r\n\r\n";
    // Three requests in one send: pipelined, answered in order on the same connection.
    ASSERT_TRUE(connection.send(request + request + request));
    std::string answers;
    while (countOf(answers, "Posted ID:") < 3) {
        const auto more = connection.receive(5s);
        ASSERT_FALSE(more.empty()) << answers;
        answers += more;
    }
    EXPECT_EQ(posts(), "3");
    EXPECT_FALSE(connection.closedWithin(1s)) << "kept open between requests";
}

TEST_F(Security, WrongPasswordsSlowAName)
{
    member("Ann");
    member("Bob");
    for (int attempt = 0; attempt < 5; ++attempt)
        EXPECT_FALSE(visitor().logIn("Ann", "guess " + std::to_string(attempt)));
    EXPECT_EQ(sql("SELECT failures FROM login_failures"), std::vector<std::string>{"5"});

    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(visitor().logIn("ANN", "correct horse")) << "the owner still gets in";
    EXPECT_GE(std::chrono::steady_clock::now() - before, 1900ms) << "after the wait that guesses get";
    EXPECT_TRUE(sql("SELECT failures FROM login_failures").empty()) << "the right password ends the run";
    EXPECT_TRUE(visitor().logIn("Bob", "correct horse")) << "other names are not held back";
}

TEST_F(Security, FiveSignUpsAMinutePerAddressSharedThroughTheDatabase)
{
    for (int i = 0; i < 5; ++i)
        member("user" + std::to_string(i));
    restart(); // the count lives in the database, not in the process
    auto v = visitor();
    const auto result = v.post("/fb/register", {{"name", "user5"}, {"password", "correct horse"}});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->header("Location"), "/fb/tnlouserhome.php?m=signups");
    EXPECT_TRUE(v.cookie().empty());
    EXPECT_TRUE(visitor().logIn("user0", "correct horse")) << "log-ins are not sign-ups";
}

TEST_F(Security, NamesThatLookAlikeOrHideCharactersAreRefusedOrTaken)
{
    member("\xC3\x89lodie"); // Élodie
    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"\xC3\xA9LODIE", "That name is taken"},       // élodie in capitals
        {"E\xCC\x81lodie", "That name is taken"},      // É as E and a combining accent
        {"\xE2\x80\x8B\xE2\x80\x8B", "choose a name"}, // zero-width spaces
        {"\xE2\x80\xAE"
         "eidol\xC3\xA9",
         "choose a name"},                  // a right-to-left override
        {"\xD0\x95lodie", "choose a name"}, // a Cyrillic Е in front of Latin letters
    };
    for (const auto& c : cases) {
        auto v = visitor();
        const auto result = v.post("/fb/register", {{"name", c.name}, {"password", "correct horse"}});
        ASSERT_TRUE(result) << c.name;
        const auto page = v.get(result->header("Location"));
        ASSERT_TRUE(page);
        EXPECT_NE(page->body.find(c.message), std::string::npos) << c.name;
    }
    EXPECT_EQ(sql("SELECT count(*) FROM users"), std::vector<std::string>{"1"});
}

TEST_F(Security, ManyLogInsAtOnceNeitherHoldUpPagesNorQueueWithoutEnd)
{
    member("Ann");
    const auto logins = sendOnEach(port(), rawLogIn("Ann", "wrong guess", "Connection: close\r\n"), 120);
    EXPECT_EQ(visitor().title("/fb/feed"), "Tunalo feed");
    int unanswered = 0;
    for (auto& login : logins)
        unanswered += login->closedWithin(0ms) ? 0 : 1;
    EXPECT_GT(unanswered, 0) << "the feed was served while log-ins still waited for their hash";

    int busy = 0;
    for (auto& login : logins) {
        const auto answer = login->receive(60s);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 303") || answer.starts_with("HTTP/1.1 503")) << answer;
        if (answer.starts_with("HTTP/1.1 503")) {
            ++busy;
            EXPECT_NE(answer.find("Retry-After: "), std::string::npos);
        }
    }
    EXPECT_GT(busy, 0) << "the hashing queue is bounded";
}

TEST_F(Security, ASecondServiceOnATakenPortExitsWithAMessage)
{
    const auto log = folder() / "second.log";
    const std::string command = std::string(TUNALO_SERVICE_BIN) +
                                " --listen 127.0.0.1:" + std::to_string(port()) + " --db " +
                                (folder() / "second.db").string() + " 2>" + log.string();
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string text = fileText(log);
    EXPECT_NE(text.find("cannot listen on 127.0.0.1:" + std::to_string(port())), std::string::npos) << text;
    EXPECT_EQ(visitor().title("/"), "Tunalo service");
}

} // namespace
