#include "service.h"

#include "base/links.h"
#include "base/text.h"
#include "federation/mastodon.h"
#include "http/requestlog.h"
#include "serviceprotocol.h"
#include "site/atom.h"
#include "site/icon.h"
#include "site/pages.h"
#include "site/validators.h"

#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <cctype>
#include <ctime>

namespace tunalo::service {

namespace {

constexpr const char* cookieName = "tunalo_session";
constexpr std::string_view homePath = protocol::kHomePath;
constexpr std::size_t maxPasswordBytes = 1024;
constexpr std::size_t minPasswordChars = 8;
constexpr int retryAfterSeconds = 2;

// Messages the log-in page shows after a redirect; the address carries only their key, so
// nothing a visitor writes into it reaches the page.
struct Message {
    std::string_view key;
    std::string_view text;
};
constexpr Message messages[] = {
    {"wrong", "Wrong name or password. Please try again."},
    {"signups",
     "Too many accounts were created from your address just now. Please wait a minute and try again."},
    {"taken", "That name is taken. Please choose another one."},
    {"name", "Please choose a name of 1 to 40 letters or digits (\".\", \"_\" and \"-\" may join them)."},
    {"feedname", "A name cannot end in \".atom\", the ending of feed addresses. Please choose another one."},
    {"short", "Please choose a password of at least 8 characters."},
    {"busy", "The service could not do that just now. Please try again."},
    {"out", "You are logged out."},
    {"saved", "Your choices are saved."},
    {"answered", "Your answer is on its way to their server."},
    {"listenurl", "Please give the listening service's address as https://HOST[:PORT][/PATH] and a token of "
                  "letters, digits and dashes."},
    {"mastodonserver", "Please give your Mastodon server's address, such as mastodon.social."},
    {"mastodonfailed", "Your Mastodon server could not be reached, or did not let Tunalo in. Please try again."},
    {"mastodon", "Your songs go to your Mastodon account from now on."},
    {"mastodonstopped", "Your songs no longer go to your Mastodon account."},
};

std::string_view messageFor(std::string_view key)
{
    for (const auto& message : messages)
        if (message.key == key)
            return message.text;
    return {};
}

constexpr Service::Route routes[] = {
    {http::verb::get, protocol::kRootPath, &Service::about, false},
    {http::verb::get, homePath, &Service::home, false},
    {http::verb::get, recentSongsPath, &Service::recent, false},
    {http::verb::get, recentSongsScriptPath, &Service::recentScript, false},
    {http::verb::get, "/fb/feed", &Service::feed, false},
    {http::verb::get, "/fb/feed.json", &Service::feedAsJson, false},
    // Posts on GET only: a HEAD request, which proxies and link checkers send freely, posts nothing.
    {http::verb::get, protocol::kPostPath, &Service::update, true},
    {http::verb::post, "/fb/login", &Service::login, true},
    {http::verb::post, "/fb/register", &Service::registerAccount, true},
    {http::verb::post, "/fb/logout", &Service::logout, true},
    {http::verb::get, personPrefix, &Service::person, false, true},
    // Other servers post activities here; their signature, not a cookie, says who they are.
    {http::verb::post, personPrefix, &Service::personInbox, false, true},
    {http::verb::post, "/fb/inbox", &Service::federated<&Federation::sharedInbox>, false},
    {http::verb::get, activities::instancePath, &Service::federated<&Federation::instanceDocument>, false,
     true},
    {http::verb::post, "/fb/destinations", &Service::saveDestinations, true},
    {http::verb::post, followersFormPath, &Service::answerFollower, true},
    {http::verb::get, iconPath, &Service::icon, false},
    {http::verb::post, mastodonConnectPath, &Service::connectMastodon, true},
    // The person's server sends them back here from its own site: the state, not the request's
    // origin, says that it answers the sign-in this person started.
    {http::verb::get, mastodonCallbackPath, &Service::mastodonCallback, false},
    {http::verb::post, mastodonStylePath, &Service::saveMastodonStyle, true},
    {http::verb::post, mastodonDisconnectPath, &Service::disconnectMastodon, true},
    {http::verb::get, "/.well-known/webfinger", &Service::federated<&Federation::webfinger>, false},
    {http::verb::get, "/.well-known/nodeinfo", &Service::federated<&Federation::nodeinfoLinks>, false},
    {http::verb::get, "/nodeinfo/2.1", &Service::federated<&Federation::nodeinfo>, false},
};

Response htmlResponse(http::status status, std::string html)
{
    Response response{status, 11};
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.set(http::field::cache_control, "no-store");
    response.body() = std::move(html);
    return response;
}

Response htmlPage(std::string html)
{
    return htmlResponse(http::status::ok, std::move(html));
}

Response redirectHome(std::string_view messageKey = {})
{
    Response response{http::status::see_other, 11};
    std::string location(homePath);
    if (!messageKey.empty())
        location += "?m=" + std::string(messageKey);
    response.set(http::field::location, location);
    return response;
}

Response errorResponse(http::status status)
{
    return htmlResponse(status, errorPage(static_cast<int>(status)));
}

// The hashing queue is full, or the database down or late: the client may try again in a moment.
Response busyResponse()
{
    auto response = errorResponse(http::status::service_unavailable);
    response.set(http::field::retry_after, std::to_string(retryAfterSeconds));
    return response;
}

std::string cookieValue(const Request& request)
{
    const std::string_view header = request[http::field::cookie];
    const std::string wanted = std::string(cookieName) + "=";
    for (std::size_t start = 0; start < header.size();) {
        while (start < header.size() && header[start] == ' ')
            ++start;
        const auto end = std::min(header.find(';', start), header.size());
        if (header.substr(start).starts_with(wanted))
            return std::string(header.substr(start + wanted.size(), end - start - wanted.size()));
        start = end + 1;
    }
    return {};
}

std::string trimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// A number of the post page's query (the post to delete, a length, a time heard): decimal digits,
// blanks around them allowed (the program may send a trailing blank). Anything else is no number,
// and deletes or tells nothing.
std::optional<std::int64_t> wholeNumberFrom(const std::string& text)
{
    const auto digits = trimBlanks(text);
    if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(digits);
}

struct Credentials {
    std::string name;
    std::string password;
};

Credentials credentialsFrom(const Request& request)
{
    auto form = parseForm(request.body());
    return {trimBlanks(form["name"]), form["password"].substr(0, maxPasswordBytes)};
}

bool isLoopback(std::string_view address)
{
    return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

} // namespace

Service::Service(Store& store, const Clock& clock, std::string publicUrl, std::string listening,
                 bool allowPrivatePeers)
    : m_store(store), m_clock(clock), m_publicOrigin(asciiLower(publicUrl)),
      m_site(m_publicOrigin.empty() ? std::move(listening) : m_publicOrigin),
      m_secureCookie(m_publicOrigin.starts_with("https://")), m_allowPrivatePeers(allowPrivatePeers),
      m_peers(PeerClient::Limits{}, allowPrivatePeers)
{
    prepareText();
    m_delivery = std::make_unique<Delivery>(m_store, m_publicOrigin, m_peers, m_clock);
    if (m_publicOrigin.empty())
        return;
    Workers workers{[this](const CallPtr& call, std::function<void()> step) { withStore(call, std::move(step)); },
                    [this](const CallPtr& call, std::function<void()> step) { onHashingPool(call, std::move(step)); },
                    [this] { m_delivery->wake(); }};
    m_federation = std::make_unique<Federation>(m_store, m_publicOrigin, m_peers, std::move(workers), m_clock);
}

Service::~Service()
{
    m_delivery->stop();
    m_hashing.stop();
    m_database.stop();
}

bool Service::takesActivities(std::string_view path)
{
    return path == "/fb/inbox" || (path.starts_with(personPrefix) && path.ends_with("/inbox"));
}

void Service::handle(const CallPtr& call)
{
    guarded(call, [&] { route(call); });
}

void Service::guarded(const CallPtr& call, const std::function<void()>& step)
{
    const auto path = call->request.target().substr(0, call->request.target().find('?'));
    try {
        step();
    } catch (const DatabaseUnavailable& e) {
        logFailure(call->request.method_string(), path, e.what());
        call->answer(busyResponse());
    } catch (const std::exception& e) {
        logFailure(call->request.method_string(), path, e.what());
        call->answer(errorResponse(http::status::internal_server_error));
    }
}

void Service::withStore(const CallPtr& call, std::function<void()> step)
{
    const bool queued = m_database.submit([this, call, step = std::move(step)](bool admitted) {
        if (!admitted)
            return call->answer(busyResponse());
        guarded(call, [&] {
            try {
                step();
            } catch (const DatabaseUnavailable&) {
                m_database.reached(false);
                throw;
            }
            m_database.reached(true);
        });
    });
    if (!queued)
        call->answer(busyResponse());
}

void Service::onHashingPool(const CallPtr& call, std::function<void()> step)
{
    const bool queued = m_hashing.submit([this, call, step = std::move(step)] { guarded(call, step); });
    if (!queued)
        call->answer(busyResponse());
}

void Service::route(const CallPtr& call)
{
    const auto& request = call->request;
    const auto target = request.target();
    const auto path = target.substr(0, target.find('?'));
    // One path may have a page for GET and another for POST.
    const Route* found = nullptr;
    const Route* other = nullptr;
    for (const auto& route : routes) {
        if (route.path != path && !(route.below && path.starts_with(route.path)))
            continue;
        const bool fits = request.method() == route.verb ||
                          (request.method() == http::verb::head && route.verb == http::verb::get);
        (fits ? found : other) = &route;
    }
    if (!found && !other)
        return call->answer(errorResponse(http::status::not_found));
    if (!found || (request.method() == http::verb::head && found->changesState)) {
        auto response = errorResponse(http::status::method_not_allowed);
        response.set(http::field::allow, (found ? found : other)->verb == http::verb::get ? "GET" : "POST");
        return call->answer(std::move(response));
    }
    if (found->changesState && fromAnotherSite(request))
        return call->answer(
            htmlResponse(http::status::forbidden,
                         notPostedPage(failedTitle, "This came from another site; nothing was done.")));
    (this->*found->page)(call);
}

// A browser says where a request comes from: Sec-Fetch-Site for every request it makes, Origin
// for forms. A load the user or the embedding program starts says "none"; a client that sends
// neither header is not a browser another site could steer. Under this service's own
// no-referrer policy a browser names the origin of its form posts "null" and says
// "same-origin" beside it; without that word a "null" origin may be any sandboxed page.
bool Service::fromAnotherSite(const Request& request) const
{
    const auto site = asciiLower(request["Sec-Fetch-Site"]);
    if (site == "cross-site")
        return true;
    const auto origin = asciiLower(request[http::field::origin]);
    if (origin.empty())
        return false;
    if (origin == "null")
        return site != "same-origin";
    const auto own =
        m_publicOrigin.empty() ? "http://" + asciiLower(request[http::field::host]) : m_publicOrigin;
    return origin != own;
}

// Behind the proxy every connection comes from loopback; the proxy names the client last in
// X-Forwarded-For (it replaces whatever the client put there itself).
std::string Service::clientOf(const Call& call) const
{
    const std::string_view forwarded = call.request["X-Forwarded-For"];
    if (m_publicOrigin.empty() || !isLoopback(call.client) || forwarded.empty())
        return call.client;
    const auto comma = forwarded.rfind(',');
    return trimBlanks(comma == std::string_view::npos ? forwarded : forwarded.substr(comma + 1));
}

void Service::about(const CallPtr& call)
{
    call->answer(htmlPage(aboutPage()));
}

// Without a session cookie the home page needs no database: it answers whatever the database does.
void Service::home(const CallPtr& call)
{
    const auto token = hashCookieValue(cookieValue(call->request));
    if (!token)
        return loggedOut(call);
    withStore(call, [this, call, token = *token] {
        const auto user = m_store.sessionUser(token, m_clock.seconds());
        if (!user)
            return loggedOut(call);
        Reach reach;
        reach.destinations = m_store.destinations(user->id);
        reach.mastodon = m_store.mastodonAccount(user->id);
        if (m_federation) {
            constexpr int followersListed = 200;
            reach.handle = handleOf(user->name);
            reach.followers = m_store.followerCount(user->id);
            reach.profile = m_store.profile(user->id);
            reach.requests = m_store.followers(user->id, false, followersListed);
            reach.following = m_store.followers(user->id, true, followersListed);
        }
        const auto query = parseQuery(call->request.target());
        const auto message = query.find("m");
        call->answer(htmlPage(loggedInPage(*user, m_store.recentPosts(homePosts, user->id), m_site, reach,
                                           message == query.end() ? std::string_view{} : messageFor(message->second))));
    });
}

// The home page's list of recent songs alone, for the page's script; the same 20 songs, with
// validators, so a list that has not changed costs a 304.
void Service::recent(const CallPtr& call)
{
    const auto token = hashCookieValue(cookieValue(call->request));
    if (!token)
        return call->answer(errorResponse(http::status::forbidden));
    withStore(call, [this, call, token = *token] {
        const auto user = m_store.sessionUser(token, m_clock.seconds());
        if (!user)
            return call->answer(errorResponse(http::status::forbidden));
        const auto posts = m_store.recentPosts(homePosts, user->id);
        answerFeed(call, posts, "text/html; charset=utf-8", recentSongsFragment(posts), "private, no-cache");
    });
}

void Service::recentScript(const CallPtr& call)
{
    Response response{http::status::ok, 11};
    response.set(http::field::content_type, "text/javascript; charset=utf-8");
    response.body() = recentSongsScript();
    answerUnlessUnchanged(call->request, response, std::nullopt);
    call->answer(std::move(response));
}

namespace {

constexpr std::string_view defaultListenUrl = "https://api.listenbrainz.org";

bool saneListenUrl(const std::string& url)
{
    const bool web = url.starts_with("https://") || url.starts_with("http://");
    return url.empty() || (web && url.size() <= 200 && url.find_first_of(" \"'<>\\") == std::string::npos &&
                           std::all_of(url.begin(), url.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; }));
}

bool saneToken(const std::string& token)
{
    return token.size() <= 100 && std::all_of(token.begin(), token.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.';
           });
}

// The person's words about themselves: their lines kept, each cleaned as any text, the whole cut
// to the longest summary.
std::string cleanSummary(std::string_view text)
{
    std::string summary;
    std::size_t left = maxSummaryChars;
    for (std::size_t start = 0; start <= text.size() && left > 0;) {
        const auto end = std::min(text.find('\n', start), text.size());
        auto line = text.substr(start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const auto cleaned = cleanText(line, left);
        left -= std::min(left, countChars(cleaned) + 1);
        summary += cleaned + "\n";
        start = end + 1;
    }
    const auto last = summary.find_last_not_of(" \n");
    return last == std::string::npos ? std::string() : summary.substr(0, last + 1);
}

Profile profileFrom(std::map<std::string, std::string>& form)
{
    return {cleanText(trimBlanks(form["display_name"]), maxDisplayNameChars), cleanSummary(form["summary"]),
            form["discoverable"] == "1", form["indexable"] == "1"};
}

} // namespace

void Service::saveDestinations(const CallPtr& call)
{
    auto form = parseForm(call->request.body());
    // The profile's fields are on the page only while the service federates.
    const auto profile = federates() ? std::optional(profileFrom(form)) : std::nullopt;
    const auto audience = audienceOfWord(form["audience"]);
    auto url = trimBlanks(form["listen_url"]);
    const auto token = trimBlanks(form["listen_token"]);
    if (url.empty() && !token.empty())
        url = defaultListenUrl;
    if (!saneListenUrl(url) || !saneToken(token))
        return call->answer(redirectHome("listenurl"));
    const auto session = hashCookieValue(cookieValue(call->request));
    if (!session)
        return loggedOut(call);
    withStore(call, [this, call, session = *session, audience, url, token, profile] {
        const auto user = m_store.sessionUser(session, m_clock.seconds());
        if (!user)
            return loggedOut(call);
        if (audience)
            m_store.setAudience(user->id, *audience);
        if (profile)
            m_store.setProfile(user->id, *profile);
        m_store.setListenService(user->id, url, token);
        call->answer(redirectHome("saved"));
    });
}

// The person's answer to a follower or a request: approve, refuse (a request) or remove (a
// follower); the follower's server hears it through the delivery jobs.
void Service::answerFollower(const CallPtr& call)
{
    if (!federates())
        return call->answer(errorResponse(http::status::not_found));
    auto form = parseForm(call->request.body());
    const auto actor = form["actor"];
    const auto action = form["do"];
    if (actor.empty() || (action != "approve" && action != "refuse" && action != "remove"))
        return call->answer(errorResponse(http::status::bad_request));
    const auto session = hashCookieValue(cookieValue(call->request));
    if (!session)
        return loggedOut(call);
    withStore(call, [this, call, session = *session, actor, action] {
        const auto user = m_store.sessionUser(session, m_clock.seconds());
        if (!user)
            return loggedOut(call);
        const auto now = m_clock.seconds();
        if (action == "approve" ? m_store.approveFollower(user->id, actor, now)
                                : m_store.refuseFollower(user->id, actor, now))
            m_delivery->wake();
        call->answer(redirectHome("answered"));
    });
}

void Service::icon(const CallPtr& call)
{
    Response response{http::status::ok, 11};
    response.set(http::field::content_type, "image/png");
    response.set(http::field::cache_control, "max-age=86400");
    response.set(http::field::access_control_allow_origin, "*");
    response.body() = std::string(serviceIcon());
    answerUnlessUnchanged(call->request, response, std::nullopt);
    call->answer(std::move(response));
}

std::string Service::handleOf(const std::string& name) const
{
    return "@" + name + "@" + activities::handleHost(m_site);
}

void Service::loggedOut(const CallPtr& call)
{
    const auto query = parseQuery(call->request.target());
    const auto key = query.find("m");
    call->answer(htmlPage(loggedOutPage(key == query.end() ? std::string_view{} : messageFor(key->second))));
}

void Service::feed(const CallPtr& call)
{
    withStore(call, [this, call] {
        const auto posts = m_store.recentPosts(50, std::nullopt, true);
        answerFeed(call, posts, "text/html; charset=utf-8", feedPage(posts));
    });
}

void Service::feedAsJson(const CallPtr& call)
{
    withStore(call, [this, call] {
        const auto posts = m_store.recentPosts(50, std::nullopt, true);
        answerFeed(call, posts, "application/json", feedJson(posts));
    });
}

// Feeds are read again and again by the same readers: a reader that holds the current version gets
// a 304 instead of the body. A feed changes only with a new post (a deletion comes with one), so
// the newest post's time is its Last-Modified.
void Service::answerFeed(const CallPtr& call, const std::vector<Post>& posts, std::string_view type,
                         std::string body, std::string_view cacheControl)
{
    Response response{http::status::ok, 11};
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, cacheControl);
    response.body() = std::move(body);
    answerUnlessUnchanged(call->request, response,
                          posts.empty() ? std::nullopt : std::optional(posts.front().postedAt));
    call->answer(std::move(response));
}

void Service::person(const CallPtr& call)
{
    const auto target = call->request.target();
    const auto tail = percentDecode(target.substr(0, target.find('?')).substr(personPrefix.size()));
    const auto wanted = personRequestFrom(tail);
    const auto slash = tail.find('/');
    // The fediverse asks for the person's account at the address of their page.
    const bool document = slash != std::string::npos ||
                          (!wanted.feed && activities::wantsActivity(call->request[http::field::accept]));
    if (document && m_federation)
        return m_federation->personDocument(call, tail.substr(0, slash),
                                            slash == std::string::npos ? std::string{} : tail.substr(slash + 1));
    if (slash != std::string::npos)
        return call->answer(errorResponse(http::status::not_found));
    withStore(call, [this, call, wanted] {
        const auto account = m_store.findAccount(nameKey(wanted.name));
        if (!account)
            return call->answer(errorResponse(http::status::not_found));
        // Others see only the songs posted for everyone, the person too: their own are on their home page.
        const auto posts = m_store.recentPosts(personPosts, account->user.id, true);
        if (!wanted.feed)
            return call->answer(htmlPage(personPage(account->user, posts,
                                                    m_store.destinations(account->user.id).audience,
                                                    federates() ? handleOf(account->user.name) : std::string())));
        // Feed readers ask often; a minute of caching spares the database without hiding a song long.
        answerFeed(call, posts, "application/atom+xml; charset=utf-8", personAtom(account->user, posts, m_site),
                   "max-age=60");
    });
}

void Service::personInbox(const CallPtr& call)
{
    const auto target = call->request.target();
    const auto path = target.substr(0, target.find('?'));
    constexpr std::string_view inboxSuffix = "/inbox";
    if (!m_federation || !takesActivities(path) || path == "/fb/inbox")
        return call->answer(errorResponse(http::status::not_found));
    const auto name = percentDecode(path.substr(personPrefix.size(), path.size() - personPrefix.size() - inboxSuffix.size()));
    if (name.empty() || name.find('/') != std::string::npos)
        return call->answer(errorResponse(http::status::not_found));
    m_federation->inbox(call, name);
}

template <void (Federation::*page)(const CallPtr&)>
void Service::federated(const CallPtr& call)
{
    if (!m_federation)
        return call->answer(errorResponse(http::status::not_found));
    (m_federation.get()->*page)(call);
}

namespace {

// A post's key as the program makes it: 1 to 64 letters, digits, "-" and "_". Anything else is
// taken for no key, so the request posts as one without a key does.
std::optional<std::string> postKeyFrom(const std::string& text)
{
    constexpr std::size_t kLongestKey = 64;
    const bool sane = !text.empty() && text.size() <= kLongestKey &&
                      std::all_of(text.begin(), text.end(), [](unsigned char c) {
                          return std::isalnum(c) != 0 || c == '-' || c == '_';
                      });
    return sane ? std::optional<std::string>(text) : std::nullopt;
}

} // namespace

void Service::update(const CallPtr& call)
{
    const auto notLoggedIn = [call] {
        call->answer(htmlPage(notPostedPage(failedTitle, "You are not logged in; nothing was posted.")));
    };
    const auto token = hashCookieValue(cookieValue(call->request));
    if (!token)
        return notLoggedIn();
    auto query = parseQuery(call->request.target());
    auto song = cleanText(query[std::string(protocol::kSongKey)], maxSongChars);
    const auto deleteId = wholeNumberFrom(query[std::string(protocol::kDeleteKey)]);
    auto key = postKeyFrom(query[std::string(protocol::kPostKeyKey)]);
    // How the program heard: this song's length, and how long the song of its post before was heard.
    const auto lengthMs = wholeNumberFrom(query[std::string(protocol::kLengthKey)]).value_or(0);
    constexpr std::size_t longestPlayerName = 100;
    auto player = cleanText(query[std::string(protocol::kPlayerKey)], longestPlayerName);
    auto heardKey = postKeyFrom(query[std::string(protocol::kHeardPostKey)]);
    const auto heardMs = wholeNumberFrom(query[std::string(protocol::kHeardKey)]);
    // The post is confirmed only once the store has committed it.
    withStore(call, [this, call, token = *token, song = std::move(song), deleteId, key = std::move(key),
                     lengthMs, player = std::move(player), heardKey = std::move(heardKey), heardMs, notLoggedIn] {
        const auto user = m_store.sessionUser(token, m_clock.seconds());
        if (!user)
            return notLoggedIn();
        if (isBlank(song))
            return call->answer(htmlPage(notPostedPage(failedTitle, "There was no song to post.")));
        // Before the post, which may delete the one the word is about.
        if (heardKey && heardMs)
            m_store.queueListen(user->id, *heardKey, *heardMs, m_clock.seconds());
        const auto id = m_store.addPost(user->id, song, deleteId, m_clock.seconds(), key, federates());
        if (key)
            m_store.keepForListen(user->id, *key, song, lengthMs, player);
        m_delivery->wake();
        call->answer(htmlPage(postedPage(id)));
    });
}

std::string Service::sessionCookie(const std::string& value, std::int64_t maxAge) const
{
    return std::string(cookieName) + "=" + value + "; Max-Age=" + std::to_string(maxAge) +
           "; Path=/; HttpOnly; SameSite=Strict" + (m_secureCookie ? "; Secure" : "");
}

// On a database thread.
void Service::startSession(const User& user, Response& response)
{
    const auto token = newSessionToken();
    const auto start = m_clock.seconds();
    m_store.addSession(token.hash, user.id, start, start + sessionSeconds);
    response.set(http::field::set_cookie, sessionCookie(token.cookieValue, sessionSeconds));
}

// Wrong passwords for a name make the next try for it wait, on a timer of the connection's
// own: no thread waits, and the owner with the right password still gets in.
void Service::login(const CallPtr& call)
{
    const auto credentials = credentialsFrom(call->request);
    withStore(call, [this, call, key = nameKey(credentials.name), password = credentials.password] {
        const auto delay = loginDelay(m_store.loginFailures(key, m_clock.seconds() - failureMemorySeconds));
        if (delay.count() == 0)
            return checkPassword(call, key, password);
        auto timer = std::make_shared<asio::steady_timer>(call->executor, delay);
        timer->async_wait([this, call, timer, key, password](boost::system::error_code) {
            withStore(call, [this, call, key, password] { checkPassword(call, key, password); });
        });
    });
}

// On a database thread: the account, then the hash on the hashing pool, then what it showed back
// on a database thread.
void Service::checkPassword(const CallPtr& call, const std::string& key, const std::string& password)
{
    const auto account = m_store.findAccount(key);
    onHashingPool(call, [this, call, key, password, account] {
        const auto stored = account ? std::optional(account->passwordHash) : std::nullopt;
        const bool right = m_hasher.verify(stored, password);
        withStore(call, [this, call, key, account, right] {
            if (!right) {
                m_store.recordLoginFailure(key, m_clock.seconds(), m_clock.seconds() - failureMemorySeconds);
                return call->answer(redirectHome("wrong"));
            }
            m_store.clearLoginFailures(key);
            auto response = redirectHome();
            startSession(account->user, response);
            call->answer(std::move(response));
        });
    });
}

void Service::registerAccount(const CallPtr& call)
{
    const auto credentials = credentialsFrom(call->request);
    if (!validName(credentials.name, maxNameChars))
        return call->answer(redirectHome("name"));
    if (countChars(credentials.password) < minPasswordChars)
        return call->answer(redirectHome("short"));
    const auto key = nameKey(credentials.name);
    if (isFeedName(key))
        return call->answer(redirectHome("feedname"));
    // The service's own actor goes by its host's name on the fediverse (HOST@HOST).
    if (m_federation && key == nameKey(activities::handleHost(m_federation->site())))
        return call->answer(redirectHome("taken"));
    withStore(call, [this, call, credentials, key, client = clientOf(*call)] {
        if (m_store.findAccount(key))
            return call->answer(redirectHome("taken"));
        if (!m_store.takeSignUpSlot(client, m_clock.seconds(), m_clock.seconds() - 60, signUpsPerMinute))
            return call->answer(redirectHome("signups"));
        createAccount(call, credentials.name, key, credentials.password);
    });
}

void Service::createAccount(const CallPtr& call, const std::string& name, const std::string& key,
                            const std::string& password)
{
    onHashingPool(call, [this, call, name, key, password] {
        const auto hash = m_hasher.hash(password);
        if (!hash)
            return call->answer(redirectHome("busy"));
        // The account's key pair for the fediverse is made here, away from the database's threads.
        auto keys = federates() ? std::optional(makeKeyPair()) : std::nullopt;
        withStore(call, [this, call, name, key, hash = *hash, keys = std::move(keys)] {
            const auto user = m_store.createUser(name, key, hash, m_clock.seconds());
            if (!user)
                return call->answer(redirectHome("taken"));
            if (keys)
                m_store.keepKeys(user->id, *keys);
            auto response = redirectHome();
            startSession(*user, response);
            call->answer(std::move(response));
        });
    });
}

void Service::logout(const CallPtr& call)
{
    const auto answer = [this, call] {
        auto response = redirectHome("out");
        response.set(http::field::set_cookie, sessionCookie("", 0));
        call->answer(std::move(response));
    };
    const auto token = hashCookieValue(cookieValue(call->request));
    if (!token)
        return answer();
    withStore(call, [this, token = *token, answer] {
        m_store.removeSession(token);
        answer();
    });
}

void Service::asUser(const CallPtr& call, std::function<void(const User&)> step)
{
    const auto session = hashCookieValue(cookieValue(call->request));
    if (!session)
        return loggedOut(call);
    withStore(call, [this, call, session = *session, step = std::move(step)] {
        const auto user = m_store.sessionUser(session, m_clock.seconds());
        if (!user)
            return loggedOut(call);
        step(*user);
    });
}

std::string Service::mastodonRedirect() const
{
    return m_site + std::string(mastodonCallbackPath);
}

// The service registers itself once per server; every request to the server goes through the peer
// client, and its answer comes back to a database thread, so no thread waits for the server.
void Service::connectMastodon(const CallPtr& call)
{
    auto form = parseForm(call->request.body());
    const auto server = mastodon::serverFrom(form["server"], m_allowPrivatePeers);
    if (!server)
        return call->answer(redirectHome("mastodonserver"));
    asUser(call, [this, call, server = *server](const User& user) {
        if (const auto app = m_store.mastodonApp(server, mastodonRedirect()))
            return sendToAuthorize(call, user, *app);
        registerAt(call, user, server);
    });
}

void Service::registerAt(const CallPtr& call, const User& user, const std::string& server, bool olderScopes)
{
    const auto scopes = olderScopes ? mastodon::olderScopes : mastodon::scopes;
    m_peers.send(mastodon::registration(server, mastodonRedirect(), scopes),
                 [this, call, user, server, scopes, olderScopes](PeerAnswer answer) {
                     // A server from before the profile scope refuses it (Mastodon before 4.3 with
                     // 422, others with 400); it knows the older one.
                     if ((answer.status == 400 || answer.status == 422) && !olderScopes)
                         return registerAt(call, user, server, true);
                     const auto app = mastodon::appFrom(server, mastodonRedirect(), scopes, answer);
                     if (!app) {
                         logNote("registering at " + escapeForLog(server) + " failed: " +
                                 (answer.answered() ? "answered " + std::to_string(answer.status) : answer.error));
                         return call->answer(redirectHome("mastodonfailed"));
                     }
                     withStore(call, [this, call, user, app = *app] {
                         sendToAuthorize(call, user, m_store.keepMastodonApp(app));
                     });
                 });
}

void Service::sendToAuthorize(const CallPtr& call, const User& user, const MastodonApp& app)
{
    const MastodonSignIn signIn{app.server, mastodon::newState(), mastodon::newVerifier()};
    m_store.startMastodonSignIn(user.id, signIn, m_clock.seconds());
    Response response{http::status::see_other, 11};
    response.set(http::field::location, mastodon::authorizeUrl(app, mastodonRedirect(), signIn));
    call->answer(std::move(response));
}

void Service::mastodonCallback(const CallPtr& call)
{
    auto query = parseQuery(call->request.target());
    const auto code = query["code"];
    const auto state = query["state"];
    if (code.empty() || state.empty())
        return call->answer(redirectHome("mastodonfailed"));
    // A redirect from the person's server is a navigation from another site, which brings no
    // SameSite=Strict cookie; the same address again, asked for by our own page, brings it.
    if (cookieValue(call->request).empty() && query["again"].empty())
        return call->answer(htmlPage(continueSignInPage(std::string(mastodonCallbackPath) + "?code=" +
                                                        percentEncode(code) + "&state=" + percentEncode(state) +
                                                        "&again=1")));
    asUser(call, [this, call, code, state](const User& user) {
        const auto signIn = m_store.takeMastodonSignIn(user.id, state, m_clock.seconds());
        const auto app = signIn ? m_store.mastodonApp(signIn->server, mastodonRedirect()) : std::nullopt;
        if (!app)
            return call->answer(redirectHome("mastodonfailed"));
        exchangeCode(call, user, *app, code, signIn->verifier);
    });
}

void Service::exchangeCode(const CallPtr& call, const User& user, const MastodonApp& app, const std::string& code,
                           const std::string& verifier)
{
    const auto failed = [call] { call->answer(redirectHome("mastodonfailed")); };
    m_peers.send(mastodon::tokenExchange(app, mastodonRedirect(), code, verifier), [=, this](PeerAnswer answer) {
        const auto token = mastodon::tokenFrom(answer);
        if (!token)
            return failed();
        m_peers.send(mastodon::credentials(app.server, *token), [=, this](PeerAnswer account) {
            const auto handle = mastodon::handleFrom(app.server, account);
            if (!handle)
                return failed();
            withStore(call, [=, this] {
                m_store.connectMastodon(user.id, app.server, *handle, *token);
                m_delivery->wake(); // statuses that waited for a new token
                call->answer(redirectHome("mastodon"));
            });
        });
    });
}

void Service::saveMastodonStyle(const CallPtr& call)
{
    auto form = parseForm(call->request.body());
    constexpr std::size_t longestWords = 200;
    auto words = cleanText(trimBlanks(form["words"]), longestWords);
    if (words.find("SONG") == std::string::npos)
        words.clear(); // words without the song would post the same status for every song
    auto visibility = form["visibility"];
    if (visibility != "public" && visibility != "unlisted" && visibility != "private")
        visibility.clear();
    asUser(call, [this, call, words, visibility](const User& user) {
        m_store.setMastodonStyle(user.id, words, visibility);
        call->answer(redirectHome("saved"));
    });
}

// The token goes at once; its revocation at the server is sent without waiting for the answer.
void Service::disconnectMastodon(const CallPtr& call)
{
    asUser(call, [this, call](const User& user) {
        const auto account = m_store.disconnectMastodon(user.id);
        const auto app =
            account.token.empty() ? std::nullopt : m_store.mastodonApp(account.server, mastodonRedirect());
        if (app)
            m_peers.send(mastodon::revocation(*app, account.token), [](PeerAnswer) {});
        call->answer(redirectHome("mastodonstopped"));
    });
}

} // namespace tunalo::service
