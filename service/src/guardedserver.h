#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace tunalo::service {

// An HTTP server that reads each request through a stream with a byte budget and a deadline,
// so an endless header block or a request trickled in byte by byte costs one worker a bounded
// time and memory. Such a request is answered with 431 or 408 and the connection closed.
class GuardedServer : public httplib::Server {
public:
    struct Limits {
        std::size_t requestBytes = 32 * 1024;         // request line, headers and body together
        std::chrono::milliseconds requestTime{10000}; // to receive one whole request
    };

    explicit GuardedServer(Limits limits);

    // Binds to host:port (port 0: a free one) with a listen queue long enough for a burst of
    // new connections; the port bound, or -1.
    int bindTo(const std::string& host, int port);

    // While the current thread serves a request that was cut off: 431 when it ran over its byte
    // budget, 408 when it ran out of time; 0 otherwise.
    static int currentRefusal();

private:
    bool process_and_close_socket(socket_t sock) override;

    Limits m_limits;
};

} // namespace tunalo::service
