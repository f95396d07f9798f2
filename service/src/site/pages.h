#pragma once

#include "serviceprotocol.h"
#include "store/store.h"

#include <string>
#include <string_view>
#include <vector>

namespace tunalo::service {

// The page titles the desktop program reads; it compares the first two exactly.
inline constexpr std::string_view loggedInTitle = protocol::kLoggedInTitle;
inline constexpr std::string_view failedTitle = protocol::kFailedTitle;
inline constexpr std::string_view postedTitlePrefix = protocol::kPostedTitlePrefix;

// The person's recent songs on their home page, which follows new posts by itself: the list alone,
// as the home page shows it, and the script that fetches it again.
inline constexpr std::string_view recentSongsPath = "/fb/recent";
inline constexpr std::string_view recentSongsScriptPath = "/fb/recent.js";
std::string recentSongsFragment(const std::vector<Post>& posts);
std::string recentSongsScript();

std::string aboutPage();
// Where a person's songs go beyond the service's pages, as the home page shows and changes it.
struct Reach {
    std::string handle; // @NAME@HOST on the fediverse; empty when the service does not federate
    std::int64_t followers = 0;
    Destinations destinations;
    Profile profile;
    std::vector<Follower> requests;  // follows waiting for the person's answer
    std::vector<Follower> following; // approved followers, the newest first
    MastodonAccount mastodon;        // the person's own account there; its token is never shown
};

// The home page's forms for the person's own Mastodon account.
inline constexpr std::string_view mastodonConnectPath = "/fb/mastodon/connect";
inline constexpr std::string_view mastodonCallbackPath = "/fb/mastodon/callback";
inline constexpr std::string_view mastodonStylePath = "/fb/mastodon/style";
inline constexpr std::string_view mastodonDisconnectPath = "/fb/mastodon/disconnect";
// A page that carries the server's answer on to the callback as a navigation of the service's own
// site, which brings the session cookie a redirect from another site does not.
std::string continueSignInPage(std::string_view target);

// Where the home page's answers to followers and their requests go (fields "actor" and "do").
inline constexpr std::string_view followersFormPath = "/fb/followers";
// The longest name and summary a person may give their account.
inline constexpr std::size_t maxDisplayNameChars = 100;
inline constexpr std::size_t maxSummaryChars = 500;

// site: the service's public address without a trailing slash, for the addresses the user shares.
// message: what the last form the person sent came to, shown above the rest; empty for none.
std::string loggedInPage(const User& user, const std::vector<Post>& posts, std::string_view site,
                         const Reach& reach = {}, std::string_view message = {});
std::string loggedOutPage(std::string_view message);
std::string postedPage(std::int64_t id);
std::string notPostedPage(std::string_view title, std::string_view message);
std::string feedPage(const std::vector<Post>& posts);
std::string feedJson(const std::vector<Post>& posts);
// One person's recent songs (those for everyone), with the address of their Atom feed; unless
// their audience is everyone it says who their songs are for, and handle (empty when the service
// does not federate) says where to follow them.
std::string personPage(const User& person, const std::vector<Post>& posts, Audience audience = Audience::everyone,
                       std::string_view handle = {});
std::string errorPage(int status);

} // namespace tunalo::service
