// The documents of a person's fediverse account as another server reads them.
#include "base/listenrule.h"
#include "federation/activities.h"
#include "site/pages.h"

#include <gtest/gtest.h>

using namespace tunalo::service;
namespace as = tunalo::service::activities;

namespace {

const std::string site = "https://tunalo.example:8443";

TEST(Activities, APersonIsFoundByHandleAndDescribesItsKeyAndInboxes)
{
    const auto at = as::Addresses::of(site, "Zoë");
    EXPECT_EQ(at.actor, site + "/fb/u/Zo%C3%AB");
    const auto finger = as::webfinger("Zoë", site, at.actor);
    EXPECT_EQ(finger["subject"], "acct:Zoë@tunalo.example:8443");
    EXPECT_EQ(finger["links"][0]["rel"], "self");
    EXPECT_EQ(finger["links"][0]["type"], "application/activity+json");
    EXPECT_EQ(finger["links"][0]["href"], at.actor);

    const auto person = as::person({1, "Zoë"}, at, "PEM");
    EXPECT_EQ(person["@context"], as::Json::array({"https://www.w3.org/ns/activitystreams",
                                                   "https://w3id.org/security/v1"}));
    EXPECT_EQ(person["type"], "Person");
    EXPECT_EQ(person["preferredUsername"], "Zoë");
    EXPECT_EQ(person["inbox"], at.actor + "/inbox");
    EXPECT_EQ(person["endpoints"]["sharedInbox"], site + "/fb/inbox");
    EXPECT_EQ(person["publicKey"]["id"], at.actor + "#main-key");
    EXPECT_EQ(person["publicKey"]["owner"], at.actor);
    EXPECT_EQ(person["publicKey"]["publicKeyPem"], "PEM");
}

// The song is text, not markup, wherever it goes; who sees it follows the person's choice.
TEST(Activities, ANoteSaysWhoListensToWhatAndIsAddressedAsChosen)
{
    const auto at = as::Addresses::of(site, "ann");
    const Post post{42, "ann", "<b>AC/DC</b> & \"Friends\"", 1700000000};
    const auto create = as::create(post, at, Audience::followers);
    EXPECT_EQ(create["type"], "Create");
    EXPECT_EQ(create["actor"], at.actor);
    const auto& note = create["object"];
    EXPECT_EQ(note["id"], site + "/fb/u/ann/posts/42");
    EXPECT_EQ(note["content"], "<p>ann is listening to &lt;b&gt;AC/DC&lt;/b&gt; &amp; &quot;Friends&quot;</p>");
    EXPECT_EQ(note["published"], "2023-11-14T22:13:20Z");
    EXPECT_EQ(note["to"], as::Json::array({at.followers}));
    EXPECT_EQ(note["to"], create["to"]) << "the activity goes where its note goes";

    const auto open = as::note(post, at, Audience::everyone);
    EXPECT_EQ(open["to"], as::Json::array({std::string(as::publicAudience)}));
    EXPECT_EQ(open["cc"], as::Json::array({at.followers}));

    const auto removal = as::remove(42, at);
    EXPECT_EQ(removal["type"], "Delete");
    EXPECT_EQ(removal["object"]["id"], note["id"]);

    EXPECT_TRUE(as::outbox({post}, at, Audience::followers)["orderedItems"].empty())
        << "a public outbox lists no post meant for followers";
    EXPECT_EQ(as::outbox({post}, at, Audience::everyone)["totalItems"], 1);
}

TEST(Activities, AnAcceptCarriesTheFollowAndIsTheSameForTheSameFollow)
{
    const auto at = as::Addresses::of(site, "ann");
    const as::Json follow = {{"id", "https://elsewhere.example/follows/1"}, {"type", "Follow"},
                             {"actor", "https://elsewhere.example/users/bo"}, {"object", at.actor}};
    const auto accept = as::accept(follow, at);
    EXPECT_EQ(accept["type"], "Accept");
    EXPECT_EQ(accept["actor"], at.actor);
    EXPECT_EQ(accept["object"], follow);
    EXPECT_EQ(accept["id"], as::accept(follow, at)["id"]);
    auto other = follow;
    other["id"] = "https://elsewhere.example/follows/2";
    EXPECT_NE(accept["id"], as::accept(other, at)["id"]);
}

TEST(Activities, AnAcceptHeaderAsksForActivitiesOnlyWithTheirTypes)
{
    const std::pair<const char*, bool> cases[] = {
        {"application/activity+json", true},
        {"application/ld+json; profile=\"https://www.w3.org/ns/activitystreams\"", true},
        {"Application/Activity+JSON, text/html;q=0.1", true},
        {"application/ld+json", false}, // JSON-LD of any other vocabulary
        {"text/html,application/xhtml+xml", false},
        {"", false},
    };
    for (const auto& [accept, wanted] : cases)
        EXPECT_EQ(as::wantsActivity(accept), wanted) << accept;
}

TEST(Activities, ASongIsPlayingNowWhenItNamesArtistAndTitle)
{
    const auto listen = as::playingNow("Nina Simone - Feeling Good - Live");
    ASSERT_TRUE(listen);
    EXPECT_EQ((*listen)["listen_type"], "playing_now");
    const auto& track = (*listen)["payload"][0]["track_metadata"];
    EXPECT_EQ(track["artist_name"], "Nina Simone");
    EXPECT_EQ(track["track_name"], "Feeling Good - Live") << "split at the first dash";
    EXPECT_EQ(track["additional_info"]["submission_client"], "Tunalo");
    EXPECT_FALSE((*listen)["payload"][0].contains("listened_at")) << "playing now has no time";
    for (const char* song : {"Untitled", " - Title", "Artist - ", "Artist-Title"})
        EXPECT_FALSE(as::playingNow(song)) << song;
}

// Half the song or four minutes, whichever is shorter; never a song under 30 s; four minutes when
// the length is not known.
TEST(Activities, AListenCountsOnceHeardHalfTheSongOrFourMinutes)
{
    struct Row {
        std::int64_t lengthMs;
        std::int64_t heardMs;
        bool counts;
    };
    const Row rows[] = {
        {40'000, 20'000, true},   {40'000, 19'999, false}, {40'000, 10'000, false}, {600'000, 240'000, true},
        {600'000, 239'999, false}, {30'000, 15'000, true},  {29'999, 29'999, false}, {0, 240'000, true},
        {0, 239'999, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(countsAsListen(row.lengthMs, row.heardMs), row.counts) << row.lengthMs << " heard " << row.heardMs;

    const auto listen = as::singleListen("Nina Simone - Feeling Good", 1700000000, 40'000);
    ASSERT_TRUE(listen);
    EXPECT_EQ((*listen)["listen_type"], "single");
    EXPECT_EQ((*listen)["payload"][0]["listened_at"], 1700000000);
    const auto& info = (*listen)["payload"][0]["track_metadata"]["additional_info"];
    EXPECT_EQ(info["duration_ms"], 40'000);
    EXPECT_EQ(info["submission_client"], "Tunalo");
    EXPECT_FALSE(as::singleListen("Nina Simone - Feeling Good", 1700000000, 0)
                     ->at("payload")[0]["track_metadata"]["additional_info"].contains("duration_ms"))
        << "a length not known is not sent";
}

TEST(Activities, TheHomePageShowsTheHandleAndNeverTheWholeToken)
{
    Reach reach;
    reach.handle = "@ann@tunalo.example";
    reach.followers = 3;
    reach.destinations = {Audience::everyone, "https://api.listenbrainz.org", "secret-token-abcd", "401"};
    const auto html = loggedInPage({1, "ann"}, {}, site, reach);
    EXPECT_NE(html.find("@ann@tunalo.example"), std::string::npos);
    EXPECT_NE(html.find("value=\"public\" checked"), std::string::npos);
    EXPECT_EQ(html.find("secret-token"), std::string::npos);
    EXPECT_NE(html.find("ending in abcd"), std::string::npos);
    EXPECT_NE(html.find("refused your token (401)"), std::string::npos);
    EXPECT_EQ(loggedInPage({1, "ann"}, {}, site).find("fediverse"), std::string::npos)
        << "no handle where the service does not federate";
}

} // namespace
