#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tunalo::service::testkit {

// What a run of posts measured: latencies of the confirmed posts in milliseconds.
struct PostFigures {
    std::size_t posts = 0;
    long failures = 0;
    double seconds = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    double perSecond() const { return seconds > 0 ? static_cast<double>(posts) / seconds : 0; }
};

// `clients` keep-alive clients post as fast as the service answers for `duration`, like the
// program with automatic deletion on (each post removes the client's one before). Client i posts
// under cookies[i % cookies.size()] and spreads its posts over the instances at `ports` in turn,
// as a proxy in front of them would.
PostFigures measurePosts(const std::vector<int>& ports, const std::vector<std::string>& cookies, int clients,
                         std::chrono::seconds duration);

} // namespace tunalo::service::testkit
