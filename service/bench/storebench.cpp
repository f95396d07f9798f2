// Posts per second and latency with one and with two service instances, on SQLite and on
// PostgreSQL: 8 keep-alive clients over loopback, each spreading its posts over the instances.
// Every configuration starts its own services on a fresh database.
//   build/bin/tunalo-service-storebench SECONDS POSTGRES-ADDRESS
// bench/run-service-stores starts a private PostgreSQL cluster and runs it.
#include "postload.h"
#include "scratchdatabase.h"
#include "serviceprocess.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace tunalo::service::testkit;

namespace {

constexpr int clients = 8;
constexpr int accounts = 4; // sign-ups are limited per client address; two clients share each

bool measure(const char* store, const std::string& database, int instances, std::chrono::seconds duration,
             const TempDir& dir)
{
    std::vector<std::unique_ptr<ServiceProcess>> services;
    std::vector<int> ports;
    for (int i = 0; i < instances; ++i) {
        services.push_back(std::make_unique<ServiceProcess>(
            database, dir.path() / (std::string(store) + std::to_string(instances) + "-" + std::to_string(i) +
                                    ".log")));
        ports.push_back(services.back()->port());
    }
    std::vector<std::string> cookies;
    for (int i = 0; i < accounts; ++i) {
        Visitor v(ports[0]);
        if (!v.signUp("bench" + std::to_string(i), "benchmark password")) {
            std::fprintf(stderr, "could not create an account on %s\n", store);
            return false;
        }
        cookies.push_back(v.cookie());
    }
    const auto figures = measurePosts(ports, cookies, clients, duration);
    std::printf("%-11s %9d %9.0f %8.2f %8.2f %8.2f %7ld\n", store, instances, figures.perSecond(),
                figures.p50, figures.p99, figures.max, figures.failures);
    return figures.posts > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SECONDS POSTGRES-ADDRESS\n", argv[0]);
        return 2;
    }
    const std::chrono::seconds duration(std::max(1, std::atoi(argv[1])));
    const std::string cluster = argv[2];
    std::printf("%d keep-alive clients, %lld s per row; latencies in ms\n", clients,
                static_cast<long long>(duration.count()));
    std::printf("%-11s %9s %9s %8s %8s %8s %7s\n", "store", "instances", "posts/s", "p50", "p99", "max",
                "failed");
    bool ok = true;
    for (const int instances : {1, 2}) {
        TempDir dir;
        ok = measure("SQLite", (dir.path() / "service.db").string(), instances, duration, dir) && ok;
        ScratchDatabase scratch(cluster);
        ok = measure("PostgreSQL", scratch.address(), instances, duration, dir) && ok;
    }
    return ok ? 0 : 1;
}
