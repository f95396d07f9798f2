#include "federation/activities.h"

#include "base/links.h"
#include "base/text.h"

#include <algorithm>
#include <cctype>

namespace tunalo::service::activities {

namespace {

const Json contexts = Json::array({"https://www.w3.org/ns/activitystreams", "https://w3id.org/security/v1"});

// Followers only, or everyone with the followers named beside them.
void address(Json& object, const Addresses& at, Audience audience)
{
    if (audience == Audience::everyone) {
        object["to"] = Json::array({publicAudience});
        object["cc"] = Json::array({at.followers});
    } else {
        object["to"] = Json::array({at.followers});
        object["cc"] = Json::array();
    }
}


} // namespace

Addresses Addresses::of(std::string_view site, std::string_view name)
{
    Addresses at;
    at.actor = std::string(site) + personPath(name);
    at.inbox = at.actor + "/inbox";
    at.outbox = at.actor + "/outbox";
    at.followers = at.actor + "/followers";
    at.key = at.actor + "#main-key";
    at.sharedInbox = std::string(site) + "/fb/inbox";
    return at;
}

std::string Addresses::note(std::int64_t postId) const
{
    return actor + "/posts/" + std::to_string(postId);
}

std::string handleHost(std::string_view site)
{
    const auto start = site.find("://");
    return std::string(start == std::string_view::npos ? site : site.substr(start + 3));
}

std::string instanceActor(std::string_view site)
{
    return std::string(site) + std::string(instancePath);
}

std::string instanceKey(std::string_view site)
{
    return instanceActor(site) + "#main-key";
}

Json instance(std::string_view site, const std::string& publicPem)
{
    const auto actor = instanceActor(site);
    return {{"@context", contexts},
            {"id", actor},
            {"type", "Application"},
            {"preferredUsername", handleHost(site)},
            {"name", "Tunalo"},
            {"summary", "<p>The Tunalo service at " + htmlEscape(handleHost(site)) + ".</p>"},
            {"url", std::string(site) + "/"},
            // What comes to it is taken and left, as the shared inbox does with what it does not use.
            {"inbox", std::string(site) + "/fb/inbox"},
            {"outbox", actor + "/outbox"},
            {"endpoints", {{"sharedInbox", std::string(site) + "/fb/inbox"}}},
            {"manuallyApprovesFollowers", true},
            {"publicKey", {{"id", instanceKey(site)}, {"owner", actor}, {"publicKeyPem", publicPem}}}};
}

Json instanceOutbox(std::string_view site)
{
    return {{"@context", contexts},
            {"id", instanceActor(site) + "/outbox"},
            {"type", "OrderedCollection"},
            {"totalItems", 0},
            {"orderedItems", Json::array()}};
}

Json person(const User& user, const Addresses& at, const std::string& publicPem)
{
    return {{"@context", contexts},
            {"id", at.actor},
            {"type", "Person"},
            {"preferredUsername", user.name},
            {"name", user.name},
            {"summary", "<p>Songs that " + htmlEscape(user.name) + " listens to, posted by Tunalo.</p>"},
            {"url", at.actor},
            {"inbox", at.inbox},
            {"outbox", at.outbox},
            {"followers", at.followers},
            {"endpoints", {{"sharedInbox", at.sharedInbox}}},
            {"publicKey", {{"id", at.key}, {"owner", at.actor}, {"publicKeyPem", publicPem}}}};
}

Json note(const Post& post, const Addresses& at, Audience audience)
{
    Json object = {{"id", at.note(post.id)},
                   {"type", "Note"},
                   {"attributedTo", at.actor},
                   {"content", "<p>" + htmlEscape(post.user) + " is listening to " + htmlEscape(post.song) + "</p>"},
                   {"published", utcTime(post.postedAt, rfc3339)},
                   {"url", at.actor + "#post-" + std::to_string(post.id)},
                   {"tag", Json::array()}};
    address(object, at, audience);
    return object;
}

Json noteDocument(const Post& post, const Addresses& at, Audience audience)
{
    auto object = note(post, at, audience);
    object["@context"] = contexts;
    return object;
}

Json create(const Post& post, const Addresses& at, Audience audience)
{
    Json activity = {{"@context", contexts},
                     {"id", at.note(post.id) + "/activity"},
                     {"type", "Create"},
                     {"actor", at.actor},
                     {"published", utcTime(post.postedAt, rfc3339)},
                     {"object", note(post, at, audience)}};
    address(activity, at, audience);
    return activity;
}

Json remove(std::int64_t postId, const Addresses& at)
{
    return {{"@context", contexts},
            {"id", at.note(postId) + "#delete"},
            {"type", "Delete"},
            {"actor", at.actor},
            {"to", Json::array({publicAudience})},
            {"cc", Json::array({at.followers})},
            {"object", {{"id", at.note(postId)}, {"type", "Tombstone"}}}};
}

Json tombstone(std::int64_t postId, const Addresses& at)
{
    return {{"@context", contexts}, {"id", at.note(postId)}, {"type", "Tombstone"}};
}

Json accept(const Json& follow, const Addresses& at)
{
    // The follow's own id makes the accept's id unique and the same each time it is accepted again.
    return {{"@context", contexts},
            {"id", at.actor + "#accepts/" + sha256Base64(idOf(follow)).substr(0, 22)},
            {"type", "Accept"},
            {"actor", at.actor},
            {"object", follow}};
}

Json outbox(const std::vector<Post>& posts, const Addresses& at, Audience audience)
{
    auto items = Json::array();
    if (audience == Audience::everyone)
        for (const auto& post : posts)
            items.push_back(create(post, at, audience));
    return {{"@context", contexts},
            {"id", at.outbox},
            {"type", "OrderedCollection"},
            {"totalItems", items.size()},
            {"orderedItems", items}};
}

Json followers(std::int64_t count, const Addresses& at)
{
    return {{"@context", contexts}, {"id", at.followers}, {"type", "OrderedCollection"}, {"totalItems", count}};
}

Json webfinger(std::string_view name, std::string_view site, std::string_view actor)
{
    return {{"subject", "acct:" + std::string(name) + "@" + handleHost(site)},
            {"aliases", Json::array({actor})},
            {"links", Json::array({{{"rel", "self"}, {"type", activityType}, {"href", actor}},
                                   {{"rel", "http://webfinger.net/rel/profile-page"},
                                    {"type", "text/html"},
                                    {"href", actor}}})}};
}

Json nodeinfoLinks(std::string_view site)
{
    return {{"links", Json::array({{{"rel", "http://nodeinfo.diaspora.software/ns/schema/2.1"},
                                    {"href", std::string(site) + "/nodeinfo/2.1"}}})}};
}

Json nodeinfo(const Counts& counts)
{
    return {{"version", "2.1"},
            {"software",
             {{"name", "tunalo"}, {"version", TUNALO_SERVICE_VERSION}, {"homepage", "https://example.org/tunalo"}}},
            {"protocols", Json::array({"activitypub"})},
            {"services", {{"inbound", Json::array()}, {"outbound", Json::array()}}},
            {"openRegistrations", true},
            {"usage", {{"users", {{"total", counts.users}}}, {"localPosts", counts.posts}}},
            {"metadata", Json::object()}};
}

bool wantsActivity(std::string_view accept)
{
    const auto text = asciiLower(accept);
    if (text.find("application/activity+json") != std::string::npos)
        return true;
    const auto ld = text.find("application/ld+json");
    return ld != std::string::npos &&
           text.find("https://www.w3.org/ns/activitystreams", ld) != std::string::npos;
}

std::string idOf(const Json& field)
{
    if (field.is_string())
        return field.get<std::string>();
    if (field.is_object()) {
        const auto id = field.find("id");
        if (id != field.end() && id->is_string())
            return id->get<std::string>();
    }
    return {};
}

namespace {

// Artist and title, split at the song's first " - ", and what else is known of the song; none
// without an artist and a title.
std::optional<Json> trackMetadata(std::string_view song, std::int64_t lengthMs, std::string_view player)
{
    constexpr std::string_view dash = " - ";
    const auto at = song.find(dash);
    if (at == std::string_view::npos || at == 0 || at + dash.size() >= song.size())
        return std::nullopt;
    Json info = {{"submission_client", "Tunalo"}, {"submission_client_version", TUNALO_SERVICE_VERSION}};
    if (lengthMs > 0)
        info["duration_ms"] = lengthMs;
    if (!player.empty())
        info["media_player"] = std::string(player);
    return Json{{"artist_name", std::string(song.substr(0, at))},
                {"track_name", std::string(song.substr(at + dash.size()))},
                {"additional_info", info}};
}

} // namespace

std::optional<Json> playingNow(std::string_view song)
{
    const auto metadata = trackMetadata(song, 0, {});
    if (!metadata)
        return std::nullopt;
    return Json{{"listen_type", "playing_now"}, {"payload", Json::array({{{"track_metadata", *metadata}}})}};
}

std::optional<Json> singleListen(std::string_view song, std::int64_t listenedAt, std::int64_t lengthMs,
                                 std::string_view player)
{
    const auto metadata = trackMetadata(song, lengthMs, player);
    if (!metadata)
        return std::nullopt;
    return Json{{"listen_type", "single"},
                {"payload", Json::array({{{"listened_at", listenedAt}, {"track_metadata", *metadata}}})}};
}

} // namespace tunalo::service::activities
