#include "federation/peerclient.h"

#include "base/text.h"
#include "federation/peeraddress.h"
#include "http/requestlog.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace tunalo::service {

namespace beast = boost::beast;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;

namespace {

#ifdef TUNALO_SERVICE_VERSION
constexpr const char* userAgent = "Tunalo/" TUNALO_SERVICE_VERSION;
#else
constexpr const char* userAgent = "Tunalo/1.0";
#endif

// A server's answer head this long is no answer a peer needs to give.
constexpr std::uint32_t headBytes = 16 * 1024;

// A header's value as a number that is not negative; none when it is missing or anything else.
template <class Message> std::optional<std::int64_t> headerNumber(const Message& message, std::string_view name)
{
    const auto it = message.find(name);
    if (it == message.end())
        return std::nullopt;
    const auto value = integerIn(it->value());
    if (!value || *value < 0)
        return std::nullopt;
    return value;
}

// An ISO 8601 time in UTC as Mastodon writes it ("2026-12-11T07:30:00.000Z"), fractions ignored.
template <class Message> std::optional<std::int64_t> headerTime(const Message& message, std::string_view name)
{
    const auto it = message.find(name);
    if (it == message.end())
        return std::nullopt;
    const std::string text(it->value());
    std::tm parts{};
    char separator = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &separator, &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 7 ||
        (separator != 'T' && separator != ' '))
        return std::nullopt;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return static_cast<std::int64_t>(timegm(&parts));
}

bool isRedirect(unsigned status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

PeerAnswer failure(std::string error)
{
    PeerAnswer answer;
    answer.error = std::move(error);
    return answer;
}

// What a caller's done throws stops at the client: its thread serves everybody else's requests.
void deliver(const std::function<void(PeerAnswer)>& done, PeerAnswer answer)
{
    try {
        done(std::move(answer));
    } catch (const std::exception& e) {
        logFailure("PEER", "-", e.what());
    }
}

// Whether a failed handshake failed on the server's certificate (its chain or its name).
bool certificateRefused(const beast::error_code& ec, SSL* ssl)
{
    if (SSL_get_verify_result(ssl) != X509_V_OK)
        return true;
    return ec.category() == asio::error::get_ssl_category() &&
           ERR_GET_REASON(static_cast<unsigned long>(ec.value())) == SSL_R_CERTIFICATE_VERIFY_FAILED;
}

std::string describe(const beast::error_code& ec)
{
    if (ec == asio::error::connection_refused)
        return "connection refused";
    if (ec == asio::error::host_not_found || ec == asio::error::host_not_found_try_again ||
        ec == asio::error::no_data)
        return "name not found";
    if (ec == http::error::body_limit || ec == http::error::header_limit ||
        ec == http::error::buffer_overflow)
        return "too large";
    return ec.message();
}

class Exchange;

} // namespace

struct PeerClient::State {
    State(Limits limits, bool allowPrivatePeers)
        : limits(limits), allowPrivatePeers(allowPrivatePeers), work(asio::make_work_guard(io)),
          tls(ssl::context::tls_client)
    {
        tls.set_default_verify_paths();
        tls.set_verify_mode(ssl::verify_peer);
        SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION);
    }

    // Everything below runs on the client's thread only.
    void admit(const std::shared_ptr<Exchange>& exchange);
    void release(Exchange& exchange);
    void stopAll();

    const Limits limits;
    const bool allowPrivatePeers;
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work;
    ssl::context tls;
    std::thread thread;

    struct Host {
        std::size_t running = 0;
        std::deque<std::shared_ptr<Exchange>> waiting;
    };
    std::unordered_map<std::string, Host> hosts;
    std::unordered_set<std::shared_ptr<Exchange>> running;
    bool stopping = false;
};

namespace {

// One request from its start to its answer: resolve, connect (trying each address the name
// has), shake hands, write, read, and again for each redirect followed. One timer holds both
// limits; when it fires it closes whatever is open, and the operation that was waiting ends with
// the time-out.
class Exchange : public std::enable_shared_from_this<Exchange> {
public:
    Exchange(PeerClient::State& client, PeerRequest request, PeerUrl url, std::function<void(PeerAnswer)> done)
        : m_client(client), m_request(std::move(request)), m_url(std::move(url)), m_done(std::move(done)),
          m_hostKey(m_url.key()), m_resolver(client.io), m_timer(client.io)
    {
    }

    const std::string& hostKey() const { return m_hostKey; }

    // Called when the host has a place for it: the answer's clock starts now, not while it waited.
    void start()
    {
        m_answerBy = std::chrono::steady_clock::now() + m_client.limits.answerTime;
        connect();
    }

    // Ends the exchange with this answer unless it has one already; runs done once.
    void finish(PeerAnswer answer)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_timer.cancel();
        m_resolver.cancel();
        closeConnection();
        auto done = std::move(m_done);
        auto self = shared_from_this(); // release may drop the last other owner
        m_client.release(*this);
        deliver(done, std::move(answer));
    }

private:
    void fail(const beast::error_code& ec)
    {
        if (m_timedOut)
            return finish(failure("time-out"));
        finish(failure(describe(ec)));
    }

    // A deadline that fired just as it was moved must not count: each setting has its number.
    void armTimer(std::chrono::steady_clock::time_point at)
    {
        m_timer.expires_at(at);
        m_timer.async_wait([self = shared_from_this(), setting = ++m_timerSetting](beast::error_code ec) {
            if (ec || self->m_finished || setting != self->m_timerSetting)
                return;
            self->m_timedOut = true;
            self->m_resolver.cancel();
            self->closeConnection();
        });
    }

    void closeConnection()
    {
        if (!m_stream)
            return;
        beast::error_code ignored;
        m_stream->lowest_layer().close(ignored);
    }

    void connect()
    {
        armTimer(std::min(m_answerBy, std::chrono::steady_clock::now() + m_client.limits.connectTime));
        m_resolver.async_resolve(
            m_url.host, std::to_string(m_url.port), tcp::resolver::numeric_service,
            [self = shared_from_this()](beast::error_code ec, tcp::resolver::results_type found) {
                if (self->m_finished)
                    return;
                if (ec)
                    return self->fail(ec);
                self->m_addresses.assign(found.begin(), found.end());
                self->m_nextAddress = 0;
                self->m_refusedPrivate = false;
                self->m_lastError = {};
                self->tryNextAddress();
            });
    }

    // The address is judged right before the connection to it: the one judged is the one reached.
    void tryNextAddress()
    {
        while (m_nextAddress < m_addresses.size()) {
            const auto endpoint = m_addresses[m_nextAddress++].endpoint();
            if (!m_client.allowPrivatePeers && !isPublicAddress(endpoint.address())) {
                m_refusedPrivate = true;
                continue;
            }
            m_stream.emplace(m_client.io, m_client.tls);
            m_stream->next_layer().async_connect(endpoint, [self = shared_from_this()](beast::error_code ec) {
                if (self->m_finished)
                    return;
                if (self->m_timedOut)
                    return self->fail(ec);
                if (ec) {
                    self->m_lastError = ec;
                    return self->tryNextAddress();
                }
                self->connected();
            });
            return;
        }
        if (m_lastError)
            return fail(m_lastError);
        finish(failure(m_refusedPrivate ? "private address" : "name not found"));
    }

    void connected()
    {
        beast::error_code ignored;
        m_stream->next_layer().set_option(tcp::no_delay(true), ignored);
        if (!m_url.tls)
            return handshaken();
        auto* ssl = m_stream->native_handle();
        // An address has no name to send; a name goes out for the server to choose its certificate.
        boost::system::error_code notAddress;
        asio::ip::make_address(m_url.host, notAddress);
        if (notAddress && SSL_set_tlsext_host_name(ssl, m_url.host.c_str()) != 1)
            return finish(failure("bad address"));
        m_stream->set_verify_callback(ssl::host_name_verification(m_url.host));
        m_stream->async_handshake(
            ssl::stream_base::client, [self = shared_from_this()](beast::error_code ec) {
                if (self->m_finished)
                    return;
                if (ec && !self->m_timedOut && certificateRefused(ec, self->m_stream->native_handle()))
                    return self->finish(failure("certificate refused"));
                if (ec)
                    return self->fail(ec);
                self->handshaken();
            });
    }

    // The completion of a step of the exchange: an error ends it, else the next step follows.
    auto then(void (Exchange::*next)())
    {
        return [self = shared_from_this(), next](beast::error_code ec, std::size_t) {
            if (self->m_finished)
                return;
            if (ec)
                return self->fail(ec);
            ((*self).*next)();
        };
    }

    // Both kinds of connection speak HTTP the same way; only the stream differs.
    template <class Step> void onStream(Step step)
    {
        if (m_url.tls)
            step(*m_stream);
        else
            step(m_stream->next_layer());
    }

    Request outgoing() const
    {
        Request request{m_request.method, m_url.target, 11};
        request.set(http::field::host, m_url.hostHeader());
        request.set(http::field::user_agent, userAgent);
        for (const auto& [name, value] : m_request.headers)
            request.set(name, value);
        request.keep_alive(false); // one connection per exchange: nothing is reused
        request.body() = m_request.body;
        request.prepare_payload();
        return request;
    }

    void handshaken()
    {
        armTimer(m_answerBy);
        m_outgoing = outgoing();
        try {
            if (m_request.sign)
                m_request.sign(m_outgoing);
        } catch (const std::exception& e) {
            return finish(failure(e.what())); // a request that cannot be signed is not sent
        }
        onStream(
            [this](auto& stream) { http::async_write(stream, m_outgoing, then(&Exchange::readAnswer)); });
    }

    void readAnswer()
    {
        m_parser.emplace();
        m_parser->header_limit(headBytes);
        m_parser->body_limit(m_client.limits.bodyBytes);
        if (m_request.method == http::verb::head)
            m_parser->skip(true);
        m_buffer.clear();
        onStream([this](auto& stream) {
            http::async_read_header(stream, m_buffer, *m_parser, then(&Exchange::readBody));
        });
    }

    // A body announced as too long is refused before any of it is read. Read together with the
    // head, the parser forgets that refusal and reads on (Boost 1.74), so the head comes on its
    // own; the announced length is checked here too, as a body with a length is checked against
    // nothing else while it is read.
    void readBody()
    {
        const auto length = m_parser->content_length();
        if (length && *length > m_client.limits.bodyBytes)
            return finish(failure("too large"));
        if (m_parser->is_done())
            return answered();
        onStream([this](auto& stream) {
            http::async_read(stream, m_buffer, *m_parser, then(&Exchange::answered));
        });
    }

    void answered()
    {
        auto response = m_parser->release();
        const auto status = response.result_int();
        if (m_request.method == http::verb::get && isRedirect(status) &&
            response.count(http::field::location) > 0)
            return redirect(response[http::field::location]);
        PeerAnswer answer;
        answer.status = status;
        answer.contentType = std::string(response[http::field::content_type]);
        answer.rateLimitRemaining = headerNumber(response, "X-RateLimit-Remaining");
        answer.rateLimitResetIn = headerNumber(response, "X-RateLimit-Reset-In");
        answer.rateLimitResetAt = headerTime(response, "X-RateLimit-Reset");
        answer.body = std::move(response.body());
        finish(std::move(answer));
    }

    void redirect(std::string_view location)
    {
        const auto next = resolveLocation(m_url, location);
        if (!next)
            return finish(failure("bad address"));
        if (next->host != m_url.host || next->port != m_url.port || next->tls != m_url.tls)
            return finish(failure("redirect to another host"));
        if (++m_redirects > m_client.limits.redirects)
            return finish(failure("too many redirects"));
        closeConnection();
        m_stream.reset();
        m_url.target = next->target;
        connect();
    }

    PeerClient::State& m_client;
    PeerRequest m_request;
    PeerUrl m_url;
    std::function<void(PeerAnswer)> m_done;
    std::string m_hostKey;

    tcp::resolver m_resolver;
    asio::steady_timer m_timer;
    std::optional<ssl::stream<tcp::socket>> m_stream;
    std::vector<tcp::resolver::results_type::value_type> m_addresses;
    std::size_t m_nextAddress = 0;
    beast::error_code m_lastError;
    bool m_refusedPrivate = false;

    Request m_outgoing;
    beast::flat_buffer m_buffer;
    std::optional<http::response_parser<http::string_body>> m_parser;

    std::chrono::steady_clock::time_point m_answerBy;
    unsigned m_timerSetting = 0;
    int m_redirects = 0;
    bool m_timedOut = false;
    bool m_finished = false;
};

} // namespace

void PeerClient::State::admit(const std::shared_ptr<Exchange>& exchange)
{
    auto& host = hosts[exchange->hostKey()];
    if (host.running >= limits.perHost) {
        host.waiting.push_back(exchange);
        return;
    }
    ++host.running;
    running.insert(exchange);
    exchange->start();
}

// An exchange has ended: its place goes to the next one waiting for that host.
void PeerClient::State::release(Exchange& exchange)
{
    const auto self = exchange.shared_from_this();
    if (running.erase(self) == 0)
        return; // it ended while it waited: it held no place
    const auto it = hosts.find(exchange.hostKey());
    auto& host = it->second;
    --host.running;
    while (!stopping && !host.waiting.empty() && host.running < limits.perHost) {
        auto next = std::move(host.waiting.front());
        host.waiting.pop_front();
        ++host.running;
        running.insert(next);
        next->start();
    }
    if (host.running == 0 && host.waiting.empty())
        hosts.erase(it);
}

void PeerClient::State::stopAll()
{
    stopping = true;
    std::vector<std::shared_ptr<Exchange>> all(running.begin(), running.end());
    for (auto& [key, host] : hosts)
        all.insert(all.end(), host.waiting.begin(), host.waiting.end());
    hosts.clear();
    running.clear();
    for (const auto& exchange : all)
        exchange->finish(failure("stopped"));
}

PeerClient::PeerClient(Limits limits, bool allowPrivatePeers)
    : m_state(std::make_shared<State>(limits, allowPrivatePeers))
{
    m_state->thread = std::thread([state = m_state.get()] {
        for (;;) {
            try {
                state->io.run();
                return;
            } catch (const std::exception& e) {
                logFailure("PEER", "-", e.what());
            }
        }
    });
}

PeerClient::~PeerClient()
{
    asio::post(m_state->io, [state = m_state.get()] { state->stopAll(); });
    // The thread runs on until the cancelled operations have come back, then ends.
    m_state->work.reset();
    m_state->thread.join();
}

void PeerClient::send(PeerRequest request, std::function<void(PeerAnswer)> done)
{
    asio::post(m_state->io,
               [state = m_state.get(), request = std::move(request), done = std::move(done)]() mutable {
                   auto url = parsePeerUrl(request.url);
                   if (!url || (!url->tls && !state->allowPrivatePeers))
                       return deliver(done, failure("bad address"));
                   if (state->stopping)
                       return deliver(done, failure("stopped"));
                   state->admit(std::make_shared<Exchange>(*state, std::move(request), std::move(*url),
                                                           std::move(done)));
               });
}

} // namespace tunalo::service
