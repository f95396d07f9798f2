// Posts per second that one tunalo-service sustains with 8 clients on kept-alive connections
// over loopback, and the latency of a post, while thousands of idle connections are held open, and
// how long a newcomer waits for a page meanwhile. Starts its own service on a free port with a
// fresh database; with DESCRIPTORS, under that limit on its descriptors (as LimitNOFILE sets it).
//   build/bin/tunalo-service-bench [SECONDS] [IDLE] [DESCRIPTORS]
//   (defaults: 10 seconds, 5000 idle connections, the limit this program has)
#include "postload.h"
#include "serviceprocess.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

constexpr int clients = 8;

// A line of /proc/PID/status, such as "VmRSS:   12345 kB".
std::string statusLine(pid_t pid, const std::string& key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(key + ":"))
            return line.substr(line.find_first_not_of(" \t", key.size() + 1));
    return "?";
}

// Connections that asked for one page and stay open, idle, as browsers keep them.
std::vector<std::unique_ptr<RawConnection>> holdIdle(int port, int count)
{
    const std::string request = "GET / HTTP/1.1\r\nHost: bench\r\n\r\n";
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < count; ++i) {
        idle.push_back(std::make_unique<RawConnection>(port));
        idle.back()->send(request);
    }
    for (auto& connection : idle)
        connection->receiveUntil("</html>\n", 20s);
    return idle;
}

// How long each of a few newcomers waits for the home page, in milliseconds, sorted; an answer
// that is not the page counts as the wait until it came.
std::vector<double> newcomerWaits(int port)
{
    std::vector<double> waits;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        RawConnection newcomer(port);
        newcomer.send("GET / HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n");
        const bool served = newcomer.receive(20s).starts_with("HTTP/1.1 200");
        const std::chrono::duration<double, std::milli> waited = std::chrono::steady_clock::now() - start;
        waits.push_back(served ? waited.count() : 20'000);
    }
    std::sort(waits.begin(), waits.end());
    return waits;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int idleCount = argc > 2 ? std::max(0, std::atoi(argv[2])) : 5000;
    const unsigned descriptors = argc > 3 ? static_cast<unsigned>(std::max(0, std::atoi(argv[3]))) : 0;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    TempDir dir;
    ServiceProcess service(dir.path() / "service.db", dir.path() / "service.log", {}, descriptors);
    // One account, a session for each client: sign-ups are limited per address, log-ins are not.
    if (!Visitor(service.port()).signUp("bench", "benchmark password")) {
        std::fprintf(stderr, "could not create an account\n");
        return 1;
    }
    std::vector<std::string> cookies;
    for (int i = 0; i < clients; ++i) {
        Visitor v(service.port());
        if (!v.logIn("bench", "benchmark password")) {
            std::fprintf(stderr, "could not log in\n");
            return 1;
        }
        cookies.push_back(v.cookie());
    }

    const auto rssBefore = statusLine(service.pid(), "VmRSS");
    const auto idle = holdIdle(service.port(), idleCount);
    const auto rssIdle = statusLine(service.pid(), "VmRSS");
    const auto threads = statusLine(service.pid(), "Threads");
    const auto waits = newcomerWaits(service.port());
    const auto run = measurePosts({service.port()}, cookies, clients, std::chrono::seconds(seconds));
    const auto stillOpen =
        std::count_if(idle.begin(), idle.end(), [](const auto& c) { return !c->closedWithin(0ms); });
    if (run.posts == 0) {
        std::fprintf(stderr, "no post succeeded\n");
        return 1;
    }
    std::printf("clients            %d, each on one kept-alive connection\n", clients);
    std::printf("idle connections   %d opened, %ld still open at the end\n", idleCount,
                static_cast<long>(stillOpen));
    std::printf("service memory     %s before them, %s with them (threads: %s)\n", rssBefore.c_str(),
                rssIdle.c_str(), threads.c_str());
    if (descriptors > 0)
        std::printf("descriptor limit   %u\n", descriptors);
    std::printf("a newcomer's page  median %.2f ms, slowest of %zu %.2f ms\n", waits[waits.size() / 2], waits.size(),
                waits.back());
    std::printf("duration           %.1f s\n", run.seconds);
    std::printf("posts              %zu (failed %ld)\n", run.posts, run.failures);
    std::printf("posts per second   %.0f\n", run.perSecond());
    std::printf("latency p50        %.2f ms\n", run.p50);
    std::printf("latency p99        %.2f ms\n", run.p99);
    std::printf("latency max        %.2f ms\n", run.max);
    return 0;
}
