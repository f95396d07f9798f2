// Posts per second that one tunalo-service sustains with 8 clients on kept-alive connections
// over loopback, and the latency of a post, while thousands of idle connections are held open.
// Starts its own service on a free port with a fresh database.
//   build/bin/tunalo-service-bench [SECONDS] [IDLE]     (defaults: 10 seconds, 5000 idle connections)
#include "serviceprocess.h"
#include "serviceprotocol.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace tunalo::service::testkit;
using Clock = std::chrono::steady_clock;
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

struct Run {
    std::vector<double> latencies; // milliseconds, sorted
    long failures = 0;
    double seconds = 0;
};

Run postFor(int port, const std::vector<std::string>& cookies, int seconds)
{
    std::atomic<bool> running = true;
    std::atomic<long> failures = 0;
    std::vector<std::vector<double>> latencies(clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            Visitor v(port);
            v.cookie() = cookies[static_cast<std::size_t>(i)];
            std::string previous;
            for (long n = 0; running; ++n) {
                const auto start = Clock::now();
                const auto title = v.postSong("Bench Artist - Song " + std::to_string(n), previous);
                const std::chrono::duration<double, std::milli> took = Clock::now() - start;
                if (!title.starts_with(tunalo::protocol::kPostedTitlePrefix)) {
                    ++failures;
                    continue;
                }
                // Like the program with automatic deletion on: each post removes the one before.
                previous = title.substr(tunalo::protocol::kPostedTitlePrefix.size());
                latencies[static_cast<std::size_t>(i)].push_back(took.count());
            }
        });
    }
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    running = false;
    for (auto& t : threads)
        t.join();
    Run run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.failures = failures;
    for (const auto& l : latencies)
        run.latencies.insert(run.latencies.end(), l.begin(), l.end());
    std::sort(run.latencies.begin(), run.latencies.end());
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int idleCount = argc > 2 ? std::max(0, std::atoi(argv[2])) : 5000;
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    TempDir dir;
    ServiceProcess service(dir.path() / "service.db", dir.path() / "service.log");
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
    const auto run = postFor(service.port(), cookies, seconds);
    const auto stillOpen =
        std::count_if(idle.begin(), idle.end(), [](const auto& c) { return !c->closedWithin(0ms); });

    if (run.latencies.empty()) {
        std::fprintf(stderr, "no post succeeded\n");
        return 1;
    }
    const auto at = [&](double q) {
        return run.latencies[std::min(run.latencies.size() - 1,
                                      static_cast<std::size_t>(q * run.latencies.size()))];
    };
    std::printf("clients            %d, each on one kept-alive connection\n", clients);
    std::printf("idle connections   %d opened, %ld still open at the end\n", idleCount,
                static_cast<long>(stillOpen));
    std::printf("service memory     %s before them, %s with them (threads: %s)\n", rssBefore.c_str(),
                rssIdle.c_str(), threads.c_str());
    std::printf("duration           %.1f s\n", run.seconds);
    std::printf("posts              %zu (failed %ld)\n", run.latencies.size(), run.failures);
    std::printf("posts per second   %.0f\n", static_cast<double>(run.latencies.size()) / run.seconds);
    std::printf("latency p50        %.2f ms\n", at(0.50));
    std::printf("latency p99        %.2f ms\n", at(0.99));
    std::printf("latency max        %.2f ms\n", run.latencies.back());
    return 0;
}
