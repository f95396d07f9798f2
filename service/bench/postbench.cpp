// Posts per second that one tunalo-service sustains with 8 concurrent clients over loopback,
// and the latency of a post. Starts its own service on a free port with a fresh database.
//   build/bin/tunalo-service-bench [SECONDS]     (default 10)
#include "serviceprocess.h"
#include "serviceprotocol.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace tunalo::service::testkit;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    constexpr int clients = 8;
    TempDir dir;
    ServiceProcess service(dir.path() / "service.db", dir.path() / "service.log");

    std::vector<std::string> cookies;
    for (int i = 0; i < clients; ++i) {
        Visitor v(service.port());
        if (!v.signUp("bench" + std::to_string(i), "benchmark password")) {
            std::fprintf(stderr, "could not create an account\n");
            return 1;
        }
        cookies.push_back(v.cookie());
    }

    std::atomic<bool> running = true;
    std::atomic<long> failures = 0;
    std::vector<std::vector<double>> latencies(clients);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            Visitor v(service.port());
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
    const std::chrono::duration<double> elapsed = Clock::now() - start;

    std::vector<double> all;
    for (const auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    if (all.empty()) {
        std::fprintf(stderr, "no post succeeded\n");
        return 1;
    }
    std::sort(all.begin(), all.end());
    const auto at = [&](double q) {
        return all[std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()))];
    };
    std::printf("clients            %d (a new connection for every post)\n", clients);
    std::printf("duration           %.1f s\n", elapsed.count());
    std::printf("posts              %zu (failed %ld)\n", all.size(), failures.load());
    std::printf("posts per second   %.0f\n", static_cast<double>(all.size()) / elapsed.count());
    std::printf("latency p50        %.2f ms\n", at(0.50));
    std::printf("latency p99        %.2f ms\n", at(0.99));
    std::printf("latency max        %.2f ms\n", all.back());
    return 0;
}
