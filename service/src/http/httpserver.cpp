#include "http/httpserver.h"

#include "http/requestlog.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tunalo::service {

namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace {
class Connection;
} // namespace

struct HttpServer::State : std::enable_shared_from_this<State> {
    State(asio::io_context& io, Limits limits, Handler handler)
        : io(io), limits(limits), handler(std::move(handler)), acceptor(io), retry(io)
    {
    }
    ~State()
    {
        if (reserve >= 0)
            ::close(reserve);
    }
    void accept();
    void admit(tcp::socket socket);
    void acceptFailed(const beast::error_code& ec);
    void shortOfDescriptors(const std::string& how);
    std::size_t closeLongestIdle(std::size_t count);
    void turnAwayWaiting();
    void closeIdleConnections();
    void exchangeEnded();
    void drainedIfNothingOpen();

    asio::io_context& io;
    const Limits limits;
    const Handler handler;
    tcp::acceptor acceptor;
    asio::steady_timer retry;
    std::atomic<bool> stopping = false;

    std::mutex mutex; // guards the three below and each connection's place on the idle list
    std::unordered_map<Connection*, std::weak_ptr<Connection>> connections;
    std::list<std::weak_ptr<Connection>> idle; // those waiting for a request, the longest waiting first
    std::function<void()> drained;
    // Every connection is a descriptor: how many may be open at once, and how many are.
    std::size_t descriptors = 0;
    std::size_t maxConnections = std::numeric_limits<std::size_t>::max();
    std::atomic<std::size_t> open = 0;
    // Kept on /dev/null, and let go for a moment when the descriptors have run out, so that the
    // newcomers waiting can still be accepted and turned away rather than left to time out. It and
    // the time below belong to the accept handler.
    int reserve = -1;
    std::optional<std::chrono::steady_clock::time_point> lastShortage;
    std::atomic<int> openExchanges = 0;
    std::atomic<bool> drainedOnce = false;
};

namespace {

// Held from the first byte of a request until its answer has gone out: what a stop waits for.
class Exchange {
public:
    explicit Exchange(std::shared_ptr<HttpServer::State> server) : m_server(std::move(server))
    {
        ++m_server->openExchanges;
    }
    ~Exchange() { m_server->exchangeEnded(); }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

private:
    std::shared_ptr<HttpServer::State> m_server;
};

using Parser = http::request_parser<http::string_body>;

// A request head the parser took but that this service will not: a compressed body (inflating
// it is how a small request grows into gigabytes), a body on a method that has none, or framing
// two parties could read differently.
unsigned refusalFor(const Parser& parser)
{
    const auto& request = parser.get();
    // HTTP/1.1 names the host in every request, once; the request line may name it instead.
    const auto hosts = request.count(http::field::host);
    if (hosts > 1 || (hosts == 0 && request.version() >= 11 && request.target().starts_with('/')))
        return 400;
    if (request.count(http::field::expect) > 0 && !beast::iequals(request[http::field::expect], "100-continue"))
        return 417;
    if (request.count(http::field::content_encoding) > 0)
        return 415;
    if (request.count(http::field::content_length) > 1 || request.count(http::field::transfer_encoding) > 1)
        return 400;
    // Only plain "chunked": any other transfer coding is one more way to read a body differently.
    if (request.count(http::field::transfer_encoding) > 0 &&
        !beast::iequals(request[http::field::transfer_encoding], "chunked"))
        return 400;
    const bool hasBody = parser.chunked() || parser.content_length().value_or(0) > 0;
    if (hasBody && request.method() != http::verb::post)
        return 400;
    return 0;
}

std::string pathOf(std::string_view target)
{
    return std::string(target.substr(0, target.find('?')));
}

// A request line may name the whole address, as clients do towards a proxy
// ("GET http://host/fb/feed HTTP/1.1"); the pages see the path and the host it names.
void takeAbsoluteForm(Request& request)
{
    const auto target = request.target();
    const auto scheme = target.find("://");
    if (target.starts_with('/') || scheme == std::string_view::npos ||
        !(beast::iequals(target.substr(0, scheme), "http") || beast::iequals(target.substr(0, scheme), "https")))
        return;
    const auto authority = target.substr(scheme + 3);
    const auto end = authority.find_first_of("/?#");
    const std::string host(authority.substr(0, end));
    std::string rest(end == std::string_view::npos ? std::string_view{} : authority.substr(end));
    if (!rest.starts_with('/'))
        rest.insert(0, "/");
    request.target(rest);
    request.set(http::field::host, host);
}

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, std::shared_ptr<HttpServer::State> server)
        : m_stream(std::move(socket)), m_server(std::move(server))
    {
        ++m_server->open;
        beast::error_code ignored;
        const auto peer = m_stream.socket().remote_endpoint(ignored);
        m_client = ignored ? "-" : peer.address().to_string();
    }

    ~Connection()
    {
        {
            std::lock_guard lock(m_server->mutex);
            m_server->connections.erase(this);
            if (m_idleAt)
                m_server->idle.erase(*m_idleAt);
        }
        --m_server->open;
    }

    // A new connection gets no idle time: its first request is due at once.
    void start()
    {
        {
            std::lock_guard lock(m_server->mutex);
            m_server->connections.emplace(this, weak_from_this());
        }
        waitForNext(limits().headTime);
    }

    // Leaves the server's list of idle connections, when it is on it, for the caller to close
    // it; the caller holds the server's mutex.
    void takeOffIdleList()
    {
        if (m_idleAt)
            m_server->idle.erase(*m_idleAt);
        m_idleAt.reset();
    }

    // On a stop, or to make room: a connection between requests ends now; one in an exchange
    // finishes it first.
    void closeIfIdle()
    {
        asio::dispatch(m_stream.get_executor(), [self = shared_from_this()] {
            if (!self->m_exchange)
                self->m_stream.cancel();
        });
    }

private:
    const HttpServer::Limits& limits() const { return m_server->limits; }

    void waitForNext(std::chrono::milliseconds wait)
    {
        if (m_buffer.size() > 0)
            return readHead();
        m_exchange.reset();
        if (m_server->stopping)
            return; // the connection ends here
        listAsIdle(true);
        m_stream.expires_after(wait);
        m_stream.async_read_some(
            m_buffer.prepare(1024), [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                if (ec)
                    return; // idle too long, the client went, or the service stops
                self->m_buffer.commit(n);
                self->readHead();
            });
    }

    // A connection that waits for a request (kept alive, or new and silent) is on the server's list
    // of idle ones, at the end, until a request begins.
    void listAsIdle(bool idle)
    {
        std::lock_guard lock(m_server->mutex);
        if (!idle)
            return takeOffIdleList();
        if (!m_idleAt)
            m_idleAt = m_server->idle.insert(m_server->idle.end(), weak_from_this());
    }

    void readHead()
    {
        listAsIdle(false);
        if (!m_exchange)
            m_exchange = std::make_unique<Exchange>(m_server);
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(limits().headBytes));
        m_parser->body_limit(limits().largeBody ? limits().largeBodyBytes : limits().bodyBytes);
        m_method = "-";
        m_path = "-";
        m_stream.expires_after(limits().headTime);
        http::async_read_header(
            m_stream, m_buffer, *m_parser,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHead(ec); });
    }

    void onHead(beast::error_code ec)
    {
        if (ec)
            return fail(ec);
        m_method = std::string(m_parser->get().method_string());
        m_path = pathOf(m_parser->get().target());
        m_version = m_parser->get().version();
        if (const auto status = refusalFor(*m_parser))
            return refuse(status);
        takeAbsoluteForm(m_parser->get());
        m_path = pathOf(m_parser->get().target());
        const auto allowed = limits().largeBody && limits().largeBody(m_path) ? limits().largeBodyBytes
                                                                              : limits().bodyBytes;
        if (m_parser->content_length().value_or(0) > allowed)
            return refuse(413);
        m_parser->body_limit(allowed); // what is left for a body that comes in chunks
        if (m_parser->is_done())
            return dispatch();
        m_stream.expires_after(limits().bodyTime);
        // A client that waits for leave to send its body gets it before the body is read.
        if (m_parser->get().count(http::field::expect) > 0 && m_parser->get().version() >= 11) {
            static constexpr std::string_view proceed = "HTTP/1.1 100 Continue\r\n\r\n";
            return asio::async_write(m_stream, asio::buffer(proceed),
                                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                         if (ec)
                                             return self->fail(ec);
                                         self->readBody();
                                     });
        }
        readBody();
    }

    void readBody()
    {
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec)
                                 return self->fail(ec);
                             self->dispatch();
                         });
    }

    void fail(beast::error_code ec)
    {
        if (ec == beast::error::timeout) {
            // The stream has closed the socket already; the log still says why.
            logRequest(m_client, m_method, m_path, 408, 0);
            return;
        }
        if (ec == http::error::end_of_stream || ec == asio::error::eof ||
            ec == asio::error::connection_reset || ec == asio::error::operation_aborted)
            return;
        if (ec == http::error::header_limit)
            return refuse(431);
        if (ec == http::error::body_limit)
            return refuse(413);
        refuse(400);
    }

    void dispatch()
    {
        auto call = std::make_shared<Call>();
        call->request = m_parser->release();
        m_head = call->request.method() == http::verb::head;
        m_keepAlive = call->request.keep_alive();
        m_version = call->request.version();
        call->client = m_client;
        call->executor = m_stream.get_executor();
        auto answered = std::make_shared<std::atomic_flag>();
        call->answer = [self = shared_from_this(), answered](Response response) {
            if (answered->test_and_set())
                return;
            auto executor = self->m_stream.get_executor();
            asio::dispatch(executor, [self = std::move(self), response = std::move(response)]() mutable {
                self->send(std::move(response), self->m_keepAlive);
            });
        };
        try {
            m_server->handler(call);
        } catch (const std::exception& e) {
            logFailure(m_method, m_path, e.what());
            call->answer(plainResponse(500));
        }
    }

    Response plainResponse(unsigned status) const
    {
        Response response{static_cast<http::status>(status), m_version ? m_version : 11};
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() =
            std::to_string(status) + " " + std::string(http::obsolete_reason(response.result())) + "\n";
        return response;
    }

    // Answers and closes: whatever follows a request we refuse is never read as a request.
    void refuse(unsigned status)
    {
        m_head = false;
        send(plainResponse(status), false);
    }

    void send(Response response, bool keepAlive)
    {
        m_response = std::move(response);
        m_response.version(m_version ? m_version : 11);
        m_response.keep_alive(keepAlive && !m_server->stopping);
        addSecurityHeaders(m_response);
        const auto bytes = m_response.body().size();
        if (m_head) {
            m_response.content_length(bytes);
            m_response.body().clear();
        } else {
            m_response.prepare_payload();
        }
        logRequest(m_client, m_method, m_path, m_response.result_int(), bytes);
        m_stream.expires_after(limits().writeTime);
        http::async_write(m_stream, m_response,
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec)
                                  return;
                              if (!self->m_response.keep_alive()) {
                                  self->m_exchange.reset();
                                  return self->closeGracefully();
                              }
                              self->m_response = {};
                              self->waitForNext(self->limits().idleTime);
                          });
    }

    // Reads and drops what the client still sends for a moment, so that it sees the answer
    // instead of a reset caused by unread input.
    void closeGracefully()
    {
        beast::error_code ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_buffer.consume(m_buffer.size());
        m_stream.expires_after(std::chrono::seconds(1));
        drain(0);
    }

    void drain(std::size_t drained)
    {
        if (drained > (1u << 20))
            return;
        m_stream.async_read_some(m_buffer.prepare(4096),
                                 [self = shared_from_this(), drained](beast::error_code ec, std::size_t n) {
                                     if (ec)
                                         return;
                                     self->drain(drained + n);
                                 });
    }

    beast::tcp_stream m_stream;
    std::shared_ptr<HttpServer::State> m_server;
    beast::flat_buffer m_buffer;
    std::optional<Parser> m_parser;
    Response m_response;
    std::string m_client;
    std::string m_method = "-";
    std::string m_path = "-";
    unsigned m_version = 11;
    bool m_head = false;
    bool m_keepAlive = false;
    std::unique_ptr<Exchange> m_exchange; // while a request is open
    // Its place on the server's list of idle connections; guarded by the server's mutex.
    std::optional<std::list<std::weak_ptr<Connection>>::iterator> m_idleAt;
};

// A newcomer this service cannot take: what it sent so far is read (so that the close that
// follows is not a reset, which could swallow the answer) and it is told to come back.
void turnAway(int fd)
{
    static constexpr std::string_view busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                                             "Retry-After: 1\r\nConnection: close\r\n\r\n";
    char ignored[4096];
    for (int reads = 0; reads < 16 && ::recv(fd, ignored, sizeof ignored, MSG_DONTWAIT) > 0; ++reads) {
    }
    [[maybe_unused]] const auto sent = ::send(fd, busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
}

// How many descriptors the process may have open, or none when there is no limit.
std::optional<std::size_t> descriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return static_cast<std::size_t>(limit.rlim_cur);
}

// How many of the longest-idle connections go at once when room is needed, so that a stream of
// newcomers does not cost a look at the list each.
constexpr std::size_t closedAtOnce = 32;

} // namespace

void HttpServer::State::accept()
{
    acceptor.async_accept(asio::make_strand(io),
                          [self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
                              if (self->stopping || !self->acceptor.is_open())
                                  return;
                              if (ec)
                                  return self->acceptFailed(ec);
                              self->admit(std::move(socket));
                              self->accept();
                          });
}

void HttpServer::State::admit(tcp::socket socket)
{
    if (open >= maxConnections) {
        shortOfDescriptors(std::to_string(open) + " connections are open, as many as the descriptor limit of " +
                           std::to_string(descriptors) + " leaves room for");
        // Every connection is at work: this one cannot be served.
        if (closeLongestIdle(closedAtOnce) == 0)
            return turnAway(socket.native_handle());
    }
    beast::error_code ignored;
    // Headers and body leave in one write, and nothing waits for an acknowledgement.
    socket.set_option(tcp::no_delay(true), ignored);
    std::make_shared<Connection>(std::move(socket), shared_from_this())->start();
}

void HttpServer::State::acceptFailed(const beast::error_code& ec)
{
    auto wait = std::chrono::milliseconds(100);
    const bool systemWide = ec.category() == asio::error::get_system_category() && ec.value() == ENFILE;
    if (ec == asio::error::no_descriptors || systemWide) {
        shortOfDescriptors("accepting a connection failed (" + ec.message() + ") with " + std::to_string(open) +
                           " connections open");
        if (closeLongestIdle(closedAtOnce) > 0)
            wait = std::chrono::milliseconds(10); // room enough once they have closed
        else
            turnAwayWaiting();
    }
    // Never straight again: an error that stays would keep a thread spinning on it.
    retry.expires_after(wait);
    retry.async_wait([self = shared_from_this()](beast::error_code waitError) {
        if (!waitError)
            self->accept();
    });
}

// Said once for each time the descriptors run short; a shortage within a minute of the last one
// is the same.
void HttpServer::State::shortOfDescriptors(const std::string& how)
{
    const auto now = std::chrono::steady_clock::now();
    const bool again = lastShortage && now - *lastShortage < std::chrono::minutes(1);
    lastShortage = now;
    if (!again)
        logNote("running out of file descriptors: " + how +
                "; the longest-idle connections are closed to make room, and newcomers are answered 503 while "
                "every connection is at work");
}

std::size_t HttpServer::State::closeLongestIdle(std::size_t count)
{
    std::vector<std::shared_ptr<Connection>> closing;
    {
        std::lock_guard lock(mutex);
        // A connection whose last owner is gone is skipped: its destructor takes it off the list.
        for (auto at = idle.begin(); at != idle.end() && closing.size() < count;) {
            auto connection = (at++)->lock();
            if (!connection)
                continue;
            connection->takeOffIdleList();
            closing.push_back(std::move(connection));
        }
    }
    for (const auto& connection : closing)
        connection->closeIfIdle();
    return closing.size();
}

// With the reserve let go, one descriptor is free: each newcomer waiting takes it in turn, hears
// that it must come back, and gives it back.
void HttpServer::State::turnAwayWaiting()
{
    if (reserve >= 0)
        ::close(reserve);
    for (int turned = 0; turned < 64; ++turned) {
        const int fd = ::accept4(acceptor.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            break;
        turnAway(fd);
        ::close(fd);
    }
    reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

HttpServer::HttpServer(asio::io_context& io, Limits limits, Handler handler)
    : m_state(std::make_shared<State>(io, limits, std::move(handler)))
{
}

HttpServer::~HttpServer()
{
    m_state->stopping = true;
}

void HttpServer::listen(const std::string& host, unsigned short port)
{
    tcp::resolver resolver(m_state->io);
    const auto endpoint =
        resolver.resolve(host, std::to_string(port), tcp::resolver::passive).begin()->endpoint();
    auto& acceptor = m_state->acceptor;
    acceptor.open(endpoint.protocol());
    // Lets a restarted service bind while old connections linger in TIME_WAIT; unlike
    // SO_REUSEPORT it never lets two listeners share the port.
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
    // Connections may take the descriptors but for a part kept for the database, the log and the
    // requests to other servers.
    if (const auto descriptors = descriptorLimit()) {
        m_state->descriptors = *descriptors;
        m_state->maxConnections = *descriptors - std::min<std::size_t>(256, *descriptors / 4);
    }
    m_state->reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    m_state->accept();
}

unsigned short HttpServer::port() const
{
    return m_state->acceptor.local_endpoint().port();
}

void HttpServer::State::closeIdleConnections()
{
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard lock(mutex);
        for (const auto& [raw, weak] : connections)
            if (auto connection = weak.lock())
                open.push_back(std::move(connection));
    }
    for (const auto& connection : open)
        connection->closeIfIdle();
}

void HttpServer::State::exchangeEnded()
{
    if (--openExchanges == 0 && stopping)
        drainedIfNothingOpen();
}

void HttpServer::State::drainedIfNothingOpen()
{
    if (openExchanges > 0 || drainedOnce.exchange(true))
        return;
    std::function<void()> done;
    {
        std::lock_guard lock(mutex);
        done = std::move(drained);
    }
    if (done)
        done();
}

void HttpServer::stop(std::function<void()> drained)
{
    asio::post(m_state->io, [state = m_state, drained = std::move(drained)]() mutable {
        {
            std::lock_guard lock(state->mutex);
            state->drained = std::move(drained);
        }
        state->stopping = true;
        beast::error_code ignored;
        state->acceptor.close(ignored);
        state->retry.cancel();
        state->closeIdleConnections();
        state->drainedIfNothingOpen();
    });
}

void addSecurityHeaders(Response& response)
{
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; script-src 'self'; connect-src 'self'; "
                 "form-action 'self'; "
                 "frame-ancestors 'none'; base-uri 'none'");
    response.set(http::field::x_frame_options, "DENY");
    response.set("Referrer-Policy", "no-referrer");
}

} // namespace tunalo::service
