#include "elsewhere.h"

#include "federation/httpsignature.h"

#include <boost/asio/ip/tcp.hpp>

namespace tunalo::service::testkit {

int freePort()
{
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

Elsewhere::Elsewhere(bool shared, std::optional<KeyPair> oneKeyForAll)
    : m_shared(shared), m_oneKey(std::move(oneKeyForAll)),
      m_server(m_io, HttpServer::Limits{}, [this](const CallPtr& call) { serve(call); })
{
    m_server.listen("127.0.0.1", 0);
    m_thread = std::thread([this] { m_io.run(); });
}

Elsewhere::~Elsewhere()
{
    m_io.stop();
    m_thread.join();
}

std::string Elsewhere::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_server.port());
}

void Elsewhere::answer(Inbox how)
{
    std::lock_guard lock(m_mutex);
    m_inbox = how;
}

std::vector<Elsewhere::Arrival> Elsewhere::arrivals(std::size_t count, std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, wait, [&] { return m_arrivals.size() >= count; });
    return m_arrivals;
}

Fields Elsewhere::signedBy(const std::string& name, http::verb method, const std::string& target,
                           const std::string& body, int servicePort, std::chrono::system_clock::time_point when)
{
    Request request{method, target, 11};
    request.set(http::field::content_type, "application/activity+json");
    request.body() = body;
    signRequest(request, "127.0.0.1:" + std::to_string(servicePort), actor(name) + "#main-key",
                keysOf(name).privatePem, when);
    Fields fields;
    for (const auto& field : request)
        fields.emplace_back(std::string(field.name_string()), std::string(field.value()));
    return fields;
}

int Elsewhere::documentsFetched()
{
    std::lock_guard lock(m_mutex);
    return m_documentsFetched;
}

Json Elsewhere::follow(const std::string& name, const std::string& whom)
{
    std::lock_guard lock(m_mutex);
    return {{"@context", "https://www.w3.org/ns/activitystreams"},
            {"id", actor(name) + "/follows/" + std::to_string(++m_follows)},
            {"type", "Follow"},
            {"actor", actor(name)},
            {"object", whom}};
}

const KeyPair& Elsewhere::keysOf(const std::string& name)
{
    if (m_oneKey)
        return *m_oneKey;
    std::lock_guard lock(m_mutex);
    auto found = m_keys.find(name);
    if (found == m_keys.end())
        found = m_keys.emplace(name, makeKeyPair()).first;
    return found->second;
}

void Elsewhere::publish(const std::string& path, Json document)
{
    std::lock_guard lock(m_mutex);
    m_published[path] = std::move(document);
}

std::vector<Request> Elsewhere::fetches()
{
    std::lock_guard lock(m_mutex);
    return m_fetches;
}

void Elsewhere::serve(const CallPtr& call)
{
    const std::string path(call->request.target());
    Response response{http::status::ok, 11};
    if (call->request.method() == http::verb::get) {
        std::lock_guard lock(m_mutex);
        m_fetches.push_back(call->request);
        const auto published = m_published.find(path);
        if (published != m_published.end()) {
            response.set(http::field::content_type, "application/activity+json");
            response.body() = published->second.dump();
            return call->answer(std::move(response));
        }
    }
    if (call->request.method() == http::verb::get && path.starts_with("/users/")) {
        const auto name = path.substr(7);
        Json document = {{"@context", Json::array({"https://www.w3.org/ns/activitystreams",
                                                   "https://w3id.org/security/v1"})},
                         {"id", actor(name)},
                         {"type", "Person"},
                         {"inbox", actor(name) + "/inbox"},
                         {"publicKey", {{"id", actor(name) + "#main-key"},
                                        {"owner", actor(name)},
                                        {"publicKeyPem", keysOf(name).publicPem}}}};
        {
            std::lock_guard lock(m_mutex);
            ++m_documentsFetched;
        }
        if (m_shared)
            document["endpoints"] = {{"sharedInbox", origin() + "/inbox"}};
        response.set(http::field::content_type, "application/activity+json");
        response.body() = document.dump();
        return call->answer(std::move(response));
    }
    Inbox how;
    {
        std::lock_guard lock(m_mutex);
        m_arrivals.push_back(
            {call->request, Json::parse(call->request.body(), nullptr, false), std::chrono::steady_clock::now()});
        how = m_inbox;
        if (how == Inbox::hold)
            m_held.push_back(call); // never answered while this server lives, unless released
        else if (how == Inbox::busyOnce)
            m_inbox = Inbox::accept;
    }
    m_arrived.notify_all();
    if (auto answer = answerAs(how))
        call->answer(std::move(*answer));
}

void Elsewhere::release(Inbox how)
{
    std::vector<CallPtr> held;
    {
        std::lock_guard lock(m_mutex);
        held.swap(m_held);
    }
    for (const auto& call : held)
        if (auto answer = answerAs(how))
            call->answer(std::move(*answer));
}

std::optional<Response> Elsewhere::answerAs(Inbox how)
{
    Response response{http::status::ok, 11};
    switch (how) {
    case Inbox::accept:
        response.result(http::status::accepted);
        break;
    case Inbox::refuse:
        response.result(http::status::unauthorized);
        break;
    case Inbox::fail:
        response.result(http::status::internal_server_error);
        break;
    case Inbox::gone:
        response.result(http::status::gone);
        break;
    case Inbox::hold:
        return std::nullopt;
    case Inbox::huge:
        response.body().assign(50 * 1024 * 1024, 'x');
        break;
    case Inbox::busyOnce:
        response.result(http::status::too_many_requests);
        response.set("X-RateLimit-Remaining", "0");
        response.set("X-RateLimit-Reset-In", "30");
        break;
    }
    return response;
}

} // namespace tunalo::service::testkit
