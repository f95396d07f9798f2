#include "mastodonserver.h"

#include "base/links.h"
#include "base/text.h"
#include "federation/keys.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ctime>

namespace tunalo::service::testkit {

namespace {

using Json = nlohmann::json;

Response jsonAnswer(http::status status, const Json& body)
{
    Response response{status, 11};
    response.set(http::field::content_type, "application/json; charset=utf-8");
    response.body() = body.dump();
    return response;
}

Response error(http::status status, const std::string& text)
{
    return jsonAnswer(status, {{"error", text}});
}

// The parameters of a request body, sent as a form or as JSON; both are documented.
std::map<std::string, std::string> paramsOf(const Request& request)
{
    if (!std::string_view(request[http::field::content_type]).starts_with("application/json"))
        return parseForm(request.body());
    std::map<std::string, std::string> params;
    const auto json = Json::parse(request.body(), nullptr, false);
    if (json.is_object())
        for (const auto& [key, value] : json.items())
            params[key] = value.is_string() ? value.get<std::string>() : value.dump();
    return params;
}

std::string base64Url(std::string text)
{
    std::replace(text.begin(), text.end(), '+', '-');
    std::replace(text.begin(), text.end(), '/', '_');
    text.erase(std::remove(text.begin(), text.end(), '='), text.end());
    return text;
}

std::string isoTime(std::chrono::system_clock::time_point at)
{
    const auto seconds = std::chrono::system_clock::to_time_t(at);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &parts);
    return text;
}

} // namespace

MastodonServer::MastodonServer(int deletions, std::chrono::seconds window)
    : m_deletionLimit(deletions), m_window(window),
      m_server(m_io, HttpServer::Limits{}, [this](const CallPtr& call) { serve(call); })
{
    m_server.listen("127.0.0.1", 0);
    m_thread = std::thread([this] { m_io.run(); });
}

MastodonServer::~MastodonServer()
{
    m_io.stop();
    m_thread.join();
}

std::string MastodonServer::origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_server.port());
}

int MastodonServer::port() const
{
    return m_server.port();
}

void MastodonServer::signInAs(const std::string& username)
{
    std::lock_guard lock(m_mutex);
    m_signInAs = username;
}

void MastodonServer::revokeTokensOf(const std::string& username)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_tokens, [&](const auto& token) { return token.second == username; });
}

std::vector<MastodonServer::Status> MastodonServer::standing()
{
    std::lock_guard lock(m_mutex);
    return standingLocked();
}

std::vector<MastodonServer::Status> MastodonServer::standingLocked() const
{
    std::vector<Status> statuses;
    for (const auto& [id, status] : m_statuses)
        statuses.push_back(status);
    return statuses;
}

int MastodonServer::deletions()
{
    std::lock_guard lock(m_mutex);
    return m_deletions;
}

int MastodonServer::statusesPosted()
{
    std::lock_guard lock(m_mutex);
    return m_posted;
}

long MastodonServer::statusRequestsOnce(long count, std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, wait, [&] { return statusRequestsLocked() >= count; });
    return statusRequestsLocked();
}

long MastodonServer::statusRequestsLocked() const
{
    return std::count_if(m_requests.begin(), m_requests.end(), [](const Request& request) {
        return request.method() == http::verb::post && request.target() == "/api/v1/statuses";
    });
}

std::vector<Request> MastodonServer::requests()
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> MastodonServer::liveTokens()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> tokens;
    for (const auto& token : m_tokens)
        tokens.push_back(token.first);
    return tokens;
}

void MastodonServer::holdStatusAnswers(bool hold)
{
    std::lock_guard lock(m_mutex);
    m_holdStatuses = hold;
}

void MastodonServer::serve(const CallPtr& call)
{
    Response response;
    bool held = false;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(call->request);
        response = answer(call->request);
        held = m_holdStatuses && call->request.method() == http::verb::post &&
               call->request.target() == "/api/v1/statuses";
        if (held)
            m_held.push_back(call);
    }
    m_changed.notify_all();
    if (!held)
        call->answer(std::move(response));
}

std::string MastodonServer::accountOf(const Request& request) const
{
    const std::string_view authorization = request[http::field::authorization];
    if (!authorization.starts_with("Bearer "))
        return {};
    const auto found = m_tokens.find(std::string(authorization.substr(7)));
    return found == m_tokens.end() ? std::string() : found->second;
}

Response MastodonServer::answer(const Request& request)
{
    const auto target = request.target();
    const std::string path(target.substr(0, target.find('?')));
    const auto method = request.method();
    if (method == http::verb::post && path == "/api/v1/apps")
        return registerApp(request);
    if (method == http::verb::get && path == "/oauth/authorize")
        return authorize(request);
    if (method == http::verb::post && path == "/oauth/token")
        return token(request);
    if (method == http::verb::post && path == "/oauth/revoke")
        return revoke(request);
    const auto account = accountOf(request);
    if (account.empty())
        return error(http::status::unauthorized, "The access token is invalid");
    if (method == http::verb::get && path == "/api/v1/accounts/verify_credentials")
        return credentials(account);
    if (method == http::verb::post && path == "/api/v1/statuses")
        return postStatus(request, account);
    constexpr std::string_view statusPrefix = "/api/v1/statuses/";
    if (method == http::verb::delete_ && path.starts_with(statusPrefix))
        return deleteStatus(path.substr(statusPrefix.size()), account);
    return error(http::status::not_found, "Record not found");
}

Response MastodonServer::registerApp(const Request& request)
{
    auto params = paramsOf(request);
    if (params["client_name"].empty() || params["redirect_uris"].empty())
        return error(http::status::unprocessable_entity, "Validation failed");
    const auto id = "client-" + std::to_string(++m_next);
    m_apps[id] = {"secret-" + std::to_string(++m_next), params["redirect_uris"]};
    return jsonAnswer(http::status::ok, {{"id", std::to_string(m_next)},
                                         {"name", params["client_name"]},
                                         {"redirect_uri", params["redirect_uris"]},
                                         {"client_id", id},
                                         {"client_secret", m_apps[id].secret}});
}

// The person approves at once; an unknown client or a redirect it did not register is refused.
Response MastodonServer::authorize(const Request& request)
{
    auto query = parseQuery(request.target());
    const auto app = m_apps.find(query["client_id"]);
    if (app == m_apps.end() || app->second.redirect != query["redirect_uri"] || query["response_type"] != "code")
        return error(http::status::bad_request, "invalid_request");
    if (query["code_challenge_method"] != "S256" || query["code_challenge"].empty())
        return error(http::status::bad_request, "invalid_request: PKCE S256 required");
    const auto code = "code-" + std::to_string(++m_next);
    m_grants[code] = {query["client_id"], query["redirect_uri"], query["code_challenge"], m_signInAs};
    Response response{http::status::found, 11};
    response.set(http::field::location,
                 query["redirect_uri"] + "?code=" + code + "&state=" + percentEncode(query["state"]));
    return response;
}

Response MastodonServer::token(const Request& request)
{
    auto params = paramsOf(request);
    const auto grant = m_grants.find(params["code"]);
    const auto app = m_apps.find(params["client_id"]);
    if (params["grant_type"] != "authorization_code" || grant == m_grants.end() || app == m_apps.end() ||
        app->second.secret != params["client_secret"] || grant->second.clientId != params["client_id"] ||
        grant->second.redirect != params["redirect_uri"])
        return error(http::status::bad_request, "invalid_grant");
    const bool verified = base64Url(sha256Base64(params["code_verifier"])) == grant->second.challenge;
    const auto account = grant->second.account;
    m_grants.erase(grant); // a code is good once, right or wrong
    if (!verified)
        return error(http::status::bad_request, "invalid_grant");
    const auto token = "token-" + std::to_string(++m_next) + "-" + account;
    m_tokens[token] = account;
    return jsonAnswer(http::status::ok,
                      {{"access_token", token}, {"token_type", "Bearer"}, {"scope", "write:statuses profile"},
                       {"created_at", std::time(nullptr)}});
}

Response MastodonServer::revoke(const Request& request)
{
    auto params = paramsOf(request);
    const auto app = m_apps.find(params["client_id"]);
    if (app == m_apps.end() || app->second.secret != params["client_secret"])
        return error(http::status::forbidden, "unauthorized_client");
    m_tokens.erase(params["token"]);
    return jsonAnswer(http::status::ok, Json::object());
}

Response MastodonServer::credentials(const std::string& account)
{
    return jsonAnswer(http::status::ok, {{"id", "1"}, {"username", account}, {"acct", account},
                                         {"url", origin() + "/@" + account}});
}

void MastodonServer::rateLimitHeaders(Response& response, const std::string& account)
{
    const auto now = std::chrono::system_clock::now();
    auto& times = m_deletedAt[account];
    while (!times.empty() && times.front() + m_window <= now)
        times.pop_front();
    response.set("X-RateLimit-Limit", std::to_string(m_deletionLimit));
    response.set("X-RateLimit-Remaining", std::to_string(std::max<int>(0, m_deletionLimit - int(times.size()))));
    response.set("X-RateLimit-Reset", isoTime(times.empty() ? now + m_window : times.front() + m_window));
}

Response MastodonServer::postStatus(const Request& request, const std::string& account)
{
    auto params = paramsOf(request);
    if (params["status"].empty())
        return error(http::status::unprocessable_entity, "Validation failed: Text can't be blank");
    if (countChars(params["status"]) > 500)
        return error(http::status::unprocessable_entity, "Validation failed: Text character limit of 500 exceeded");
    const std::string key(request["Idempotency-Key"]);
    const auto repeat = key.empty() ? m_idempotent.end() : m_idempotent.find(account + " " + key);
    std::string id;
    if (repeat != m_idempotent.end()) {
        id = repeat->second;
    } else {
        id = std::to_string(++m_next);
        m_statuses[id] = {id, params["status"], params.count("visibility") ? params["visibility"] : "public", account};
        ++m_posted;
        if (!key.empty())
            m_idempotent[account + " " + key] = id;
    }
    const auto status = m_statuses.count(id) ? m_statuses[id] : Status{id, params["status"], "", account};
    auto response = jsonAnswer(http::status::ok, {{"id", id}, {"content", "<p>" + status.text + "</p>"},
                                                  {"visibility", status.visibility}});
    // Posting has a limit of its own (300 in three hours), far from this test's reach.
    response.set("X-RateLimit-Limit", "300");
    response.set("X-RateLimit-Remaining", std::to_string(std::max(0, 300 - m_posted)));
    response.set("X-RateLimit-Reset", isoTime(std::chrono::system_clock::now() + std::chrono::hours{3}));
    return response;
}

Response MastodonServer::deleteStatus(const std::string& id, const std::string& account)
{
    Response refusal{http::status::too_many_requests, 11};
    rateLimitHeaders(refusal, account);
    if (refusal["X-RateLimit-Remaining"] == "0")
        return refusal;
    const auto status = m_statuses.find(id);
    if (status == m_statuses.end() || status->second.account != account)
        return error(http::status::not_found, "Record not found");
    m_deletedAt[account].push_back(std::chrono::system_clock::now());
    ++m_deletions;
    auto response = jsonAnswer(http::status::ok, {{"id", id}, {"text", status->second.text}});
    m_statuses.erase(status);
    rateLimitHeaders(response, account);
    return response;
}

} // namespace tunalo::service::testkit
