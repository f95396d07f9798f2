// tunalo-service: the reference web service the Tunalo desktop program talks to.
#include "base/clock.h"
#include "http/httpserver.h"
#include "http/requestlog.h"
#include "options.h"
#include "service.h"

#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <sodium.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>
#include <vector>

using namespace tunalo::service;

namespace {

// Threads that serve requests; they never wait for the database or a password hash, which have
// threads of their own.
constexpr unsigned serveThreads = 4;

// How long a stop lets the exchanges already open finish.
constexpr std::chrono::seconds drainTime{5};

// Every open connection is a descriptor: allow as many as the system lets this user have.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// SIGINT and SIGTERM stop the service: it stops accepting, lets every open exchange finish (a
// post is confirmed only after its commit, so whatever a late stop cuts short was never
// confirmed) and then ends. SIGHUP opens the log file again.
void handleSignals(asio::signal_set& signals, asio::io_context& io, HttpServer& server, Store& store,
                   asio::steady_timer& deadline)
{
    signals.async_wait([&](boost::system::error_code ec, int signal) {
        if (ec)
            return;
        if (signal == SIGHUP) {
            reopenLog();
            return handleSignals(signals, io, server, store, deadline);
        }
        logNote("stopping: finishing the requests under way");
        server.stop([&io] { io.stop(); });
        deadline.expires_after(drainTime);
        deadline.async_wait([&io, &store](boost::system::error_code waitError) {
            if (!waitError) {
                logNote("stopping: requests still under way are cut off");
                store.abandonWaits();
                io.stop();
            }
        });
    });
}

int serve(const Options& options, const std::string& path)
{
    const SystemClock clock;
    asio::io_context io;
    const auto store = openStore(path);
    std::unique_ptr<Service> service; // made once the port is known; no request is served before run()
    HttpServer::Limits limits;
    limits.largeBody = &Service::takesActivities;
    HttpServer server(io, limits, [&service](const CallPtr& call) { service->handle(call); });
    try {
        server.listen(options.host, static_cast<unsigned short>(options.port));
    } catch (const boost::system::system_error& e) {
        logNote("cannot listen on " + options.host + ":" + std::to_string(options.port) + ": " +
                e.code().message());
        return 1;
    }
    const auto listening = listeningAddress(options.host, server.port());
    service = std::make_unique<Service>(*store, clock, options.publicUrl, listening, options.allowPrivatePeers);
    if (!service->federates())
        logNote("federation is off: without --public-url the service has no address that other servers "
                "could reach its people at");

    asio::signal_set signals(io, SIGINT, SIGTERM, SIGHUP);
    asio::steady_timer deadline(io);
    handleSignals(signals, io, server, *store, deadline);

    logNote("listening on " + listening + ", database " + withoutPassword(path));
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < serveThreads; ++i)
        threads.emplace_back([&io] { io.run(); });
    io.run();
    for (auto& thread : threads)
        thread.join();
    // No request is left to answer: the database threads need not wait for the database either.
    store->abandonWaits();
    service.reset();
    logNote("stopped");
    return 0;
}

int run(const Options& options)
{
    const auto path = options.databasePath.empty() ? defaultDatabasePath() : options.databasePath;
    startLog(options.logFile);
    int status = 1;
    try {
        status = serve(options, path);
    } catch (const std::exception& e) {
        logNote(e.what());
    }
    stopLog();
    return status;
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
