// A person's followers elsewhere on the fediverse, played by a small server of the test's own: what
// reaches them, signed how, and what happens when their server fails. (Interoperability with an
// ActivityPub implementation nobody here wrote is judged in the fediverse test.)
#include "base/text.h"
#include "elsewhere.h"
#include "federation/activities.h"
#include "federation/federation.h"
#include "federation/httpsignature.h"
#include "federation/keys.h"
#include "manualclock.h"
#include "servicefixture.h"
#include "serviceprotocol.h"

#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <sstream>

using namespace tunalo::service;
using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

// The service with a public address of its own, allowed to reach the test's servers on loopback.
class Federating : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        if (IsSkipped())
            return;
        // The fixture's own instance does not federate; this test's instance alone sends the jobs.
        service().stop(SIGTERM);
        m_port = freePort();
        restartFederating();
    }

    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "the federating service's log:\n" << fileText(m_log);
        ServiceTest::TearDown();
    }

    void restartFederating(bool allowPrivate = true)
    {
        std::vector<std::string> options = {"--listen", "127.0.0.1:" + std::to_string(m_port), "--public-url", site()};
        if (allowPrivate)
            options.push_back("--allow-private-peers");
        m_federating.reset();
        // A log of its own for each start: the one before names the port too.
        m_log = folder() / ("federating" + std::to_string(++m_starts) + ".log");
        m_federating = std::make_unique<ServiceProcess>(database(), m_log, options);
    }

    std::string site() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::string actorOf(const std::string& name) const { return site() + "/fb/u/" + name; }
    // A person whose songs are for that audience: everyone unless the test says otherwise, so that
    // follows are accepted at once.
    Visitor person(const std::string& name, const std::string& audience = "public")
    {
        Visitor v(m_port);
        EXPECT_TRUE(v.signUp(name, "correct horse")) << name;
        if (audience != "followers") {
            EXPECT_TRUE(v.chooseAudience(audience)) << name;
        }
        return v;
    }

    // A GET of one of the service's addresses, unsigned or signed by an account elsewhere; the
    // answer's status and body.
    Answer fetch(const std::string& target, Elsewhere* from = nullptr, const Fields& headers = {
                     {"Accept", "application/activity+json"}})
    {
        auto fields = from ? from->signedBy("someone", http::verb::get, target, "", m_port) : Fields{};
        fields.insert(fields.end(), headers.begin(), headers.end());
        return Visitor(m_port).get(target, fields).value_or(Answer{});
    }

    // The person's answer to a follower or a request on their home page.
    int answerFollower(Visitor& person, const std::string& actor, const std::string& action,
                       const Fields& headers = {})
    {
        const auto answer = person.post("/fb/followers", {{"actor", actor}, {"do", action}}, headers);
        return answer ? answer->status : 0;
    }

    // Posts the activity to a person's inbox (or the shared one) signed by an account elsewhere.
    int deliver(Elsewhere& from, const std::string& name, const Json& activity, const std::string& inbox)
    {
        const auto body = activity.dump();
        const auto answer = Visitor(m_port).send("POST", inbox, from.signedBy(name, http::verb::post, inbox, body, m_port), body);
        return answer ? answer->status : 0;
    }

    // How many jobs are left once none is (the outcomes are written a moment after the answers),
    // or after five seconds.
    std::string jobsLeftOnceDone()
    {
        for (int tries = 0; tries < 50 && sql("SELECT count(*) FROM jobs")[0] != "0"; ++tries)
            std::this_thread::sleep_for(100ms);
        return sql("SELECT count(*) FROM jobs")[0];
    }

    static const KeyPair& strangersKey()
    {
        static const KeyPair key = makeKeyPair();
        return key;
    }

    // The activity for the shared inbox, signed by a key of the test's own that keyId names.
    Request signedWith(const std::string& keyId, const Json& activity)
    {
        Request request{http::verb::post, "/fb/inbox", 11};
        request.set(http::field::content_type, "application/activity+json");
        request.body() = activity.dump();
        request.prepare_payload();
        signRequest(request, "127.0.0.1:" + std::to_string(m_port), keyId, strangersKey().privatePem,
                    std::chrono::system_clock::now());
        return request;
    }

    // The person's public key, as any server fetches it.
    std::string keyOf(const std::string& name)
    {
        const auto answer = Visitor(m_port).get("/fb/u/" + name, {{"Accept", "application/activity+json"}});
        EXPECT_TRUE(answer && answer->status == 200);
        return answer ? Json::parse(answer->body)["publicKey"]["publicKeyPem"].get<std::string>() : "";
    }

    static void expectSignedBy(const Elsewhere::Arrival& arrival, const std::string& publicPem)
    {
        const auto check = precheckSignature(arrival.request, std::chrono::system_clock::now());
        ASSERT_EQ(check.result, SignatureCheck::ok) << arrival.request.target();
        EXPECT_TRUE(signatureHolds(arrival.request, *check.header, publicPem)) << arrival.activity.dump();
    }

    int m_port = 0;
    int m_starts = 0;
    std::filesystem::path m_log;
    std::unique_ptr<ServiceProcess> m_federating;
};

std::vector<std::string> typesOf(const std::vector<Elsewhere::Arrival>& arrivals)
{
    std::vector<std::string> types;
    for (const auto& arrival : arrivals)
        types.push_back(arrival.activity.value("type", "?"));
    return types;
}

TEST_F(Federating, AFollowerSeesEachSongAndThePreviousOneDeletedUntilItUnfollows)
{
    auto ann = person("ann");
    Elsewhere elsewhere(false);
    const auto finger = Visitor(m_port).get("/.well-known/webfinger?resource=acct:ann@127.0.0.1:" + std::to_string(m_port));
    ASSERT_TRUE(finger && finger->status == 200);
    EXPECT_EQ(Json::parse(finger->body)["links"][0]["href"], actorOf("ann"));

    const auto follow = elsewhere.follow("bo", actorOf("ann"));
    ASSERT_EQ(deliver(elsewhere, "bo", follow, "/fb/u/ann/inbox"), 202);
    const auto key = keyOf("ann");
    auto arrived = elsewhere.arrivals(1);
    ASSERT_EQ(typesOf(arrived), std::vector<std::string>{"Accept"});
    expectSignedBy(arrived[0], key);
    EXPECT_EQ(arrived[0].activity["object"]["id"], follow["id"]);
    EXPECT_NE(ann.get("/fb/tnlouserhome.php")->body.find("<span class=\"followers\">1</span>"), std::string::npos);

    const auto first = postedId(ann.postSong("Nina Simone - Feeling Good"));
    ann.postSong("Miles Davis - So What", std::to_string(first));
    arrived = elsewhere.arrivals(4);
    // The second song's note and the first one's deletion go out at once, in either order.
    auto types = typesOf(arrived);
    std::sort(types.begin() + 2, types.end());
    ASSERT_EQ(types, (std::vector<std::string>{"Accept", "Create", "Create", "Delete"}));
    for (const auto& arrival : arrived)
        expectSignedBy(arrival, key);
    EXPECT_EQ(arrived[1].activity["object"]["content"], "<p>ann is listening to Nina Simone - Feeling Good</p>");
    const auto& removal = arrived[2].activity["type"] == "Delete" ? arrived[2] : arrived[3];
    EXPECT_EQ(removal.activity["object"]["id"], arrived[1].activity["object"]["id"]);
    const auto note = Visitor(m_port).get("/fb/u/ann/posts/" + std::to_string(first),
                                          {{"Accept", "application/activity+json"}});
    EXPECT_EQ(note->status, 410) << "the deleted note is gone";

    const Json undo = {{"id", follow["id"].get<std::string>() + "/undo"}, {"type", "Undo"},
                       {"actor", elsewhere.actor("bo")}, {"object", follow}};
    ASSERT_EQ(deliver(elsewhere, "bo", undo, "/fb/inbox"), 202);
    ann.postSong("Third - Song");
    EXPECT_EQ(elsewhere.arrivals(5, 2s).size(), 4u) << "nothing reaches a follower that left";
}

// Every change, or a request from a site that speaks for another's account, is refused.
TEST_F(Federating, TheInboxTakesOnlyWhatItsActorSigned)
{
    person("ann");
    Elsewhere elsewhere;
    const auto body = elsewhere.follow("bo", actorOf("ann")).dump();
    const std::string inbox = "/fb/u/ann/inbox";
    const auto signedHeaders = elsewhere.signedBy("bo", http::verb::post, inbox, body, m_port);
    const auto send = [&](const Fields& headers, const std::string& text) {
        const auto answer = Visitor(m_port).send("POST", inbox, headers, text);
        return answer ? answer->status : 0;
    };
    auto otherDate = signedHeaders;
    for (auto& [name, value] : otherDate)
        if (name == "Date")
            value = httpDate(std::chrono::system_clock::now() - 1min);
    auto stranger = elsewhere.follow("bo", actorOf("ann"));
    stranger["actor"] = "http://127.0.0.2:9/users/bo"; // signed by a key of another site
    EXPECT_EQ(send({}, body), 401) << "unsigned";
    EXPECT_EQ(send(signedHeaders, body + " "), 401) << "body changed";
    EXPECT_EQ(send(otherDate, body), 401) << "a signed header changed";
    EXPECT_EQ(send(elsewhere.signedBy("bo", http::verb::post, inbox, stranger.dump(), m_port), stranger.dump()), 401);
    EXPECT_EQ(send(signedHeaders, std::string(300 * 1024, ' ')), 413);
    EXPECT_EQ(send(signedHeaders, body), 202) << "the same request unchanged";
}

// A server's word that a key is gone proves only the deletion of the actor whose document held it:
// anyone can name a missing key on a follower's site and sign with a key of their own.
TEST_F(Federating, NoOneButItsSiteDeletesAFollower)
{
    auto ann = person("ann");
    Elsewhere elsewhere(false);
    ASSERT_EQ(deliver(elsewhere, "bo", elsewhere.follow("bo", actorOf("ann")), "/fb/inbox"), 202);
    elsewhere.arrivals(1);
    elsewhere.answer(Elsewhere::Inbox::gone); // what is not an account answers 410
    const Json removal = {{"id", elsewhere.origin() + "/forged"}, {"type", "Delete"},
                          {"actor", elsewhere.actor("bo")}, {"object", elsewhere.actor("bo")}};
    const auto request = signedWith(elsewhere.origin() + "/missing#key", removal);
    Fields headers;
    for (const auto& field : request)
        headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    const auto answer = Visitor(m_port).send("POST", "/fb/inbox", headers, request.body());
    EXPECT_EQ(answer ? answer->status : 0, 401);
    EXPECT_EQ(sql("SELECT count(*) FROM followers"), std::vector<std::string>{"1"});
}

// A key that is a document of its own, without an inbox, counts only when its owner, on the key's
// own site, names it; the owner's document says where the Accept goes. Every document is fetched
// signed by the service's own actor.
TEST_F(Federating, AKeyOfItsOwnCountsWhenItsOwnerNamesIt)
{
    person("ann");
    Elsewhere elsewhere;
    Elsewhere another;
    const auto keyOf = [&](const std::string& name) { return elsewhere.origin() + "/keys/" + name; };
    const auto stub = [&](const std::string& name, const std::string& owner) {
        elsewhere.publish(
            "/keys/" + name,
            {{"id", keyOf(name)}, {"owner", owner}, {"publicKeyPem", strangersKey().publicPem}});
    };
    stub("carl", elsewhere.actor("carl"));
    elsewhere.publish(
        "/users/carl",
        {{"@context", Json::array({"https://www.w3.org/ns/activitystreams", "https://w3id.org/security/v1"})},
         {"id", elsewhere.actor("carl")},
         {"type", "Person"},
         {"inbox", elsewhere.actor("carl") + "/inbox"},
         {"publicKey",
          {{"id", keyOf("carl")},
           {"owner", elsewhere.actor("carl")},
           {"publicKeyPem", strangersKey().publicPem}}}});
    stub("dan", elsewhere.actor("dan")); // dan's own document names only its #main-key
    stub("eve", another.actor("eve"));   // an owner on another site
    const auto followBy = [&](const std::string& name) {
        const auto request = signedWith(keyOf(name), elsewhere.follow(name, actorOf("ann")));
        Fields headers;
        for (const auto& field : request)
            headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        const auto answer = Visitor(m_port).send("POST", "/fb/inbox", headers, request.body());
        return answer ? answer->status : 0;
    };
    EXPECT_EQ(followBy("dan"), 401) << "an owner that does not name the key";
    EXPECT_EQ(followBy("eve"), 401) << "an owner elsewhere";
    EXPECT_EQ(followBy("carl"), 202);
    const auto arrived = elsewhere.arrivals(1);
    ASSERT_EQ(typesOf(arrived), std::vector<std::string>{"Accept"});
    EXPECT_EQ(arrived[0].request.target(), "/users/carl/inbox");

    const auto instance = Visitor(m_port).get("/fb/actor");
    ASSERT_TRUE(instance && instance->status == 200);
    const auto instanceKey = Json::parse(instance->body)["publicKey"]["publicKeyPem"].get<std::string>();
    const auto fetches = elsewhere.fetches();
    EXPECT_EQ(fetches.size(), 5u) << "carl's and dan's key and owner, eve's key";
    EXPECT_TRUE(another.fetches().empty()) << "a key's site does not send the service to another";
    for (const auto& fetch : fetches) {
        const auto check = precheckSignature(fetch, std::chrono::system_clock::now());
        ASSERT_EQ(check.result, SignatureCheck::ok) << fetch.target();
        EXPECT_EQ(check.header->keyId, site() + "/fb/actor#main-key");
        EXPECT_TRUE(signatureHolds(fetch, *check.header, instanceKey)) << fetch.target();
    }
}

// The service's own actor goes by its host's name (HOST@HOST): no person signs up under it.
TEST_F(Federating, NoOneSignsUpUnderTheServicesOwnName)
{
    const int port = freePort();
    const ServiceProcess named(
        database(), folder() / "named.log",
        {"--listen", "127.0.0.1:" + std::to_string(port), "--public-url", "http://tunalo.test"});
    EXPECT_FALSE(Visitor(port).signUp("Tunalo.Test", "correct horse"));
    EXPECT_TRUE(Visitor(port).signUp("tunalo", "correct horse"));
}

// Fields of another type than the usual one are read as missing: the activity is taken and does
// nothing, also when it comes before its signer's key is known.
TEST_F(Federating, AnUndoOfAnOddShapeIsTakenAndChangesNothing)
{
    person("ann");
    Elsewhere elsewhere(false);
    auto follow = elsewhere.follow("bo", actorOf("ann"));
    follow["type"] = Json::array({"Follow"});
    const Json undo = {{"id", elsewhere.actor("bo") + "/undo"}, {"type", "Undo"},
                       {"actor", elsewhere.actor("bo")}, {"object", follow}};
    EXPECT_EQ(deliver(elsewhere, "bo", undo, "/fb/inbox"), 202) << "the key fetched first";
    EXPECT_EQ(deliver(elsewhere, "bo", undo, "/fb/inbox"), 202) << "the key known";
}

// Every well-formed signature makes the service fetch the key it names before it knows whether
// the signature holds: a server that never answers those fetches holds only so many requests, and
// the rest are told to come back later.
TEST_F(Federating, KeysThatNeverComeHoldOnlySoManyRequests)
{
    Elsewhere elsewhere;
    elsewhere.answer(Elsewhere::Inbox::hold);
    std::ostringstream request;
    request << signedWith(elsewhere.origin() + "/keys/held#key", elsewhere.follow("bo", actorOf("ann")));
    constexpr int extra = 6;
    constexpr auto held = static_cast<int>(Federation::keyFetchesAtOnce);
    const auto connections = sendOnEach(m_port, request.str(), held + extra);
    std::vector<std::string> answers(connections.size());
    const auto refused = [&] {
        return std::count_if(answers.begin(), answers.end(),
                             [](const std::string& a) { return a.starts_with("HTTP/1.1 503"); });
    };
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (refused() < extra && std::chrono::steady_clock::now() < until)
        for (std::size_t i = 0; i < connections.size(); ++i)
            if (answers[i].empty())
                answers[i] = connections[i]->receive(2ms);
    EXPECT_EQ(refused(), extra);
    EXPECT_EQ(std::count(answers.begin(), answers.end(), std::string()), held) << "the others wait for their keys";
}

// Followers on one server with a shared inbox cost one request per post; a server whose inbox is
// gone loses its followers; one that fails is tried again later, and one that never answers or
// answers without end holds up no post.
TEST_F(Federating, DeliveryGoesOncePerServerAndSurvivesServersThatFail)
{
    auto ann = person("ann");
    Elsewhere shared, failing(false), silent(false);
    for (const auto* name : {"bo", "cy", "di"})
        ASSERT_EQ(deliver(shared, name, shared.follow(name, actorOf("ann")), "/fb/inbox"), 202);
    ASSERT_EQ(deliver(failing, "ed", failing.follow("ed", actorOf("ann")), "/fb/inbox"), 202);
    ASSERT_EQ(deliver(silent, "fi", silent.follow("fi", actorOf("ann")), "/fb/inbox"), 202);
    shared.arrivals(3);
    failing.arrivals(1);
    silent.arrivals(1);
    failing.answer(Elsewhere::Inbox::fail);
    silent.answer(Elsewhere::Inbox::hold);

    EXPECT_EQ(titleOf(ann.get("/fb/update.php?s=Song%20-%20One")->body).rfind("Posted ID:", 0), 0u)
        << "the post is confirmed while a follower's server holds its request";
    const auto toShared = shared.arrivals(4);
    ASSERT_EQ(toShared.size(), 4u);
    EXPECT_EQ(toShared[3].request.target(), "/inbox") << "one request to the shared inbox";
    EXPECT_EQ(shared.arrivals(5, 1s).size(), 4u) << "and only one";
    ASSERT_EQ(failing.arrivals(2).size(), 2u);
    // The failed job waits for its next attempt.
    EXPECT_EQ(sql("SELECT attempts FROM jobs WHERE attempts > 0"), std::vector<std::string>{"1"});

    shared.answer(Elsewhere::Inbox::gone);
    ann.postSong("Song - Two");
    shared.arrivals(5);
    for (int tries = 0; tries < 50 && sql("SELECT count(*) FROM followers")[0] != "2"; ++tries)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sql("SELECT count(*) FROM followers"), std::vector<std::string>{"2"})
        << "the three followers behind the gone inbox are removed";

    shared.answer(Elsewhere::Inbox::huge);
    ASSERT_EQ(deliver(shared, "bo", shared.follow("bo", actorOf("ann")), "/fb/inbox"), 202);
    ann.postSong("Song - Three");
    EXPECT_GE(shared.arrivals(7).size(), 7u);
    EXPECT_EQ(titleOf(ann.get("/fb/update.php?s=Song%20-%20Four")->body).rfind("Posted ID:", 0), 0u)
        << "a follower's endless answer leaves the service at work";
}

// The jobs are written with the post: a service killed right after confirming it, while a
// follower's server still holds the note's request, sends the note again within a minute of its
// next start, once the killed one's lease has run out.
TEST_F(Federating, AKilledServiceSendsWhatItConfirmedAfterItsRestart)
{
    auto ann = person("ann");
    Elsewhere elsewhere(false);
    ASSERT_EQ(deliver(elsewhere, "bo", elsewhere.follow("bo", actorOf("ann")), "/fb/inbox"), 202);
    elsewhere.arrivals(1);
    elsewhere.answer(Elsewhere::Inbox::hold);
    ann.postSong("Song - Before The Kill");
    ASSERT_EQ(elsewhere.arrivals(2).size(), 2u);
    m_federating->stop(SIGKILL);
    elsewhere.answer(Elsewhere::Inbox::accept);
    restartFederating();
    const auto restarted = std::chrono::steady_clock::now();
    const auto arrived = elsewhere.arrivals(3, 60s);
    ASSERT_EQ(typesOf(arrived), (std::vector<std::string>{"Accept", "Create", "Create"}));
    EXPECT_LT(arrived[2].at - restarted, 60s);
    EXPECT_EQ(arrived[2].activity["id"], arrived[1].activity["id"]) << "the same activity, sent again";
    EXPECT_EQ(jobsLeftOnceDone(), "0");
}

TEST_F(Federating, TwoInstancesOnOneDatabaseSendEachNoteOnce)
{
    if (!onPostgres())
        GTEST_SKIP() << "one instance serves a SQLite database";
    auto ann = person("ann");
    Elsewhere elsewhere(false);
    ASSERT_EQ(deliver(elsewhere, "bo", elsewhere.follow("bo", actorOf("ann")), "/fb/inbox"), 202);
    ServiceProcess second(database(), folder() / "second.log", {"--public-url", site(), "--allow-private-peers"});
    Visitor annThere(second.port());
    annThere.cookie() = ann.cookie();
    constexpr int posts = 20;
    for (int i = 0; i < posts; ++i)
        (i % 2 ? ann : annThere).postSong("Song - " + std::to_string(i));
    const auto arrived = elsewhere.arrivals(1 + posts);
    std::set<std::string> ids;
    for (const auto& arrival : arrived)
        ids.insert(arrival.activity["id"].get<std::string>());
    EXPECT_EQ(ids.size(), arrived.size()) << "no activity twice";
    EXPECT_EQ(elsewhere.arrivals(2 + posts, 1s).size(), 1u + posts);
    EXPECT_EQ(jobsLeftOnceDone(), "0") << "each outcome written by the instance that held the job";
}

// Who sees a song depends on the audience it was posted with, wherever it is looked at: the
// person's page, their Atom feed, their outbox and the note itself, by a browser, by a server
// that does not sign its fetch, by the server of an approved follower and by another server.
TEST_F(Federating, EachSongIsSeenByItsAudienceAloneWhereverItIsLookedAt)
{
    auto ann = person("ann", "followers");
    Elsewhere friends(false), strangers(false);
    ASSERT_EQ(deliver(friends, "bo", friends.follow("bo", actorOf("ann")), "/fb/inbox"), 202);
    ASSERT_EQ(answerFollower(ann, friends.actor("bo"), "approve"), 303);
    // A follow still waiting for its answer counts for nothing.
    ASSERT_EQ(deliver(strangers, "eve", strangers.follow("eve", actorOf("ann")), "/fb/inbox"), 202);

    const auto forFollowers = postedId(ann.postSong("Song - For Followers"));
    ASSERT_TRUE(ann.chooseAudience("public"));
    const auto forEveryone = postedId(ann.postSong("Song - For Everyone"));
    ASSERT_TRUE(ann.chooseAudience("nobody"));
    const auto forNobody = postedId(ann.postSong("Song - For Nobody"));
    ASSERT_TRUE(forFollowers > 0 && forEveryone > 0 && forNobody > 0);
    ASSERT_TRUE(ann.chooseAudience("public")) << "opening up later opens no earlier song";
    const auto home = ann.get("/fb/tnlouserhome.php");
    for (const auto* song : {"For Followers", "For Everyone", "For Nobody"})
        EXPECT_NE(home->body.find(song), std::string::npos) << "the person sees all their own: " << song;

    enum Viewer { browser, unsigned_, follower, stranger };
    const auto look = [&](Viewer viewer, const std::string& target, bool document) {
        const Fields accept = {{"Accept", document ? "application/activity+json" : "text/html"}};
        switch (viewer) {
        case browser:
            return fetch(target, nullptr, {{"Accept", "text/html"}, {"Sec-Fetch-Site", "none"}});
        case unsigned_:
            return fetch(target, nullptr, accept);
        case follower:
            return fetch(target, &friends, accept);
        case stranger:
            return fetch(target, &strangers, accept);
        }
        return Answer{};
    };
    const struct {
        const char* name;
        std::string target;
        bool document;
    } lists[] = {{"page", "/fb/u/ann", false},
                 {"Atom feed", "/fb/u/ann.atom", false},
                 {"service's feed", "/fb/feed.json", false},
                 {"outbox", "/fb/u/ann/outbox", true}};
    for (const auto viewer : {browser, unsigned_, follower, stranger}) {
        for (const auto& list : lists) {
            const auto answer = look(viewer, list.target, list.document);
            EXPECT_EQ(answer.status, 200) << list.name << " to viewer " << viewer;
            EXPECT_NE(answer.body.find("For Everyone"), std::string::npos) << list.name << " to viewer " << viewer;
            for (const auto* hidden : {"For Followers", "For Nobody"})
                EXPECT_EQ(answer.body.find(hidden), std::string::npos) << list.name << " to " << viewer << ": " << hidden;
        }
    }
    EXPECT_NE(look(browser, "/fb/u/ann", false).body.find("@ann@127.0.0.1:" + std::to_string(m_port)),
              std::string::npos)
        << "the page names where to follow";

    // The note at its id: status by song and viewer.
    const struct {
        Viewer viewer;
        int forFollowers, forEveryone, forNobody;
    } notes[] = {
        {browser, 401, 200, 404},
        {unsigned_, 401, 200, 404},
        {follower, 200, 200, 404},
        {stranger, 404, 200, 404},
    };
    for (const auto& row : notes) {
        const std::pair<long long, int> expected[] = {
            {forFollowers, row.forFollowers}, {forEveryone, row.forEveryone}, {forNobody, row.forNobody}};
        for (const auto& [id, status] : expected) {
            const auto answer = look(row.viewer, "/fb/u/ann/posts/" + std::to_string(id), true);
            EXPECT_EQ(answer.status, status) << "note " << id << " to viewer " << row.viewer << ": " << answer.body;
            if (status == 200) {
                EXPECT_EQ(Json::parse(answer.body, nullptr, false).value("type", ""), "Note");
            }
        }
    }
    // A signature that does not hold is no signature.
    auto forged = friends.signedBy("bo", http::verb::get, "/fb/u/ann/posts/" + std::to_string(forFollowers), "",
                                   m_port);
    for (auto& [name, value] : forged)
        if (name == "Date")
            value = httpDate(std::chrono::system_clock::now() - 1min);
    forged.emplace_back("Accept", "application/activity+json");
    const auto refused = Visitor(m_port).get("/fb/u/ann/posts/" + std::to_string(forFollowers), forged);
    EXPECT_EQ(refused ? refused->status : 0, 401);
}

// With followers, a follow waits for the person: they approve or refuse it on their home page,
// or remove a follower there later, and the follower's server hears each answer through the
// delivery jobs, signed.
TEST_F(Federating, ThePersonApprovesRefusesAndRemovesFollowersOnTheHomePage)
{
    auto ann = person("ann", "followers");
    Elsewhere bo(false), cy(false);
    const auto actor = Json::parse(fetch("/fb/u/ann").body);
    EXPECT_EQ(actor["manuallyApprovesFollowers"], true);
    const auto boFollow = bo.follow("bo", actorOf("ann"));
    const auto cyFollow = cy.follow("cy", actorOf("ann"));
    ASSERT_EQ(deliver(bo, "bo", boFollow, "/fb/u/ann/inbox"), 202);
    ASSERT_EQ(deliver(cy, "cy", cyFollow, "/fb/inbox"), 202);
    ann.postSong("Song - While They Wait");
    EXPECT_TRUE(bo.arrivals(1, 1s).empty()) << "no Accept and no song before the person answers";
    auto home = ann.get("/fb/tnlouserhome.php")->body;
    EXPECT_NE(home.find("<span class=\"followers\">0</span>"), std::string::npos);
    const auto requests = home.find("Asking to follow you");
    ASSERT_NE(requests, std::string::npos) << home;
    EXPECT_NE(home.find(bo.actor("bo"), requests), std::string::npos);
    EXPECT_NE(home.find(cy.actor("cy"), requests), std::string::npos);

    // Another site's page cannot answer for the person.
    EXPECT_EQ(answerFollower(ann, bo.actor("bo"), "approve", {{"Sec-Fetch-Site", "cross-site"}}), 403);
    EXPECT_EQ(answerFollower(ann, bo.actor("bo"), "approve", {{"Origin", "http://elsewhere.example"}}), 403);
    EXPECT_EQ(Visitor(m_port).post("/fb/followers", {{"actor", bo.actor("bo")}, {"do", "approve"}})->status, 200)
        << "without a session: the log-in page, and nothing approved";
    EXPECT_TRUE(bo.arrivals(1, 500ms).empty());

    const auto key = keyOf("ann");
    ASSERT_EQ(answerFollower(ann, bo.actor("bo"), "approve"), 303);
    ASSERT_EQ(answerFollower(ann, cy.actor("cy"), "refuse"), 303);
    auto toBo = bo.arrivals(1);
    ASSERT_EQ(typesOf(toBo), std::vector<std::string>{"Accept"});
    expectSignedBy(toBo[0], key);
    EXPECT_EQ(toBo[0].activity["object"]["id"], boFollow["id"]);
    EXPECT_EQ(toBo[0].request.target(), "/users/bo/inbox") << "to the follower's own inbox";
    const auto toCy = cy.arrivals(1);
    ASSERT_EQ(typesOf(toCy), std::vector<std::string>{"Reject"});
    expectSignedBy(toCy[0], key);
    EXPECT_EQ(toCy[0].activity["object"]["id"], cyFollow["id"]);
    EXPECT_NE(ann.get("/fb/tnlouserhome.php")->body.find("<span class=\"followers\">1</span>"), std::string::npos);

    ann.postSong("Song - For Bo");
    toBo = bo.arrivals(2);
    ASSERT_EQ(typesOf(toBo), (std::vector<std::string>{"Accept", "Create"}));
    EXPECT_EQ(cy.arrivals(2, 1s).size(), 1u) << "nothing for a refused follower";

    ASSERT_EQ(answerFollower(ann, bo.actor("bo"), "remove"), 303);
    toBo = bo.arrivals(3);
    ASSERT_EQ(typesOf(toBo), (std::vector<std::string>{"Accept", "Create", "Reject"}));
    EXPECT_EQ(toBo[2].activity["object"]["id"], boFollow["id"]);
    ann.postSong("Song - After Bo");
    EXPECT_EQ(bo.arrivals(4, 1s).size(), 3u) << "a removed follower gets no more songs";
}

// Every Accept is a delivery job: one that its server fails to take is tried again.
TEST_F(Federating, AnAcceptThatFailsIsTriedAgain)
{
    person("ann");
    Elsewhere elsewhere(false);
    elsewhere.answer(Elsewhere::Inbox::fail);
    ASSERT_EQ(deliver(elsewhere, "bo", elsewhere.follow("bo", actorOf("ann")), "/fb/inbox"), 202);
    ASSERT_EQ(typesOf(elsewhere.arrivals(1)), std::vector<std::string>{"Accept"});
    for (int tries = 0; tries < 50 && sql("SELECT count(*) FROM jobs WHERE attempts > 0")[0] != "1"; ++tries)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sql("SELECT kind FROM jobs WHERE attempts = 1"), std::vector<std::string>{"accept"});
}

// The account as other servers show it: the person's name and words as they wrote them, the
// program's picture, its creation, and no listing anywhere unless the person ticks it.
TEST_F(Federating, TheAccountShowsThePersonsNameWordsAndPicture)
{
    auto ann = person("ann");
    auto actor = Json::parse(fetch("/fb/u/ann").body);
    EXPECT_EQ(actor["name"], "ann");
    EXPECT_EQ(actor["discoverable"], false);
    EXPECT_EQ(actor["indexable"], false);
    EXPECT_EQ(actor["manuallyApprovesFollowers"], false) << "everyone: follows are accepted at once";
    EXPECT_TRUE(actor["published"].get<std::string>().starts_with("20")) << actor.dump();
    EXPECT_EQ(actor["endpoints"]["sharedInbox"], site() + "/fb/inbox");
    const auto iconUrl = actor["icon"]["url"].get<std::string>();
    ASSERT_TRUE(iconUrl.starts_with(site())) << iconUrl;
    const auto icon = fetch(iconUrl.substr(site().size()), nullptr, {});
    EXPECT_EQ(icon.status, 200);
    EXPECT_EQ(icon.header("Content-Type"), "image/png");
    EXPECT_TRUE(icon.body.starts_with("\x89PNG\r\n\x1a\n")) << "a PNG file";

    const std::string words = "I play <b>loud</b> & \"proud\"\r\nsecond line" + std::string(600, 'x');
    const auto saved = ann.post("/fb/destinations", {{"audience", "public"}, {"display_name", "  Ann <DJ>  "},
                                                     {"summary", words}, {"discoverable", "1"}});
    ASSERT_TRUE(saved && saved->status == 303);
    actor = Json::parse(fetch("/fb/u/ann").body);
    EXPECT_EQ(actor["name"], "Ann <DJ>");
    const auto summary = actor["summary"].get<std::string>();
    EXPECT_TRUE(summary.starts_with("<p>I play &lt;b&gt;loud&lt;/b&gt; &amp; &quot;proud&quot;<br>second line"))
        << summary;
    EXPECT_EQ(summary.find("<b>"), std::string::npos);
    EXPECT_EQ(std::count(summary.begin(), summary.end(), 'x'), 500 - 40) << "at most 500 characters are kept";
    EXPECT_EQ(actor["discoverable"], true);
    EXPECT_EQ(actor["indexable"], false);
    const auto home = ann.get("/fb/tnlouserhome.php")->body;
    EXPECT_NE(home.find("value=\"Ann &lt;DJ&gt;\""), std::string::npos);
    EXPECT_NE(home.find("I play &lt;b&gt;loud&lt;/b&gt; &amp; &quot;proud&quot;\nsecond line"), std::string::npos);
    EXPECT_EQ(home.find("<b>loud"), std::string::npos);
    EXPECT_NE(home.find("name=\"discoverable\" value=\"1\" checked"), std::string::npos);
}

TEST_F(Federating, WithoutTheFlagNoPrivateAddressIsReached)
{
    restartFederating(false);
    person("ann");
    Elsewhere elsewhere;
    EXPECT_EQ(deliver(elsewhere, "bo", elsewhere.follow("bo", actorOf("ann")), "/fb/inbox"), 401);
    EXPECT_TRUE(elsewhere.arrivals(1, 500ms).empty()) << "its key was not even fetched";
    // Plain http is refused as well as any private address; the client's own test tells them apart.
    EXPECT_NE(fileTextOnceItHas(m_log, "cannot fetch the key").find("cannot fetch the key"), std::string::npos);
}

// The inboxes in the service's own process, on a clock the test moves: how long a fetched key is
// trusted, and how old a signature's Date may be.
class InboxOnAMovedClock : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        if (IsSkipped())
            return;
        service().stop(SIGTERM); // the test's own inbox alone
        prepareText();
        m_store = openStore(database());
        ASSERT_TRUE(m_store->createUser("ann", nameKey("ann"), "-", m_clock.seconds()));
        HttpServer::Limits limits;
        limits.largeBody = [](std::string_view) { return true; };
        m_server = std::make_unique<HttpServer>(m_io, limits, [this](const CallPtr& call) { m_federation->sharedInbox(call); });
        m_server->listen("127.0.0.1", 0);
        const auto atOnce = [](const CallPtr&, std::function<void()> step) { step(); };
        m_federation = std::make_unique<Federation>(*m_store, site(), m_peers, Workers{atOnce, atOnce}, m_clock);
        m_thread = std::thread([this] { m_io.run(); });
    }

    void TearDown() override
    {
        m_io.stop();
        if (m_thread.joinable())
            m_thread.join();
        ServiceTest::TearDown();
    }

    std::string site() const { return "http://127.0.0.1:" + std::to_string(m_server->port()); }

    // A follow of ann's by bo, signed at `when`; the inbox's status.
    int follow(std::chrono::system_clock::time_point when)
    {
        const auto body = m_elsewhere.follow("bo", site() + "/fb/u/ann").dump();
        const auto headers = m_elsewhere.signedBy("bo", http::verb::post, "/fb/inbox", body, m_server->port(), when);
        const auto answer = Visitor(m_server->port()).send("POST", "/fb/inbox", headers, body);
        return answer ? answer->status : 0;
    }

    ManualClock m_clock;
    Elsewhere m_elsewhere{false};
    std::unique_ptr<Store> m_store;
    asio::io_context m_io;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<Federation> m_federation;
    std::thread m_thread;
    // Last, so that it goes first.
    PeerClient m_peers{PeerClient::Limits{}, true};
};

TEST_F(InboxOnAMovedClock, AFetchedKeyIsTrustedForADayThenFetchedAgain)
{
    ASSERT_EQ(follow(m_clock.wall()), 202);
    EXPECT_EQ(m_elsewhere.documentsFetched(), 1);
    m_clock.advance(23h + 59min);
    ASSERT_EQ(follow(m_clock.wall()), 202);
    EXPECT_EQ(m_elsewhere.documentsFetched(), 1) << "the key kept";
    m_clock.advance(2min);
    ASSERT_EQ(follow(m_clock.wall()), 202);
    EXPECT_EQ(m_elsewhere.documentsFetched(), 2) << "a day old, the key is fetched again";
}

TEST_F(InboxOnAMovedClock, ASignatureDatedThirteenHoursBackIsRefused)
{
    const auto signedAt = m_clock.wall();
    m_clock.advance(11h);
    EXPECT_EQ(follow(signedAt), 202) << "eleven hours old";
    m_clock.advance(2h);
    EXPECT_EQ(follow(signedAt), 401) << "thirteen hours old";
    EXPECT_EQ(follow(m_clock.wall()), 202) << "and one of now again";
}

// A ListenBrainz-compatible service, played by the test's server: what it gets, and its refusal
// shown on the person's home page.
TEST_F(Federating, EachSongIsPlayingNowAtThePersonsListeningService)
{
    auto ann = person("ann");
    Elsewhere listening;
    ASSERT_EQ(ann.post("/fb/destinations", {{"audience", "followers"}, {"listen_url", listening.origin()},
                                            {"listen_token", "token-1234-abcd"}})->status, 303);
    ann.postSong("Nina Simone - Feeling Good");
    auto arrived = listening.arrivals(1);
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(arrived[0].request.target(), "/1/submit-listens");
    EXPECT_EQ(arrived[0].request[http::field::authorization], "Token token-1234-abcd");
    const auto& listen = arrived[0].activity;
    EXPECT_EQ(listen["listen_type"], "playing_now");
    ASSERT_EQ(listen["payload"].size(), 1u);
    EXPECT_EQ(listen["payload"][0]["track_metadata"]["artist_name"], "Nina Simone");
    EXPECT_EQ(listen["payload"][0]["track_metadata"]["track_name"], "Feeling Good");

    listening.answer(Elsewhere::Inbox::refuse);
    ann.postSong("Miles Davis - So What");
    listening.arrivals(2);
    std::string home;
    for (int tries = 0; tries < 50 && home.find("refused your token (401)") == std::string::npos; ++tries) {
        std::this_thread::sleep_for(100ms);
        home = ann.get("/fb/tnlouserhome.php")->body;
    }
    EXPECT_NE(home.find("refused your token (401)"), std::string::npos);
    EXPECT_EQ(home.find("token-1234-abcd"), std::string::npos) << "the token is never shown back";
    EXPECT_EQ(fileText(m_log).find("token-1234"), std::string::npos) << "nor logged";
}

// The program says with each post its song's length, and with the next how long that song was
// heard: heard long enough, it is one listen that counts at the listening service, even though the
// next post deletes it, and a retry of the next post makes no second one.
TEST_F(Federating, ASongHeardLongEnoughIsOneListenThatCounts)
{
    auto ann = person("ann");
    Elsewhere listening;
    ASSERT_EQ(ann.post("/fb/destinations", {{"audience", "followers"}, {"listen_url", listening.origin()},
                                            {"listen_token", "token-1234-abcd"}})->status, 303);
    const auto post = [&](const std::string& query) { return ann.title(std::string(tunalo::protocol::kPostPath) + "?" + query); };
    const auto first = post("s=Ann%20-%20Forty%20Seconds&k=k1&l=40000&p=Strawberry");
    ASSERT_EQ(first.rfind("Posted ID:", 0), 0u) << first;
    const auto id = first.substr(std::string("Posted ID:").size());
    const auto next = "s=Bo%20-%20Next&k=k2&d=" + id + "&hk=k1&h=25000";
    ASSERT_EQ(post(next).rfind("Posted ID:", 0), 0u);
    ASSERT_EQ(post(next).rfind("Posted ID:", 0), 0u) << "a retry";
    const auto arrived = listening.arrivals(3);
    ASSERT_EQ(arrived.size(), 3u);
    EXPECT_EQ(listening.arrivals(4, 500ms).size(), 3u) << "one listen that counts, not two";
    const auto single = std::find_if(arrived.begin(), arrived.end(), [](const auto& arrival) {
        return arrival.activity.value("listen_type", "") == "single";
    });
    ASSERT_NE(single, arrived.end());
    EXPECT_EQ(single->activity["payload"][0]["track_metadata"]["track_name"], "Forty Seconds");
    EXPECT_EQ(single->activity["payload"][0]["track_metadata"]["additional_info"]["duration_ms"], 40000);
    EXPECT_EQ(single->activity["payload"][0]["track_metadata"]["additional_info"]["media_player"], "Strawberry");
}

} // namespace
