#pragma once

#include "federation/peerclient.h"
#include "store/store.h"

#include <optional>
#include <string>
#include <string_view>

namespace tunalo::service::mastodon {

// What the service asks of a person's account: to post and delete statuses, and to know whose
// account it is. A server that lacks the newer `profile` scope is asked for read:accounts instead.
inline constexpr std::string_view scopes = "write:statuses profile";
inline constexpr std::string_view olderScopes = "write:statuses read:accounts";

// The server a person typed ("social.example", "https://social.example/"), as https://host[:port]
// in lower case; plain http:// only when the service may reach private peers. None for anything
// else, such as a path, a user name or a query.
std::optional<std::string> serverFrom(std::string_view typed, bool allowPlainHttp);

// PKCE (RFC 7636): a fresh verifier, and its S256 challenge; a fresh state for a sign-in.
std::string newVerifier();
std::string challengeOf(std::string_view verifier);
std::string newState();

PeerRequest registration(const std::string& server, const std::string& redirect, std::string_view scopes);
// Where the person approves the service on their server.
std::string authorizeUrl(const MastodonApp& app, const std::string& redirect, const MastodonSignIn& signIn);
PeerRequest tokenExchange(const MastodonApp& app, const std::string& redirect, const std::string& code,
                          const std::string& verifier);
PeerRequest credentials(const std::string& server, const std::string& token);
PeerRequest revocation(const MastodonApp& app, const std::string& token);

// What the server answered, read: the registration, the token, the account as @user@host.
std::optional<MastodonApp> appFrom(const std::string& server, const std::string& redirect, std::string_view scopes,
                                   const PeerAnswer& answer);
std::optional<std::string> tokenFrom(const PeerAnswer& answer);
std::optional<std::string> handleFrom(const std::string& server, const PeerAnswer& answer);

} // namespace tunalo::service::mastodon
