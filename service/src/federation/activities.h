#pragma once

#include "federation/keys.h"
#include "store/store.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

// The documents a person's fediverse account is made of, as ActivityStreams JSON: the actor, its
// collections, the notes of their songs and the activities that carry them to followers.
namespace tunalo::service::activities {

using Json = nlohmann::json;

inline constexpr std::string_view activityType = "application/activity+json";
// What the service asks another server for when it wants a document rather than a page.
inline constexpr std::string_view acceptActivity =
    "application/activity+json, application/ld+json; profile=\"https://www.w3.org/ns/activitystreams\"";
inline constexpr std::string_view publicAudience = "https://www.w3.org/ns/activitystreams#Public";

// Where a person's documents live on a site (scheme://host[:port], no trailing slash).
struct Addresses {
    std::string actor;     // also the person's page for a browser
    std::string inbox;
    std::string outbox;
    std::string followers;
    std::string key;       // the actor's public key: actor#main-key
    std::string sharedInbox;
    static Addresses of(std::string_view site, std::string_view name);
    std::string note(std::int64_t postId) const;
};

// host[:port] of a site: what follows the @ in a handle.
std::string handleHost(std::string_view site);

// The service's own actor: an Application that signs what the service fetches from other servers,
// since servers in secure mode answer only signed fetches. Its handle is HOST@HOST.
inline constexpr std::string_view instancePath = "/fb/actor";
std::string instanceActor(std::string_view site);
std::string instanceKey(std::string_view site);
Json instance(std::string_view site, const std::string& publicPem);
// Its outbox, which holds nothing: the service posts nothing as itself.
Json instanceOutbox(std::string_view site);

Json person(const User& user, const Addresses& at, const std::string& publicPem);
// The note as a Create carries it; noteDocument is the same note as a document of its own, as it
// is served at its id.
Json note(const Post& post, const Addresses& at, Audience audience);
Json noteDocument(const Post& post, const Addresses& at, Audience audience);
Json create(const Post& post, const Addresses& at, Audience audience);
Json remove(std::int64_t postId, const Addresses& at);
Json accept(const Json& follow, const Addresses& at);
Json outbox(const std::vector<Post>& posts, const Addresses& at, Audience audience);
Json followers(std::int64_t count, const Addresses& at);
Json tombstone(std::int64_t postId, const Addresses& at);

// WebFinger's answer for a person, or the instance's actor, at its actor's address.
Json webfinger(std::string_view name, std::string_view site, std::string_view actor);
Json nodeinfoLinks(std::string_view site);
Json nodeinfo(const Counts& counts);

// Whether an Accept header asks for ActivityStreams rather than a page.
bool wantsActivity(std::string_view accept);

// The id an activity gives for a field that holds an object or its id; empty when neither.
std::string idOf(const Json& field);

// What a ListenBrainz-compatible service takes as "playing now" for a song written
// "ARTIST - TITLE"; empty for a song without the dash, since such a service needs both.
std::optional<Json> playingNow(std::string_view song);
// The same service's listen that counts: the song, when it began (seconds since 1970), its length
// in milliseconds when known (0: not) and the player it came from when known.
std::optional<Json> singleListen(std::string_view song, std::int64_t listenedAt, std::int64_t lengthMs,
                                 std::string_view player = {});

} // namespace tunalo::service::activities
