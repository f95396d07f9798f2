// tunalo-service: the reference web service the Tunalo desktop program talks to.
#include "options.h"
#include "requestlog.h"
#include "service.h"

#include <sodium.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

using namespace tunalo::service;

namespace {

sigset_t stopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

int run(const Options& options)
{
    const auto path = options.databasePath.empty() ? defaultDatabasePath() : options.databasePath;
    const auto store = openStore(path);
    Service service(*store);
    GuardedServer server(GuardedServer::Limits{});
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_payload_max_length(16 * 1024);
    server.set_keep_alive_max_count(100);
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        logRequest(req.remote_addr, req.method, req.path, res.status, res.body.size());
    });
    service.install(server);

    const int port = server.bindTo(options.host, options.port);
    if (port < 0) {
        std::fprintf(stderr, "tunalo-service: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }

    // SIGINT and SIGTERM stop the server cleanly; a thread of our own waits for them.
    std::thread([&server] {
        const auto signals = stopSignals();
        int signal = 0;
        sigwait(&signals, &signal);
        server.stop();
    }).detach();

    std::fprintf(stderr, "tunalo-service: listening on http://%s:%d, database %s\n", options.host.c_str(),
                 port, withoutPassword(path).c_str());
    const bool ok = server.listen_after_bind();
    std::fprintf(stderr, "tunalo-service: stopped\n");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    // Block the stop signals before any thread starts, so only the waiting thread receives them.
    const auto signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

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
