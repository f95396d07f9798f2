#include "postload.h"

#include "serviceprocess.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace tunalo::service::testkit {

using Clock = std::chrono::steady_clock;

namespace {

std::vector<double> postUntil(const std::atomic<bool>& running, const std::vector<int>& ports,
                              const std::string& cookie, std::atomic<long>& failures)
{
    std::vector<Visitor> instances;
    for (const int port : ports) {
        instances.emplace_back(port);
        instances.back().cookie() = cookie;
    }
    std::vector<double> latencies;
    std::string previous;
    for (std::size_t n = 0; running; ++n) {
        const auto start = Clock::now();
        const auto title =
            instances[n % instances.size()].postSong("Bench Artist - Song " + std::to_string(n), previous);
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        const auto id = postedId(title);
        if (id < 0) {
            ++failures;
            continue;
        }
        previous = std::to_string(id);
        latencies.push_back(took.count());
    }
    return latencies;
}

} // namespace

PostFigures measurePosts(const std::vector<int>& ports, const std::vector<std::string>& cookies, int clients,
                         std::chrono::seconds duration)
{
    std::atomic<bool> running = true;
    std::atomic<long> failures = 0;
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (std::size_t i = 0; i < latencies.size(); ++i)
        threads.emplace_back(
            [&, i] { latencies[i] = postUntil(running, ports, cookies[i % cookies.size()], failures); });
    std::this_thread::sleep_for(duration);
    running = false;
    for (auto& thread : threads)
        thread.join();

    PostFigures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.failures = failures;
    std::vector<double> all;
    for (const auto& some : latencies)
        all.insert(all.end(), some.begin(), some.end());
    figures.posts = all.size();
    if (all.empty())
        return figures;
    std::sort(all.begin(), all.end());
    const auto at = [&](double q) {
        return all[std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()))];
    };
    figures.p50 = at(0.50);
    figures.p99 = at(0.99);
    figures.max = all.back();
    return figures;
}

} // namespace tunalo::service::testkit
