#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace tunalo::service {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// One request on its way through the service. `answer` is called exactly once, from any thread;
// timers that belong to the request run on `executor`, the connection's own strand.
struct Call {
    Request request;
    std::string client; // the peer's address
    asio::any_io_executor executor;
    std::function<void(Response)> answer;
};
using CallPtr = std::shared_ptr<Call>;
using Handler = std::function<void(CallPtr)>;

// An event-driven HTTP/1.1 server: every connection is a chain of asynchronous reads and writes,
// so a thousand idle or slow clients cost memory, not threads. Each request must arrive within
// its limits; one that does not, or that is malformed or ambiguous, gets its refusal and the
// connection is closed, so nothing hidden behind it is ever read as a request of its own.
class HttpServer {
public:
    struct Limits {
        std::size_t headBytes = 16 * 1024; // request line and headers
        std::size_t bodyBytes = 16 * 1024;
        // Paths for which largeBody says so take bodies up to largeBodyBytes (activities that other
        // servers post), every other path bodyBytes.
        std::size_t largeBodyBytes = 256 * 1024;
        std::function<bool(std::string_view path)> largeBody;
        std::chrono::milliseconds headTime{10000}; // from the first byte of a request to its last header
        std::chrono::milliseconds bodyTime{10000};
        std::chrono::milliseconds idleTime{30000}; // between requests on a kept-alive connection
        std::chrono::milliseconds writeTime{10000};
    };

    HttpServer(asio::io_context& io, Limits limits, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens (port 0: a free one); throws std::system_error when the address is taken.
    // No SO_REUSEPORT: a second service cannot share a port with the first.
    void listen(const std::string& host, unsigned short port);
    unsigned short port() const;
    // Stops accepting and closes the connections that wait for a request; every exchange already
    // open (a request on its way in, at work or its answer on its way out) finishes, and then
    // `drained` runs, once, on some thread.
    void stop(std::function<void()> drained);

    struct State; // shared with the connections, which may outlive the server object

private:
    std::shared_ptr<State> m_state;
};

// What every answer carries: no content sniffing, no framing by other sites, no referrer.
void addSecurityHeaders(Response& response);

} // namespace tunalo::service
