// The service through an operator's day: signals, a log nobody reads, a stop under load.
#include "servicefixture.h"
#include "serviceprotocol.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

class Operations : public ServiceTest {};

// The database hung: the PostgreSQL cluster stopped with SIGSTOP, or the SQLite file's write lock
// held by another program; until destroyed.
class HungDatabase {
public:
    HungDatabase(bool postgres, const std::string& database)
    {
        if (postgres) {
            m_cluster = std::make_unique<StoppedCluster>();
            return;
        }
        sqlite3_open_v2(database.c_str(), &m_sqlite, SQLITE_OPEN_READWRITE, nullptr);
        EXPECT_EQ(sqlite3_exec(m_sqlite, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~HungDatabase()
    {
        if (m_sqlite) {
            sqlite3_exec(m_sqlite, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(m_sqlite);
        }
    }
    HungDatabase(const HungDatabase&) = delete;
    HungDatabase& operator=(const HungDatabase&) = delete;

private:
    std::unique_ptr<StoppedCluster> m_cluster;
    sqlite3* m_sqlite = nullptr;
};

using Clock = std::chrono::steady_clock;

std::string postTarget(const std::string& song)
{
    return std::string(tunalo::protocol::kPostPath) + "?s=" + percentEncode(song);
}

// What arrives on the pipe until it holds `needle` or `wait` passes.
std::string readPipeUntil(int fd, const std::string& needle, std::chrono::milliseconds wait)
{
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (text.find(needle) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        char chunk[65536];
        if (::poll(&entry, 1, 100) > 0) {
            const auto n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            text.append(chunk, static_cast<std::size_t>(n));
        }
    }
    return text;
}

// Lets this test hold `count` descriptors; false when its hard limit is lower and it may not
// raise it (only a privileged process may).
bool allowOwnDescriptors(rlim_t count)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    limit.rlim_cur = std::max(limit.rlim_cur, count);
    limit.rlim_max = std::max(limit.rlim_max, count);
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::size_t occurrences(const std::string& text, const std::string& needle)
{
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

constexpr const char* outOfDescriptors = "running out of file descriptors";
const std::string homePage = "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

TEST_F(Operations, SighupOpensTheLogFileAgainAndOtherwiseChangesNothing)
{
    ASSERT_EQ(::kill(service().pid(), SIGHUP), 0);
    EXPECT_EQ(visitor().title("/"), "Tunalo service") << "without --log a SIGHUP is ignored";
    EXPECT_EQ(service().waitForEnd(100ms), -1);

    const auto log = folder() / "service.log";
    ServiceProcess logging(database(), log, {"--log", log.string()});
    Visitor v(logging.port());
    EXPECT_EQ(v.title("/fb/feed"), "Tunalo feed");
    ASSERT_NE(fileTextOnceItHas(log, " GET /fb/feed 200 ").find(" GET /fb/feed 200 "), std::string::npos);
    std::filesystem::rename(log, folder() / "service.log.1"); // as logrotate does
    ASSERT_EQ(::kill(logging.pid(), SIGHUP), 0);
    // The signal is taken a moment later: ask until a line arrives in the new file.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fileText(log).find(" GET / 200 ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(v.title("/"), "Tunalo service");
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(fileText(log).find(" GET / 200 "), std::string::npos) << "new lines go to a new file";
    EXPECT_NE(fileText(folder() / "service.log.1").find(" GET /fb/feed 200 "), std::string::npos);
    EXPECT_EQ(fileText(log).find(" GET /fb/feed 200 "), std::string::npos);
}

// A reader that stops reading the log must not stop the pages: lines are dropped and counted.
TEST_F(Operations, ALogNobodyReadsHoldsNoPageUp)
{
    ServiceProcess unread(database(), {}, {});
    Visitor v(unread.port());
    int answered = 0;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (answered < 8000 && std::chrono::steady_clock::now() < deadline && v.title("/") == "Tunalo service")
        ++answered;
    EXPECT_EQ(answered, 8000) << "far more lines than the pipe and the log's buffer hold";

    const auto text = readPipeUntil(unread.stderrPipe(), "log lines dropped", 20s);
    EXPECT_NE(text.find("log lines dropped"), std::string::npos) << "the reader learns how many it missed";
}

TEST_F(Operations, AFailureIsLoggedReadably)
{
    auto ann = member("Ann");
    sql(onPostgres() ? "DROP TABLE posts CASCADE" : "DROP TABLE posts");
    const auto answer = ann.get("/fb/update.php?s=Song");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 500);
    const auto log = logTextOnceItHas("GET /fb/update.php failed: ");
    const auto line = log.substr(log.find("GET /fb/update.php failed: "));
    EXPECT_NE(line.find("posts"), std::string::npos) << line;
    EXPECT_EQ(line.find("\\x20"), std::string::npos) << "blanks read as blanks: " << line;
}

// A stop lets every request under way finish: here log-ins that wait for their password hash,
// which keep the two hashing threads busy for a second or so (each hash takes 0.1 to 0.5 s).
TEST_F(Operations, SigtermAnswersEveryRequestUnderWayThenEnds)
{
    member("Ann");
    const auto logins = sendOnEach(port(), rawLogIn("Ann", "correct horse"), 4);
    RawConnection idle(port());
    std::this_thread::sleep_for(200ms); // until the service has read them all
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(service().pid(), SIGTERM), 0);

    int answered = 0;
    for (auto& login : logins) {
        const auto answer = login->receiveUntil("\r\n\r\n", 30s);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 303")) << answer;
        answered += answer.starts_with("HTTP/1.1 303") ? 1 : 0;
    }
    EXPECT_EQ(answered, 4);
    EXPECT_TRUE(idle.closedWithin(5s)) << "a connection between requests is closed";
    const int status = service().waitForEnd(30s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
}

// Anyone can open thousands of connections and leave them idle. Under a descriptor limit of 1024,
// as LimitNOFILE=1024 sets it, 5,000 of them (half kept alive after a page, half never used) make
// the service close the longest-idle ones, so a newcomer is still answered; the log says so once.
TEST_F(Operations, ANewcomerIsAnsweredWhileThousandsOfIdleConnectionsAreHeld)
{
    if (!allowOwnDescriptors(8000))
        GTEST_SKIP() << "the test cannot hold 5,000 connections under this hard descriptor limit";
    const auto log = folder() / "limited.log";
    ServiceProcess limited(database(), log, {}, 1024);
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 5000; ++i) {
        idle.push_back(std::make_unique<RawConnection>(limited.port()));
        if (i % 2 == 0) {
            ASSERT_TRUE(idle.back()->send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        }
    }
    RawConnection newcomer(limited.port());
    ASSERT_TRUE(newcomer.send(homePage));
    const auto answer = newcomer.receive(2s);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer.substr(0, 100);

    EXPECT_TRUE(idle[1]->closedWithin(1s)) << "the longest idle goes first";
    EXPECT_FALSE(idle.back()->closedWithin(0ms)) << "the newest stays";
    const auto text = fileTextOnceItHas(log, outOfDescriptors);
    EXPECT_EQ(occurrences(text, outOfDescriptors), 1u) << text;
    EXPECT_NE(text.find("descriptor limit of 1024"), std::string::npos) << text;
}

// When the descriptors run out while every connection is at work (each in the middle of a
// request), a newcomer still hears at once that it must come back, from the descriptor kept in
// reserve; the requests under way are left alone, and newcomers are served again once they end.
TEST_F(Operations, WithEveryDescriptorAtWorkANewcomerIsTurnedAwayAtOnce)
{
    // As if the database and other servers had taken all but a few: the service's limit is lowered
    // under it to a little more than it holds open.
    const std::filesystem::directory_iterator descriptors("/proc/" + std::to_string(service().pid()) + "/fd");
    const auto held = std::distance(descriptors, std::filesystem::directory_iterator{});
    const rlimit tight{static_cast<rlim_t>(held) + 8, static_cast<rlim_t>(held) + 8};
    ASSERT_EQ(::prlimit(service().pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
    auto atWork = sendOnEach(port(), "GET / HTTP/1.1\r\nHost: x\r\n", 12);

    for (int i = 0; i < 3; ++i) {
        RawConnection newcomer(port());
        ASSERT_TRUE(newcomer.send(homePage));
        const auto answer = newcomer.receive(2s);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 503")) << i << ": " << answer;
        EXPECT_NE(answer.find("Retry-After: 1"), std::string::npos) << answer;
    }
    EXPECT_FALSE(atWork.front()->closedWithin(0ms)) << "a request under way is not cut off";
    const auto log = logTextOnceItHas(outOfDescriptors);
    EXPECT_EQ(occurrences(log, outOfDescriptors), 1u) << log;
    EXPECT_NE(log.find("Too many open files"), std::string::npos) << log;

    atWork.clear();
    EXPECT_EQ(visitor().title("/"), "Tunalo service") << "served again once the requests under way ended";
}

TEST_F(Operations, AHungDatabaseHoldsUpNoPageThatNeedsNoneAndPostsGet503)
{
    auto ann = member("Ann");
    ASSERT_GT(postedId(ann.postSong("Before")), 0);
    auto guest = visitor();
    {
        const HungDatabase hung(onPostgres(), database());
        const auto start = Clock::now();
        const auto first = ann.get(postTarget("During"));
        ASSERT_TRUE(first);
        EXPECT_EQ(first->status, 503);
        EXPECT_EQ(first->header("Retry-After"), "2");
        EXPECT_LT(Clock::now() - start, 10s) << "the database's deadline, not the hang's length";

        // Once the database is known to be down, posts are refused at once (the service asks the
        // database itself, in the background, whether it is back); pages that need none answer.
        for (int i = 0; i < 5; ++i) {
            const auto before = Clock::now();
            const auto post = ann.get(postTarget("During " + std::to_string(i)));
            ASSERT_TRUE(post);
            EXPECT_EQ(post->status, 503);
            EXPECT_LT(Clock::now() - before, 1s) << "post " << i;
            const auto page = Clock::now();
            EXPECT_EQ(guest.title("/"), "Tunalo service");
            EXPECT_EQ(guest.title("/fb/tnlouserhome.php"), "failed");
            EXPECT_LT(Clock::now() - page, 1s);
            std::this_thread::sleep_for(300ms); // past a retry now and then
        }
    }
    long long after = -1;
    const auto deadline = Clock::now() + 20s;
    while (after < 0 && Clock::now() < deadline)
        after = postedId(ann.postSong("After"));
    EXPECT_GT(after, 0) << "posts are confirmed again once the database is back";
    const auto stored = sql("SELECT song FROM posts ORDER BY id");
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "Before"), 1);
}

TEST_F(Operations, SigtermEndsWithinSecondsWhateverTheDatabaseDoes)
{
    auto ann = member("Ann");
    const HungDatabase hung(onPostgres(), database());
    RawConnection posting(port());
    ASSERT_TRUE(posting.send("GET " + postTarget("Stuck") + " HTTP/1.1\r\nHost: x\r\nCookie: " + ann.cookie() +
                             "\r\n\r\n"));
    std::this_thread::sleep_for(200ms);
    const auto start = Clock::now();
    ASSERT_EQ(::kill(service().pid(), SIGTERM), 0);
    const int status = service().waitForEnd(30s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(Clock::now() - start, 8s);
    EXPECT_TRUE(posting.receive(5s).starts_with("HTTP/1.1 503")) << "the post under way is answered, unconfirmed";
}

} // namespace
