#include "federation/mastodon.h"

#include "base/links.h"
#include "base/text.h"

#include <nlohmann/json.hpp>
#include <sodium.h>

#include <algorithm>
#include <cctype>

namespace tunalo::service::mastodon {

namespace {

using Json = nlohmann::json;

std::string base64Url(const unsigned char* bytes, std::size_t size)
{
    std::string text(sodium_base64_encoded_len(size, sodium_base64_VARIANT_URLSAFE_NO_PADDING), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    text.resize(text.find('\0'));
    return text;
}

std::string randomText()
{
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    return base64Url(raw, sizeof raw);
}

std::string form(std::initializer_list<std::pair<std::string_view, std::string_view>> fields)
{
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty())
            body += '&';
        body.append(name).append("=").append(percentEncode(value));
    }
    return body;
}

PeerRequest formPost(std::string url, std::string body)
{
    PeerRequest request;
    request.method = http::verb::post;
    request.url = std::move(url);
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
    request.body = std::move(body);
    return request;
}

Json jsonOf(const PeerAnswer& answer)
{
    if (answer.status / 100 != 2)
        return {};
    auto json = Json::parse(answer.body, nullptr, false);
    return json.is_object() ? json : Json{};
}

std::string textAt(const Json& json, const char* key)
{
    return json.is_object() && json.contains(key) && json[key].is_string() ? json[key].get<std::string>() : "";
}

bool hostCharacter(unsigned char c)
{
    return std::isalnum(c) != 0 || c == '.' || c == '-' || c == ':';
}

} // namespace

std::optional<std::string> serverFrom(std::string_view typed, bool allowPlainHttp)
{
    const auto first = typed.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    auto text = asciiLower(std::string(typed.substr(first, typed.find_last_not_of(' ') - first + 1)));
    std::string scheme = "https://";
    if (text.starts_with("https://")) {
        text.erase(0, 8);
    } else if (text.starts_with("http://")) {
        if (!allowPlainHttp)
            return std::nullopt;
        scheme = "http://";
        text.erase(0, 7);
    }
    if (text.ends_with('/'))
        text.pop_back();
    const bool sane = !text.empty() && text.size() <= 253 && text.front() != '.' && text.front() != ':' &&
                      std::all_of(text.begin(), text.end(), hostCharacter) &&
                      std::count(text.begin(), text.end(), ':') <= 1;
    return sane ? std::optional(scheme + text) : std::nullopt;
}

std::string newVerifier()
{
    return randomText();
}

std::string challengeOf(std::string_view verifier)
{
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size());
    return base64Url(digest, sizeof digest);
}

std::string newState()
{
    return randomText();
}

PeerRequest registration(const std::string& server, const std::string& redirect, std::string_view scopes)
{
    return formPost(server + "/api/v1/apps", form({{"client_name", "Tunalo"},
                                                   {"redirect_uris", redirect},
                                                   {"scopes", scopes}}));
}

std::string authorizeUrl(const MastodonApp& app, const std::string& redirect, const MastodonSignIn& signIn)
{
    return app.server + "/oauth/authorize?" +
           form({{"response_type", "code"},
                 {"client_id", app.clientId},
                 {"redirect_uri", redirect},
                 {"scope", app.scopes},
                 {"state", signIn.state},
                 {"code_challenge", challengeOf(signIn.verifier)},
                 {"code_challenge_method", "S256"}});
}

PeerRequest tokenExchange(const MastodonApp& app, const std::string& redirect, const std::string& code,
                          const std::string& verifier)
{
    return formPost(app.server + "/oauth/token", form({{"grant_type", "authorization_code"},
                                                       {"code", code},
                                                       {"client_id", app.clientId},
                                                       {"client_secret", app.clientSecret},
                                                       {"redirect_uri", redirect},
                                                       {"code_verifier", verifier},
                                                       {"scope", app.scopes}}));
}

PeerRequest credentials(const std::string& server, const std::string& token)
{
    PeerRequest request;
    request.url = server + "/api/v1/accounts/verify_credentials";
    request.headers = {{"Authorization", "Bearer " + token}};
    return request;
}

PeerRequest revocation(const MastodonApp& app, const std::string& token)
{
    return formPost(app.server + "/oauth/revoke",
                    form({{"client_id", app.clientId}, {"client_secret", app.clientSecret}, {"token", token}}));
}

std::optional<MastodonApp> appFrom(const std::string& server, const std::string& redirect, std::string_view scopes,
                                   const PeerAnswer& answer)
{
    const auto json = jsonOf(answer);
    MastodonApp app{server, textAt(json, "client_id"), textAt(json, "client_secret"), std::string(scopes), redirect};
    if (app.clientId.empty() || app.clientSecret.empty())
        return std::nullopt;
    return app;
}

std::optional<std::string> tokenFrom(const PeerAnswer& answer)
{
    const auto token = textAt(jsonOf(answer), "access_token");
    return token.empty() ? std::nullopt : std::optional(token);
}

std::optional<std::string> handleFrom(const std::string& server, const PeerAnswer& answer)
{
    const auto acct = textAt(jsonOf(answer), "acct");
    if (acct.empty())
        return std::nullopt;
    // A local account's acct is the bare user name; the server's host completes it.
    if (acct.find('@') != std::string::npos)
        return "@" + acct;
    return "@" + acct + "@" + server.substr(server.find("://") + 3);
}

} // namespace tunalo::service::mastodon
