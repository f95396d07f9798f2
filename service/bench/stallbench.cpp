// Pages and posts while the database is hung: a service on a fresh database of the cluster named
// by TUNALO_TEST_POSTGRES, whose server processes are stopped with SIGSTOP for SECONDS (found
// through TUNALO_TEST_POSTGRES_DATA; scripts/postgres.sh sets both). All along one client asks for
// "/", another for the home page without a session, a third posts, each in turn, and the latency
// of each answer is kept. Afterwards: how long until a post is confirmed again.
//   source scripts/postgres.sh; start_private_postgres "$(mktemp -d)"
//   build/bin/tunalo-service-stallbench [SECONDS]      (default 30)
#include "scratchdatabase.h"
#include "serviceprocess.h"
#include "serviceprotocol.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace tunalo::service::testkit;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    std::vector<double> ms;
    std::map<int, int> statuses;
};

void report(const char* what, Figures figures)
{
    auto& all = figures.ms;
    if (all.empty())
        return (void)std::printf("%-30s no answers\n", what);
    std::sort(all.begin(), all.end());
    const auto at = [&](double q) { return all[std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()))]; };
    std::printf("%-30s %6zu answers  median %7.2f ms  p99 %7.2f ms  max %7.2f ms  statuses:", what, all.size(),
                at(0.5), at(0.99), all.back());
    for (const auto& [status, count] : figures.statuses)
        std::printf(" %d x%d", status, count);
    std::printf("\n");
}

Figures askUntil(const std::atomic<bool>& running, int port, const std::string& target, const std::string& cookie)
{
    Figures figures;
    Visitor v(port);
    v.cookie() = cookie;
    while (running) {
        const auto start = Clock::now();
        const auto answer = v.get(target);
        figures.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ++figures.statuses[answer ? answer->status : 0];
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::stoi(argv[1]) : 30;
    if (testCluster().empty()) {
        std::fprintf(stderr, "tunalo-service-stallbench: TUNALO_TEST_POSTGRES names no cluster\n");
        return 2;
    }
    TempDir dir;
    ScratchDatabase scratch(testCluster());
    ServiceProcess service(scratch.address(), dir.path() / "service.log");
    Visitor ann(service.port());
    if (!ann.signUp("Ann", "correct horse"))
        return 1;
    const std::string post = std::string(tunalo::protocol::kPostPath) + "?s=Stalled";

    std::atomic<bool> running = true;
    Figures root, home, posts;
    {
        const StoppedCluster stopped;
        std::thread a([&] { root = askUntil(running, service.port(), "/", {}); });
        std::thread b([&] { home = askUntil(running, service.port(), std::string(tunalo::protocol::kHomePath), {}); });
        std::thread c([&] { posts = askUntil(running, service.port(), post, ann.cookie()); });
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        running = false;
        a.join();
        b.join();
        c.join();
    }
    const auto resumed = Clock::now();
    while (postedId(ann.postSong("Back")) < 0 && Clock::now() - resumed < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::printf("database stopped for %d s:\n", seconds);
    report("GET /", root);
    report("GET home page, no session", home);
    const double first = posts.ms.empty() ? 0 : posts.ms.front();
    report("GET update.php (a post)", posts);
    std::printf("first post after the stop: %.0f ms; a post confirmed %.0f ms after the server resumed\n", first,
                std::chrono::duration<double, std::milli>(Clock::now() - resumed).count());
    return 0;
}
