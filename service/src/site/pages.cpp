#include "site/pages.h"

#include "base/links.h"
#include "base/text.h"

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <utility>

namespace tunalo::service {

namespace {

constexpr std::string_view style = R"(<style>
body{font-family:sans-serif;max-width:40em;margin:2em auto;padding:0 1em;color:#222}
h1{color:#8b0000}ol.posts{padding-left:1.2em}ol.posts li{margin:.4em 0;overflow-wrap:anywhere}
.when{color:#777;font-size:.85em}.message{color:#8b0000;font-weight:bold}
form.box{border:1px solid #ccc;padding:1em;margin:1em 0}label{display:block;margin:.4em 0}
button.link{background:none;border:none;color:#00e;text-decoration:underline;cursor:pointer;padding:0;font:inherit}
</style>)";

std::string page(std::string_view title, std::string_view body, std::string_view head = {})
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\"><title>";
    html += htmlEscape(title);
    html += "</title>";
    html += style;
    html += head;
    html += "</head><body>\n";
    html += body;
    html += "\n</body></html>\n";
    return html;
}

std::string postList(const std::vector<Post>& posts, bool withNames)
{
    if (posts.empty())
        return "<p>No songs yet.</p>";
    std::string html = "<ol class=\"posts\">";
    for (const auto& post : posts) {
        html += "<li id=\"post-" + std::to_string(post.id) + "\">";
        // Each name and song in an isolate of its own: a right-to-left character in one leaves the
        // order of the rest of the line alone.
        if (withNames)
            html += "<strong><bdi>" + htmlEscape(post.user) + "</bdi></strong> listens to ";
        html += "<q><bdi>" + htmlEscape(post.song) + "</bdi></q> <span class=\"when\">" +
                utcTime(post.postedAt, "%Y-%m-%d %H:%M UTC") + "</span></li>";
    }
    return html + "</ol>";
}

constexpr std::string_view credentialFields =
    R"(<label>Name <input name="name" maxlength="40" required%s></label>
<label>Password <input name="password" type="password" required></label>)";

std::string fields(bool focused)
{
    std::string html(credentialFields);
    html.replace(html.find("%s"), 2, focused ? " autofocus" : "");
    return html;
}

std::string ownAddresses(const User& user, std::string_view site)
{
    const auto page = htmlEscape(std::string(site) + personPath(user.name));
    const auto feed = htmlEscape(std::string(site) + personFeedPath(user.name));
    return "<p class=\"own\">Your page: <a href=\"" + page + "\">" + page + "</a><br>Its feed: <a href=\"" +
           feed + "\">" + feed + "</a></p>\n";
}

// The last characters of a token, enough for its owner to know it again.
std::string tokenHint(const std::string& token)
{
    constexpr std::size_t shown = 4;
    if (token.empty())
        return "none yet";
    return token.size() <= 2 * shown ? "kept" : "kept, ending in " + htmlEscape(token.substr(token.size() - shown));
}

std::string audienceChoice(Audience chosen, Audience value, std::string_view label)
{
    return "<label><input type=\"radio\" name=\"audience\" value=\"" + std::string(audienceWord(value)) + "\"" +
           (chosen == value ? " checked" : "") + "> " + std::string(label) + "</label>";
}

// Who sees the person's songs, said plainly.
std::string_view audienceSentence(Audience audience)
{
    switch (audience) {
    case Audience::everyone:
        return "Everyone sees your songs: on your page, in the feeds and wherever you are followed.";
    case Audience::nobody:
        return "Nobody but you sees your songs: your page and the feeds show none of them, and no follower gets "
               "them.";
    case Audience::followers:
        break;
    }
    return "Only the followers you approve see your songs: your page and the feeds show them to nobody else.";
}

std::string checkbox(std::string_view name, bool checked, std::string_view label)
{
    return "<label><input type=\"checkbox\" name=\"" + std::string(name) + "\" value=\"1\"" +
           (checked ? " checked" : "") + "> " + std::string(label) + "</label>";
}

std::string profileFields(const Profile& profile)
{
    return "<label>Your name there <input name=\"display_name\" maxlength=\"" + std::to_string(maxDisplayNameChars) +
           "\" value=\"" + htmlEscape(profile.displayName) + "\"></label>"
           "<label>About you <textarea name=\"summary\" rows=\"3\" cols=\"40\" maxlength=\"" +
           std::to_string(maxSummaryChars) + "\">" + htmlEscape(profile.summary) + "</textarea></label>" +
           checkbox("discoverable", profile.discoverable, "Servers may suggest your account to others") +
           checkbox("indexable", profile.indexable, "Servers may find your account by searching its text") + "\n";
}

std::string reachForm(const Reach& reach)
{
    const auto& chosen = reach.destinations;
    std::string html = "<form class=\"box\" method=\"post\" action=\"/fb/destinations\">";
    html += "<h2>Who sees your songs</h2>\n<fieldset><legend>Your next songs are for</legend>" +
            audienceChoice(chosen.audience, Audience::everyone, "Everyone (public)") +
            audienceChoice(chosen.audience, Audience::followers, "The followers you approve") +
            audienceChoice(chosen.audience, Audience::nobody, "Nobody") +
            "</fieldset>\n<p>Each song keeps the choice it was posted with.</p>\n";
    if (!reach.handle.empty()) {
        html += "<h2>On the fediverse</h2>\n<p>Friends on Mastodon and other fediverse servers follow you as "
                "<strong class=\"handle\">" + htmlEscape(reach.handle) + "</strong> (search for it there). "
                "Followers: <span class=\"followers\">" + std::to_string(reach.followers) + "</span>.</p>\n" +
                profileFields(reach.profile);
    }
    html += "<h2>ListenBrainz</h2>\n<p>Tunalo can also send each song, as playing now, to ListenBrainz or "
            "a service that speaks its language.</p>\n";
    if (!chosen.listenError.empty())
        html += "<p class=\"message\" role=\"alert\">The listening service refused your token (" +
                htmlEscape(chosen.listenError) + "). Please check it and save it again.</p>\n";
    html += "<label>Address <input name=\"listen_url\" type=\"url\" maxlength=\"200\" value=\"" +
            htmlEscape(chosen.listenUrl) + "\" placeholder=\"https://api.listenbrainz.org\"></label>"
            "<label>Token (" + tokenHint(chosen.listenToken) + ") <input name=\"listen_token\" type=\"password\" "
            "maxlength=\"100\" autocomplete=\"off\"></label>\n"
            "<button type=\"submit\">Save</button></form>\n";
    return html;
}

std::string visibilityChoice(std::string_view chosen, std::string_view value, std::string_view label)
{
    return "<label><input type=\"radio\" name=\"visibility\" value=\"" + std::string(value) + "\"" +
           (chosen == value ? " checked" : "") + "> " + std::string(label) + "</label>";
}

// The person's own Mastodon account: the form that connects it, or whose it is, how its statuses
// read and the button that stops them. The token never appears.
std::string mastodonSection(const MastodonAccount& account)
{
    std::string html = "<div class=\"box\"><h2>Post my songs on my Mastodon account</h2>\n";
    if (account.server.empty())
        return html + "<form method=\"post\" action=\"" + std::string(mastodonConnectPath) +
               "\"><p>Your songs can also go to your own account on a server that speaks Mastodon's language "
               "(Mastodon, GoToSocial, Akkoma, Sharkey and others), where your friends follow you already; "
               "each new song replaces the one before.</p><label>Your server <input name=\"server\" "
               "maxlength=\"200\" placeholder=\"mastodon.social\" required></label> "
               "<button type=\"submit\">Connect</button></form></div>\n";
    html += "<p class=\"mastodon\">Posting as <strong>" + htmlEscape(account.handle) + "</strong></p>\n";
    if (!account.error.empty())
        html += "<p class=\"message\" role=\"alert\">Your server refused Tunalo (" + htmlEscape(account.error) +
                "): nothing goes there until you connect again.</p>\n";
    html += "<form method=\"post\" action=\"" + std::string(mastodonStylePath) +
            "\"><label>Words (SONG stands for the song) <input name=\"words\" maxlength=\"200\" value=\"" +
            htmlEscape(account.words) + "\"></label><fieldset><legend>Songs for everyone show there as</legend>" +
            visibilityChoice(account.visibility, "unlisted", "Unlisted (not in public timelines)") +
            visibilityChoice(account.visibility, "public", "Public") +
            visibilityChoice(account.visibility, "private", "Followers only") +
            "</fieldset><p>Songs for your followers go to your followers there only; songs for nobody go "
            "nowhere.</p><button type=\"submit\">Save</button></form>\n"
            "<form method=\"post\" action=\"" + std::string(mastodonDisconnectPath) +
            "\"><button type=\"submit\">Stop posting there</button></form></div>\n";
    return html;
}

// One follower or request with the buttons that answer it; actions: value and label of each.
std::string followerRow(const Follower& follower,
                        std::initializer_list<std::pair<std::string_view, std::string_view>> actions)
{
    const auto actor = htmlEscape(follower.actor);
    std::string html = "<li><form method=\"post\" action=\"" + std::string(followersFormPath) +
                       "\"><a href=\"" + actor + "\" rel=\"nofollow noreferrer\">" + actor +
                       "</a> <input type=\"hidden\" name=\"actor\" value=\"" + actor + "\">";
    for (const auto& [value, label] : actions)
        html += " <button type=\"submit\" name=\"do\" value=\"" + std::string(value) + "\">" +
                std::string(label) + "</button>";
    return html + "</form></li>";
}

std::string followersSection(const Reach& reach)
{
    if (reach.handle.empty() || (reach.requests.empty() && reach.following.empty()))
        return {};
    std::string html = "<div class=\"box\">";
    if (!reach.requests.empty()) {
        html += "<h2>Asking to follow you</h2>\n<ul class=\"requests\">";
        for (const auto& request : reach.requests)
            html += followerRow(request, {{"approve", "Approve"}, {"refuse", "Refuse"}});
        html += "</ul>\n";
    }
    if (!reach.following.empty()) {
        html += "<h2>Your followers</h2>\n<ul class=\"following\">";
        for (const auto& follower : reach.following)
            html += followerRow(follower, {{"remove", "Remove"}});
        html += "</ul>\n";
    }
    return html + "</div>\n";
}

// Follows the person's new posts on their home page while it is shown: it asks for the list again
// every few seconds (a 304 while nothing changed) and puts it in place of the one on the page, so
// what the person types into the page's forms stays. Without script the list is the page's own.
constexpr std::string_view recentScript = R"(
(function () {
  var list = document.getElementById("recent");
  if (!list || !window.fetch) return;
  var address = list.getAttribute("data-src");
  function look() {
    if (document.visibilityState === "hidden") return;
    fetch(address, {credentials: "same-origin", cache: "no-cache"}).then(function (answer) {
      return answer.ok ? answer.text() : null;
    }).then(function (html) {
      if (html !== null && html !== list.innerHTML) list.innerHTML = html;
    }).catch(function () {});
  }
  setInterval(look, 5000);
  document.addEventListener("visibilitychange", look);
})();
)";

} // namespace

std::string recentSongsFragment(const std::vector<Post>& posts)
{
    return postList(posts, false);
}

std::string recentSongsScript()
{
    return std::string(recentScript);
}

std::string aboutPage()
{
    return page("Tunalo service", R"(<h1>Tunalo</h1>
<p>This service keeps the songs that the Tunalo desktop program posts for you and shows them
as a feed that your friends can open.</p>
<ul><li><a href="/fb/tnlouserhome.php">Your home page</a>: log in or create an account</li>
<li><a href="/fb/feed">The feed</a> of everyone's recent songs (also as <a href="/fb/feed.json">JSON</a>)</li></ul>)");
}

std::string loggedInPage(const User& user, const std::vector<Post>& posts, std::string_view site,
                         const Reach& reach,
                         std::string_view message)
{
    return page(loggedInTitle,
                "<h1>Hello, " + htmlEscape(user.name) + "</h1>\n" +
                    (message.empty() ? std::string()
                                     : "<p class=\"message\" role=\"status\">" + htmlEscape(message) + "</p>\n") +
                    "<p>You are logged in; Tunalo posts your songs here. <span class=\"audience\">" +
                    std::string(audienceSentence(reach.destinations.audience)) +
                    "</span> Your own page, which friends can follow in any feed reader, and "
                    "<a href=\"/fb/feed\">the service's feed</a> show the songs for everyone:</p>\n" +
                    ownAddresses(user, site) + "<h2>Your recent songs</h2>\n<div id=\"recent\" data-src=\"" +
                    std::string(recentSongsPath) + "\" aria-live=\"polite\">" + recentSongsFragment(posts) +
                    "</div>\n" + reachForm(reach) + mastodonSection(reach.mastodon) + followersSection(reach) +
                    "\n<form method=\"post\" action=\"/fb/logout\">"
                    "<button class=\"link\" type=\"submit\">Log out</button></form>",
                "<script src=\"" + std::string(recentSongsScriptPath) + "\" defer></script>");
}

std::string loggedOutPage(std::string_view message)
{
    std::string body = "<h1>Tunalo</h1>\n";
    if (!message.empty())
        body += "<p class=\"message\" role=\"alert\">" + htmlEscape(message) + "</p>\n";
    body +=
        "<form class=\"box\" method=\"post\" action=\"/fb/login\"><h2>Log in</h2>" + fields(true) +
        "<button type=\"submit\">Log in</button></form>\n"
        "<form class=\"box\" method=\"post\" action=\"/fb/register\"><h2>New here? Create an account</h2>" +
        fields(false) + "<button type=\"submit\">Create account</button></form>\n" +
        "<p><a href=\"/fb/feed\">See what everyone is listening to</a></p>";
    return page(failedTitle, body);
}

std::string postedPage(std::int64_t id)
{
    const auto title = std::string(postedTitlePrefix) + std::to_string(id);
    return page(title, "<p>Posted. <a href=\"/fb/feed#post-" + std::to_string(id) +
                           "\">See it in the feed</a>.</p>");
}

std::string notPostedPage(std::string_view title, std::string_view message)
{
    return page(title, "<p class=\"message\">" + htmlEscape(message) + "</p>");
}

std::string feedPage(const std::vector<Post>& posts)
{
    return page("Tunalo feed", "<h1>What everyone is listening to</h1>\n" + postList(posts, true));
}

std::string feedJson(const std::vector<Post>& posts)
{
    auto feed = nlohmann::json::array();
    for (const auto& post : posts)
        feed.push_back(
            {{"id", post.id}, {"user", post.user}, {"song", post.song}, {"posted_at", post.postedAt}});
    // Songs are valid UTF-8 when stored; replace keeps a damaged database row from failing the feed.
    return feed.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string personPage(const User& person, const std::vector<Post>& posts, Audience audience,
                       std::string_view handle)
{
    const auto feed = htmlEscape(personFeedPath(person.name));
    const auto name = htmlEscape(person.name);
    std::string list = postList(posts, false);
    if (audience != Audience::everyone)
        list = (posts.empty() ? std::string() : list + "\n") + "<p class=\"private\">" + name +
               (audience == Audience::followers ? " shares their songs with the followers they approve."
                                                : " keeps their songs to themselves.") +
               "</p>";
    if (!handle.empty())
        list += "\n<p>On the fediverse: <strong class=\"handle\">" + htmlEscape(handle) + "</strong></p>";
    return page(person.name + " on Tunalo",
                "<h1>What " + name + " listens to</h1>\n" + list + "\n<p><a href=\"" +
                    feed + "\">Follow " + name +
                    " in a feed reader</a> &middot; <a href=\"/fb/feed\">Everyone's songs</a></p>",
                "<link rel=\"alternate\" type=\"application/atom+xml\" href=\"" + feed + "\">");
}

std::string continueSignInPage(std::string_view target)
{
    const auto address = htmlEscape(target);
    return page("Tunalo", "<p><a href=\"" + address + "\">Continue to Tunalo</a></p>",
                "<meta http-equiv=\"refresh\" content=\"0;url=" + address + "\">");
}

std::string errorPage(int status)
{
    const auto title = "Error " + std::to_string(status);
    return page(title, "<h1>" + title + "</h1><p><a href=\"/\">Tunalo</a></p>");
}

} // namespace tunalo::service
