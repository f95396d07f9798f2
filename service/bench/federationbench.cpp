// What followers cost a post: the answer time of a post by a person with 1,000 followers on 100
// servers beside the same post by a person with none, on one service (SQLite, loopback), and how
// long until every server has the post. The servers are stand-ins on loopback, each with a shared
// inbox, so the service sends one request per server.
//   build/bin/tunalo-service-fedbench [SERVERS] [FOLLOWERS PER SERVER] [POSTS]   (100 10 30)
#include "elsewhere.h"
#include "http/requestlog.h"
#include "serviceprocess.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

using namespace tunalo::service;
using namespace tunalo::service::testkit;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// prefix and n, appended (GCC 12 warns falsely about a literal + std::string here).
std::string numbered(std::string prefix, int n)
{
    prefix += std::to_string(n);
    return prefix;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string machine()
{
    utsname name{};
    ::uname(&name);
    std::ifstream cpu("/proc/cpuinfo");
    std::string model = "?";
    for (std::string line; std::getline(cpu, line);)
        if (line.starts_with("model name")) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return std::string(name.nodename) + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, " + model;
}

// The stand-in servers' request lines go nowhere while it lives.
struct QuietLog {
    QuietLog() { startLog("/dev/null"); }
    ~QuietLog() { stopLog(); }
    QuietLog(const QuietLog&) = delete;
    QuietLog& operator=(const QuietLog&) = delete;
};

// The time a post takes to be confirmed, in milliseconds.
double timedPost(Visitor& visitor, const std::string& song)
{
    const auto start = Clock::now();
    const auto title = visitor.postSong(song);
    const auto took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (postedId(title) < 0)
        std::fprintf(stderr, "post failed: %s\n", title.c_str());
    return took;
}

std::size_t createsAt(Elsewhere& server)
{
    std::size_t count = 0;
    for (const auto& arrival : server.arrivals())
        count += arrival.activity.value("type", "") == "Create";
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    const int serverCount = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int perServer = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const int posts = argc > 3 ? std::max(1, std::atoi(argv[3])) : 30;

    const QuietLog quiet;
    TempDir dir;
    const int port = freePort();
    const auto site = "http://127.0.0.1:" + std::to_string(port);
    ServiceProcess service((dir.path() / "service.db").string(), dir.path() / "service.log",
                           {"--listen", "127.0.0.1:" + std::to_string(port), "--public-url", site,
                            "--allow-private-peers"});
    Visitor ann(port), solo(port);
    if (!ann.signUp("ann", "correct horse") || !solo.signUp("solo", "correct horse")) {
        std::fprintf(stderr, "cannot sign up\n");
        return 1;
    }

    std::printf("machine: %s\n", machine().c_str());
    std::printf("following: %d servers x %d followers ...\n", serverCount, perServer);
    std::fflush(stdout);
    const auto key = makeKeyPair(); // one for every stand-in account: making 1,000 would take long
    std::vector<std::unique_ptr<Elsewhere>> servers;
    // Each follow's answer waits for its follower's key, fetched signed by the service's own key.
    std::vector<double> follows;
    for (int s = 0; s < serverCount; ++s) {
        servers.push_back(std::make_unique<Elsewhere>(true, key));
        for (int f = 0; f < perServer; ++f) {
            const auto name = numbered("f", f);
            const auto body = servers.back()->follow(name, site + "/fb/u/ann").dump();
            const auto start = Clock::now();
            const auto answer = Visitor(port).send(
                "POST", "/fb/inbox", servers.back()->signedBy(name, http::verb::post, "/fb/inbox", body, port), body);
            follows.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (!answer || answer->status != 202) {
                std::fprintf(stderr, "a follow was refused: %d\n", answer ? answer->status : 0);
                return 1;
            }
        }
    }
    std::printf("a follow's answer, its key fetched: median %.2f ms\n", median(follows));

    // Each post's answer time, with and without followers taking turns, then how long until all
    // servers have the followed person's post.
    std::vector<double> alone, followed, spread;
    for (int i = 0; i < posts; ++i) {
        alone.push_back(timedPost(solo, numbered("Solo - Song ", i)));
        const auto start = Clock::now();
        followed.push_back(timedPost(ann, numbered("Ann - Song ", i)));
        for (auto& server : servers)
            server->arrivals(static_cast<std::size_t>(perServer) + 1 + static_cast<std::size_t>(i), 30s);
        spread.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::size_t received = 0;
    for (auto& server : servers)
        received += createsAt(*server);

    std::printf("posts: %d each; answer median: %.2f ms with no followers, %.2f ms with %d followers\n", posts,
                median(alone), median(followed), serverCount * perServer);
    std::printf("ratio (followed / alone): %.2f\n", median(followed) / median(alone));
    std::printf("until every server has the post: median %.1f ms\n", median(spread));
    std::printf("notes received: %zu of %d (%d followers each)\n", received, serverCount * posts, perServer);
    return received == static_cast<std::size_t>(serverCount * posts) ? 0 : 1;
}
