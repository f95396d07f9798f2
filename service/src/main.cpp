// tunalo-service: the reference web service the Tunalo desktop program talks to.
#include "httpserver.h"
#include "options.h"
#include "service.h"

#include <boost/asio/signal_set.hpp>

#include <sodium.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>
#include <vector>

using namespace tunalo::service;

namespace {

// Threads that serve requests: waiting costs them nothing, but a write to the database holds
// one for the few milliseconds of its sync.
constexpr unsigned serveThreads = 4;

// Every open connection is a descriptor: allow as many as the system lets this user have.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int run(const Options& options)
{
    const auto path = options.databasePath.empty() ? defaultDatabasePath() : options.databasePath;
    asio::io_context io;
    const auto store = openStore(path);
    std::unique_ptr<Service> service; // made once the port is known; no request is served before run()
    HttpServer server(io, HttpServer::Limits{}, [&service](const CallPtr& call) { service->handle(call); });
    try {
        server.listen(options.host, static_cast<unsigned short>(options.port));
    } catch (const boost::system::system_error& e) {
        std::fprintf(stderr, "tunalo-service: cannot listen on %s:%d: %s\n", options.host.c_str(),
                     options.port, e.code().message().c_str());
        return 1;
    }
    const auto listening = listeningAddress(options.host, server.port());
    service = std::make_unique<Service>(*store, options.publicUrl, listening);

    // SIGINT and SIGTERM stop the service; a post is confirmed only after its commit, so
    // whatever is cut short was never confirmed.
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](boost::system::error_code, int) {
        server.stop();
        io.stop();
    });

    std::fprintf(stderr, "tunalo-service: listening on %s, database %s\n", listening.c_str(),
                 withoutPassword(path).c_str());
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < serveThreads; ++i)
        threads.emplace_back([&io] { io.run(); });
    io.run();
    for (auto& thread : threads)
        thread.join();
    std::fprintf(stderr, "tunalo-service: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();
    try {
        const auto options = parseOptions({argv + 1, argv + argc});
        if (options.help) {
            std::cout << usage();
            return 0;
        }
        if (sodium_init() < 0) {
            std::fprintf(stderr, "tunalo-service: libsodium failed to start\n");
            return 1;
        }
        return run(options);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "tunalo-service: %s\n\n%s", e.what(), usage().c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tunalo-service: %s\n", e.what());
        return 1;
    }
}
