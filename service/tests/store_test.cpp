#include "base/text.h"
#include "federation/outbound.h"
#include "scratchdatabase.h"
#include "serviceprocess.h"
#include "store/pgstore.h"
#include "store/postgres.h"
#include "store/sqlitestore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <thread>

using namespace tunalo::service;
using testkit::ScratchDatabase;

namespace {

enum class Kind { sqlite, postgres };

void PrintTo(Kind kind, std::ostream* out)
{
    *out << (kind == Kind::sqlite ? "SQLite" : "PostgreSQL");
}

// Each test gets an empty database of the store kind it runs for, and can open stores on it.
class Stores : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        if (GetParam() == Kind::sqlite) {
            m_address = (m_dir.path() / "service.db").string();
            return;
        }
        if (testkit::testCluster().empty())
            GTEST_SKIP() << "TUNALO_TEST_POSTGRES names no PostgreSQL cluster (scripts/test starts one)";
        m_scratch = std::make_unique<ScratchDatabase>(testkit::testCluster());
        m_address = m_scratch->address();
    }

    std::unique_ptr<Store> open() const { return openStore(m_address); }

    // Marks the database as written by a future service.
    void setSchemaVersion(int version) const
    {
        if (GetParam() == Kind::sqlite)
            Database(m_address).exec(("PRAGMA user_version=" + std::to_string(version)).c_str());
        else
            pg::Connection(m_address).query("UPDATE schema_version SET version = $1",
                                            {std::int64_t{version}});
    }

    // Runs statements one by one on the database itself.
    void exec(std::initializer_list<const char*> statements) const
    {
        for (const auto* statement : statements) {
            if (GetParam() == Kind::sqlite)
                Database(m_address).exec(statement);
            else
                pg::Connection(m_address).script(statement);
        }
    }

    int schemaVersion() const
    {
        return GetParam() == Kind::sqlite ? SqliteStore::schemaVersion : PostgresStore::schemaVersion;
    }

private:
    testkit::TempDir m_dir;
    std::unique_ptr<ScratchDatabase> m_scratch;
    std::string m_address;
};

TokenHash token(unsigned char seed)
{
    TokenHash hash{};
    hash.fill(seed);
    return hash;
}

TEST_P(Stores, ReopensItsOwnSchemaAndRefusesANewerOne)
{
    {
        const auto store = open();
        ASSERT_TRUE(store->createUser("Ann", nameKey("Ann"), "hash", 0));
    }
    EXPECT_TRUE(open()->findAccount(nameKey("Ann"))) << "a second start keeps what the first stored";
    setSchemaVersion(schemaVersion() + 1);
    try {
        open();
        FAIL() << "a newer schema was accepted";
    } catch (const DatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("newer tunalo-service"), std::string::npos) << e.what();
    }
}

TEST_P(Stores, InstancesStartingTogetherCreateTheSchemaOnce)
{
    std::vector<std::thread> starts;
    std::atomic<int> failures = 0;
    for (int i = 0; i < 4; ++i)
        starts.emplace_back([&] {
            try {
                open();
            } catch (const DatabaseError&) {
                ++failures;
            }
        });
    for (auto& start : starts)
        start.join();
    EXPECT_EQ(failures, 0);
}

TEST_P(Stores, NamesAreUniqueByTheirKey)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "hash-a", 0);
    ASSERT_TRUE(ann);
    EXPECT_FALSE(store->createUser("aNN", nameKey("aNN"), "hash-b", 0));
    const auto found = store->findAccount(nameKey("ANN"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->user.id, ann->id);
    EXPECT_EQ(found->user.name, "Ann");
    EXPECT_EQ(found->passwordHash, "hash-a");
    EXPECT_FALSE(store->findAccount(nameKey("Bob")));
    ASSERT_TRUE(store->createUser("\xC3\xA9lodie", nameKey("\xC3\xA9lodie"), "hash-c", 0));
    EXPECT_FALSE(store->createUser("\xC3\x89LODIE", nameKey("\xC3\x89LODIE"), "hash-d", 0));
}

TEST_P(Stores, SessionsAreSharedBetweenInstancesAndExpire)
{
    const auto first = open();
    const auto second = open();
    const auto ann = first->createUser("Ann", nameKey("Ann"), "hash", 0);
    ASSERT_TRUE(ann);
    first->addSession(token(1), ann->id, 100, 200);
    const auto user = second->sessionUser(token(1), 150);
    ASSERT_TRUE(user);
    EXPECT_EQ(user->name, "Ann");
    EXPECT_FALSE(second->sessionUser(token(1), 200)) << "expired";
    EXPECT_FALSE(second->sessionUser(token(2), 150)) << "unknown token";

    second->addSession(token(2), ann->id, 300, 400); // sweeps the expired session away
    first->addSession(token(1), ann->id, 300, 400);  // so the same token can be stored again
    second->removeSession(token(1));
    EXPECT_FALSE(first->sessionUser(token(1), 350)) << "logged out through the other instance";
    EXPECT_TRUE(first->sessionUser(token(2), 350));
}

TEST_P(Stores, PostsComeNewestFirstAndOnlyTheOwnerDeletes)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "hash", 0);
    const auto bob = store->createUser("Bob", nameKey("Bob"), "hash", 0);
    ASSERT_TRUE(ann && bob);
    // Quotes, a statement of its own and letters beyond ASCII arrive as written.
    const std::string tricky = "O'Brien \"Live\" '); DROP TABLE posts; -- Élodie ☃";
    const auto first = store->addPost(ann->id, tricky, std::nullopt, 10, std::nullopt);
    const auto second = store->addPost(bob->id, "Bob's song", first, 11, std::nullopt);
    const auto third = store->addPost(ann->id, "Ann's second", std::nullopt, 12, std::nullopt);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);

    const auto all = store->recentPosts(10);
    ASSERT_EQ(all.size(), 3u) << "Bob cannot delete Ann's post";
    EXPECT_EQ(all[0].id, third);
    EXPECT_EQ(all[2].song, tricky);
    EXPECT_EQ(all[2].user, "Ann");
    EXPECT_EQ(all[2].postedAt, 10);
    EXPECT_EQ(store->recentPosts(1).size(), 1u);

    store->addPost(ann->id, "Ann's third", first, 13, std::nullopt);
    const auto anns = store->recentPosts(10, ann->id);
    ASSERT_EQ(anns.size(), 2u);
    EXPECT_EQ(anns[0].song, "Ann's third");
    EXPECT_EQ(anns[1].id, third);
    // An id once deleted never names a newer post.
    EXPECT_GT(store->addPost(bob->id, "later", std::nullopt, 14, std::nullopt), third + 1);
}

// A retry of a post whose answer was lost carries the first request's key: it makes no second post,
// also once a later post has deleted the first, and another person's key is their own.
TEST_P(Stores, APostsKeyMakesItOnceAndItsRepeatAnswersTheFirstId)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "hash", 0);
    const auto bob = store->createUser("Bob", nameKey("Bob"), "hash", 0);
    ASSERT_TRUE(ann && bob);
    const std::string key = "0f1e2d3c4b5a69788796a5b4c3d2e1f0";
    const auto first = store->addPost(ann->id, "Song", std::nullopt, 10, key);
    EXPECT_EQ(store->addPost(ann->id, "Song", std::nullopt, 11, key), first);
    EXPECT_EQ(store->recentPosts(10).size(), 1u);

    const auto next = store->addPost(ann->id, "Next", first, 12, std::string("another key"));
    EXPECT_EQ(store->addPost(ann->id, "Song", std::nullopt, 13, key), first) << "its post is gone, not its key";
    const auto annsPosts = store->recentPosts(10, ann->id);
    ASSERT_EQ(annsPosts.size(), 1u);
    EXPECT_EQ(annsPosts[0].id, next);

    EXPECT_NE(store->addPost(bob->id, "Song", std::nullopt, 14, key), first);
    EXPECT_EQ(store->recentPosts(10).size(), 2u);
}

// Two instances taking one key at the same moment still make one post.
TEST_P(Stores, OneKeyFromTwoInstancesAtOnceMakesOnePost)
{
    const auto first = open();
    const auto second = open();
    const auto ann = first->createUser("Ann", nameKey("Ann"), "hash", 0);
    ASSERT_TRUE(ann);
    for (int round = 0; round < 20; ++round) {
        const std::string key = "race-" + std::to_string(round);
        std::int64_t ids[2] = {};
        std::thread other([&] { ids[1] = second->addPost(ann->id, "Race", std::nullopt, round, key); });
        ids[0] = first->addPost(ann->id, "Race", std::nullopt, round, key);
        other.join();
        EXPECT_EQ(ids[0], ids[1]) << round;
    }
    EXPECT_EQ(first->recentPosts(50, ann->id).size(), 20u);
}

TEST_P(Stores, AFailedWriteLeavesNothingBehind)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "hash", 0);
    ASSERT_TRUE(ann);
    // A post for a user who does not exist breaks the foreign key; the deletion of Ann's post
    // that comes with it must roll back.
    const auto kept = store->addPost(ann->id, "Kept", std::nullopt, 0, std::nullopt);
    EXPECT_THROW(store->addPost(ann->id + 100, "Orphan", kept, 0, std::nullopt), DatabaseError);
    const auto posts = store->recentPosts(10);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].id, kept);
}

TEST_P(Stores, SignUpSlotsPerAddressAndLoginFailuresAreSharedBetweenInstances)
{
    const auto one = open();
    const auto two = open(); // a second service process on the same database
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE((i % 2 ? one : two)->takeSignUpSlot("192.0.2.1", 100 + i, 50, 5));
    EXPECT_FALSE(one->takeSignUpSlot("192.0.2.1", 110, 50, 5));
    EXPECT_TRUE(two->takeSignUpSlot("192.0.2.2", 110, 50, 5)) << "another address";
    EXPECT_TRUE(two->takeSignUpSlot("192.0.2.1", 170, 101, 5)) << "the first sign-ups have left the window";

    EXPECT_EQ(one->recordLoginFailure("ann", 100, 0), 1);
    EXPECT_EQ(two->recordLoginFailure("ann", 101, 0), 2);
    EXPECT_EQ(one->loginFailures("ann", 0), 2);
    EXPECT_EQ(one->loginFailures("bob", 0), 0);
    EXPECT_EQ(two->loginFailures("ann", 102), 0) << "a run of failures ends when it goes quiet";
    EXPECT_EQ(two->recordLoginFailure("ann", 500, 200), 1) << "and then counts from the start";
    one->clearLoginFailures("ann");
    EXPECT_EQ(two->loginFailures("ann", 0), 0);
}

// Three followers on two servers: the first server has a shared inbox, the second has none.
// All three approved.
const Follower followers[] = {
    {"https://one.example/u/a", "https://one.example/u/a/inbox", "https://one.example/inbox", "", true},
    {"https://one.example/u/b", "https://one.example/u/b/inbox", "https://one.example/inbox", "", true},
    {"https://two.example/u/c", "https://two.example/u/c/inbox", "", "", true}};

const char* kindName(JobKind kind)
{
    switch (kind) {
    case JobKind::create:
        return "create";
    case JobKind::remove:
        return "remove";
    case JobKind::accept:
        return "accept";
    case JobKind::reject:
        return "reject";
    default:
        return "listen";
    }
}

// Claims every job due by the end of time, finishing each claim before the next, until none is
// left to claim; gives them in the order claimed.
std::vector<Job> drain(Store& store)
{
    std::vector<Job> all;
    for (auto jobs = store.claimJobs(1'000'000'000, 1'000'000'001, 1000); !jobs.empty();
         jobs = store.claimJobs(1'000'000'000, 1'000'000'001, 1000)) {
        for (const auto& job : jobs)
            EXPECT_TRUE(store.finishJob({job.id, 1'000'000'001}));
        all.insert(all.end(), jobs.begin(), jobs.end());
    }
    return all;
}

// Adds approved followers, their Accepts sent and gone.
void follow(Store& store, std::int64_t userId, std::initializer_list<Follower> each)
{
    for (const auto& follower : each)
        store.addFollower(userId, follower, 0);
    drain(store);
}

// What a post queues, by the person's audience and listening service, and whether the post is
// federated and deletes the person's previous one (whose create still waits).
TEST_P(Stores, JobsAreQueuedWithThePost)
{
    struct Case {
        const char* name;
        Audience audience;
        const char* listenUrl;
        const char* listenToken;
        bool federate;
        bool deletesPrevious;
        std::multiset<std::string> expected; // kind, then target, then which post
    };
    const std::string shared = "https://one.example/inbox", own = "https://two.example/u/c/inbox";
    const std::string lb = "https://lb.example";
    const Case cases[] = {
        {"to each distinct inbox", Audience::followers, "", "", true, false,
         {"create " + shared + " new", "create " + own + " new"}},
        {"public, and a listen", Audience::everyone, "https://lb.example", "tok", true, false,
         {"create " + shared + " new", "create " + own + " new", "listen " + lb + " new"}},
        {"audience nobody", Audience::nobody, "https://lb.example", "tok", true, false, {"listen " + lb + " new"}},
        {"not federated", Audience::everyone, "", "", false, false, {}},
        {"a service without a token", Audience::nobody, "https://lb.example", "", true, false, {}},
        {"a delete waits for the note still waiting", Audience::followers, "", "", true, true,
         {"create " + shared + " old", "create " + own + " old", "remove " + shared + " old",
          "remove " + own + " old", "create " + shared + " new", "create " + own + " new"}},
        {"a delete goes out whatever the audience", Audience::nobody, "", "", true, true,
         {"remove " + shared + " old", "remove " + own + " old"}},
        {"no delete goes out unfederated", Audience::followers, "https://lb.example", "tok", false, true,
         {"listen " + lb + " old", "listen " + lb + " new"}},
    };
    const auto store = open();
    int person = 0;
    for (const auto& c : cases) {
        const auto name = "P" + std::to_string(++person);
        const auto user = store->createUser(name, nameKey(name), "h", 0);
        ASSERT_TRUE(user);
        follow(*store, user->id, {followers[0], followers[1], followers[2]});
        store->setAudience(user->id, c.audience);
        store->setListenService(user->id, c.listenUrl, c.listenToken);
        std::optional<std::int64_t> previous;
        if (c.deletesPrevious)
            previous = store->addPost(user->id, "Old song", std::nullopt, 100, std::nullopt, c.federate);
        const auto id = store->addPost(user->id, "New song", previous, 200, std::string("key"), c.federate);
        // A repeat of the key posts nothing, so it queues nothing either.
        EXPECT_EQ(store->addPost(user->id, "New song", previous, 201, std::string("key"), c.federate), id);
        std::multiset<std::string> queued;
        std::vector<std::string> order;
        for (const auto& job : drain(*store)) {
            order.push_back(std::string(kindName(job.kind)) + " " + job.target + (job.postId == id ? " new" : " old"));
            queued.insert(order.back());
            EXPECT_EQ(job.userName, user->name) << c.name;
            EXPECT_EQ(job.attempts, 0) << c.name;
            if (job.kind == JobKind::remove)
                continue;
            EXPECT_EQ(job.song, job.postId == id ? "New song" : "Old song") << c.name;
            EXPECT_EQ(job.postedAt, job.postId == id ? 200 : 100) << c.name;
            if (job.kind == JobKind::create) {
                EXPECT_EQ(job.audience, c.audience) << c.name;
            }
            EXPECT_EQ(job.token, job.kind == JobKind::listen ? c.listenToken : "") << c.name;
        }
        EXPECT_EQ(queued, c.expected) << c.name;
        EXPECT_EQ(store->pendingJobs(), 0) << c.name;
        // A deletion never overtakes its note at an inbox: the receiver would keep the note.
        for (const auto& inbox : {shared, own}) {
            const auto note = std::find(order.begin(), order.end(), "create " + inbox + " old");
            const auto removal = std::find(order.begin(), order.end(), "remove " + inbox + " old");
            if (note != order.end()) {
                EXPECT_LT(note, removal) << c.name << " " << inbox;
            }
        }
    }
}

// A lease keeps a job from every other claim until it ends; a retry counts the attempt and makes
// the job due again at once at its time; the oldest due goes first.
TEST_P(Stores, AJobIsLeasedUntilItsLeaseEndsOrItIsRetried)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    ASSERT_TRUE(ann);
    follow(*store, ann->id, {followers[2]});
    const auto later = store->addPost(ann->id, "Later", std::nullopt, 100, std::nullopt, true);
    const auto earlier = store->addPost(ann->id, "Earlier", std::nullopt, 90, std::nullopt, true);
    EXPECT_TRUE(store->claimJobs(89, 200, 10).empty()) << "nothing is due yet";

    auto claimed = store->claimJobs(95, 130, 10);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0].postId, earlier);
    claimed = store->claimJobs(100, 130, 1);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0].postId, later);
    EXPECT_TRUE(store->claimJobs(130, 160, 10).empty()) << "both are leased until 130";

    claimed = store->claimJobs(131, 160, 10);
    ASSERT_EQ(claimed.size(), 2u) << "the leases ended";
    EXPECT_EQ(claimed[0].postId, earlier) << "the oldest due first";
    EXPECT_TRUE(store->retryJob({claimed[0].id, 160}, 140));
    EXPECT_TRUE(store->finishJob({claimed[1].id, 160}));
    EXPECT_TRUE(store->claimJobs(139, 170, 10).empty());
    claimed = store->claimJobs(140, 170, 10);
    ASSERT_EQ(claimed.size(), 1u) << "a retry ends the lease";
    EXPECT_EQ(claimed[0].postId, earlier);
    EXPECT_EQ(claimed[0].attempts, 1);
    EXPECT_EQ(store->pendingJobs(), 1);
    EXPECT_TRUE(store->finishJob({claimed[0].id, 170}));
    EXPECT_EQ(store->pendingJobs(), 0);
}

// The songs on a person's Mastodon account: a status for each song posted for someone, with the
// person's words and the visibility their audience allows; a status replaced before it was ever
// tried is dropped, one made is deleted after it, and the account's jobs go one at a time and not
// at all while its token is refused.
TEST_P(Stores, SongsBecomeStatusesOnThePersonsMastodonAccount)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    ASSERT_TRUE(ann);
    const std::string server = "https://social.example";
    store->addPost(ann->id, "Before", std::nullopt, 10, std::nullopt);
    EXPECT_EQ(store->pendingJobs(), 0) << "no account connected";

    store->connectMastodon(ann->id, server, "@ann@social.example", "tok");
    store->setMastodonStyle(ann->id, "now: SONG #np", "");
    store->setAudience(ann->id, Audience::everyone);
    const auto first = store->addPost(ann->id, "A - SONG", std::nullopt, 20, std::nullopt);
    auto claimed = store->claimJobs(20, 65, 10);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0].kind, JobKind::status);
    EXPECT_EQ(claimed[0].song, "now: A - SONG #np") << "only the words' SONG stands for the song";
    EXPECT_EQ(claimed[0].visibility, "unlisted");
    EXPECT_EQ(claimed[0].target, server);
    EXPECT_EQ(claimed[0].token, "tok");

    // While the first status is under way its post is replaced twice: the second status, never
    // tried, goes with its post; the first is deleted once it is made.
    store->setAudience(ann->id, Audience::followers);
    const auto second = store->addPost(ann->id, "B", first, 21, std::nullopt);
    const auto third = store->addPost(ann->id, "C", second, 22, std::nullopt);
    EXPECT_TRUE(store->claimJobs(22, 70, 10).empty()) << "one request of the account at a time";
    store->keepStatusId(ann->id, first, "1001");
    ASSERT_TRUE(store->finishJob({claimed[0].id, 65}));
    claimed = store->claimJobs(23, 70, 10);
    ASSERT_EQ(claimed.size(), 2u) << "the deletion of the first and the third's status";
    std::map<JobKind, Job> byKind;
    for (const auto& job : claimed)
        byKind[job.kind] = job;
    EXPECT_EQ(byKind[JobKind::unstatus].postId, first);
    EXPECT_EQ(byKind[JobKind::unstatus].statusId, "1001");
    EXPECT_EQ(byKind[JobKind::status].postId, third);
    EXPECT_EQ(byKind[JobKind::status].visibility, "private") << "a song for followers stays with them";
    EXPECT_EQ(store->pendingJobs(), 2) << "the second's status was never queued to be sent";

    // A refused token holds the account's jobs until it connects again.
    ASSERT_TRUE(store->deferJob({byKind[JobKind::status].id, 70}, 23));
    ASSERT_TRUE(store->finishJob({byKind[JobKind::unstatus].id, 70}));
    store->setMastodonError(ann->id, "401");
    EXPECT_TRUE(store->claimJobs(80, 120, 10).empty());
    EXPECT_EQ(store->mastodonAccount(ann->id).error, "401");
    store->connectMastodon(ann->id, server, "@ann@social.example", "tok2");
    claimed = store->claimJobs(80, 120, 10);
    ASSERT_EQ(claimed.size(), 1u);
    EXPECT_EQ(claimed[0].token, "tok2");

    store->setAudience(ann->id, Audience::nobody);
    const auto fourth = store->addPost(ann->id, "D", std::nullopt, 90, std::nullopt);
    EXPECT_EQ(store->pendingJobs(), 1) << "nobody: no status";
    // Another account's statuses are not this one's to delete.
    store->keepStatusId(ann->id, fourth, "2002");
    store->connectMastodon(ann->id, "https://other.example", "@ann@other.example", "tok3");
    EXPECT_EQ(store->pendingJobs(), 0) << "the status for the account before is dropped";
    store->addPost(ann->id, "E", fourth, 91, std::nullopt);
    EXPECT_EQ(store->pendingJobs(), 0) << "no deletion of a status on the account before";
    store->setAudience(ann->id, Audience::everyone);
    store->addPost(ann->id, "F", std::nullopt, 92, std::nullopt);
    ASSERT_EQ(store->pendingJobs(), 1);
    const auto was = store->disconnectMastodon(ann->id);
    EXPECT_EQ(was.token, "tok3");
    EXPECT_EQ(store->pendingJobs(), 0) << "its statuses waiting go with it";
    EXPECT_EQ(store->mastodonAccount(ann->id).server, "");
}

// The service registers once per server, and a sign-in's state answers once, to the person who
// started it, within a day.
TEST_P(Stores, MastodonAppsAndSignIns)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    const auto bob = store->createUser("Bob", nameKey("Bob"), "h", 0);
    ASSERT_TRUE(ann && bob);
    const std::string back = "https://tunalo.example/fb/mastodon/callback";
    EXPECT_FALSE(store->mastodonApp("https://a.example", back));
    EXPECT_EQ(store->keepMastodonApp({"https://a.example", "id1", "s1", "write:statuses profile", back}).clientId,
              "id1");
    EXPECT_EQ(store->keepMastodonApp({"https://a.example", "id2", "s2", "write:statuses", back}).clientId, "id1")
        << "the first stands";
    EXPECT_FALSE(store->mastodonApp("https://a.example", "http://127.0.0.1:8631/fb/mastodon/callback"))
        << "a service at another address registers anew";

    store->startMastodonSignIn(ann->id, {"https://a.example", "state1", "verifier1"}, 100);
    EXPECT_FALSE(store->takeMastodonSignIn(bob->id, "state1", 101)) << "another person's state";
    const auto taken = store->takeMastodonSignIn(ann->id, "state1", 101);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->verifier, "verifier1");
    EXPECT_FALSE(store->takeMastodonSignIn(ann->id, "state1", 102)) << "once";
    store->startMastodonSignIn(ann->id, {"https://a.example", "state2", "verifier2"}, 100);
    EXPECT_FALSE(store->takeMastodonSignIn(ann->id, "state2", 100 + signInSeconds + 1)) << "too late";
}

// An instance whose lease ran out while its attempt was under way writes nothing of it once another
// instance has taken the job (with a later lease), whatever came of the attempt; renewing in time
// keeps the job from that other claim.
TEST_P(Stores, OnlyTheHolderOfAJobsLeaseWritesItsOutcome)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    ASSERT_TRUE(ann);
    store->addFollower(ann->id, followers[2], 0);
    drain(*store); // the Accept of that follow
    store->addPost(ann->id, "Song", std::nullopt, 100, std::nullopt, true);
    const auto first = store->claimJobs(100, 145, 10);
    ASSERT_EQ(first.size(), 1u);
    const auto id = first[0].id;
    EXPECT_TRUE(store->renewLease({id, 145}, 160)) << "renewed while it was held";
    EXPECT_TRUE(store->claimJobs(150, 195, 10).empty()) << "the renewed lease still holds";
    ASSERT_EQ(store->claimJobs(161, 206, 10).size(), 1u) << "taken by another once it ran out";

    const JobLease stale{id, 160};
    const struct {
        const char* write;
        std::function<bool()> run;
    } writes[] = {
        {"renew", [&] { return store->renewLease(stale, 250); }},
        {"finish", [&] { return store->finishJob(stale); }},
        {"retry", [&] { return store->retryJob(stale, 300); }},
        {"defer", [&] { return store->deferJob(stale, 300); }},
    };
    for (const auto& w : writes) {
        EXPECT_FALSE(w.run()) << w.write;
        EXPECT_TRUE(store->claimJobs(206, 300, 10).empty()) << w.write << ": the other's lease stands";
        EXPECT_EQ(store->pendingJobs(), 1) << w.write;
    }
    const auto again = store->claimJobs(207, 250, 10);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].attempts, 0) << "no failed try was counted";
    EXPECT_TRUE(store->deferJob({id, 250}, 260)) << "the holder's own write";
}

// Two instances on one database, two threads each, claiming at once: every job is claimed by one.
TEST_P(Stores, InstancesClaimingAtOnceNeverShareAJob)
{
    const std::shared_ptr<Store> stores[] = {open(), open()};
    const auto ann = stores[0]->createUser("Ann", nameKey("Ann"), "h", 0);
    ASSERT_TRUE(ann);
    constexpr int inboxes = 200;
    for (int i = 0; i < inboxes; ++i) {
        const auto actor = "https://s" + std::to_string(i) + ".example/u";
        stores[0]->addFollower(ann->id, {actor, actor + "/inbox", "", "", true}, 0);
    }
    drain(*stores[0]);
    stores[0]->addPost(ann->id, "Song", std::nullopt, 100, std::nullopt, true);
    ASSERT_EQ(stores[1]->pendingJobs(), inboxes);

    std::vector<std::int64_t> claims[4];
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            auto& store = *stores[w % 2];
            for (auto jobs = store.claimJobs(100, 1000, 3); !jobs.empty(); jobs = store.claimJobs(100, 1000, 3))
                for (const auto& job : jobs)
                    claims[w].push_back(job.id);
        });
    for (auto& worker : workers)
        worker.join();
    std::vector<std::int64_t> all;
    for (const auto& claim : claims)
        all.insert(all.end(), claim.begin(), claim.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all.size(), std::size_t{inboxes});
    EXPECT_TRUE(std::adjacent_find(all.begin(), all.end()) == all.end()) << "a job was claimed twice";
}

TEST_P(Stores, FollowersComeRenewAndGo)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    const auto bob = store->createUser("Bob", nameKey("Bob"), "h", 0);
    ASSERT_TRUE(ann && bob);
    for (const auto& follower : followers)
        store->addFollower(ann->id, follower, 0);
    store->addFollower(bob->id, followers[0], 0);
    store->addFollower(bob->id, followers[2], 0);
    // A follow again from the same actor renews where it is delivered, and counts once.
    store->addFollower(ann->id, {followers[2].actor, "https://two.example/moved/inbox", "", "", false}, 0);
    EXPECT_EQ(store->followerCount(ann->id), 3);
    EXPECT_EQ(store->followerCount(bob->id), 2);

    EXPECT_TRUE(store->removeFollower(ann->id, followers[1].actor));
    EXPECT_FALSE(store->removeFollower(ann->id, followers[1].actor)) << "no longer following";
    EXPECT_EQ(store->removeFollowersAt(followers[2].inbox), 1) << "only Bob's follow is still delivered there";
    EXPECT_EQ(store->removeFollowersAt("https://two.example/moved/inbox"), 1);
    EXPECT_EQ(store->removeActor(followers[0].actor), 2) << "the actor followed both";
    EXPECT_EQ(store->followerCount(ann->id), 0);
    EXPECT_EQ(store->followerCount(bob->id), 0);

    store->addFollower(ann->id, followers[0], 0);
    store->addFollower(bob->id, followers[1], 0);
    EXPECT_EQ(store->removeFollowersAt("https://one.example/inbox"), 2) << "a shared inbox gone ends all it served";
}

// Two instances making a pair for one person at once keep one of them, the same for both.
TEST_P(Stores, TheFirstKeyPairStays)
{
    const std::unique_ptr<Store> stores[] = {open(), open()};
    const auto ann = stores[0]->createUser("Ann", nameKey("Ann"), "h", 0);
    ASSERT_TRUE(ann);
    EXPECT_FALSE(stores[0]->keys(ann->id));
    KeyPair kept[2];
    std::thread other([&] { kept[1] = stores[1]->keepKeys(ann->id, {"public 1", "private 1"}); });
    kept[0] = stores[0]->keepKeys(ann->id, {"public 0", "private 0"});
    other.join();
    EXPECT_EQ(kept[0].publicPem, kept[1].publicPem);
    EXPECT_EQ(kept[0].privatePem, kept[1].privatePem);
    EXPECT_EQ(kept[0].privatePem, "private" + kept[0].publicPem.substr(6)) << "a pair stays whole";
    const auto later = stores[1]->keepKeys(ann->id, {"public 2", "private 2"});
    EXPECT_EQ(later.publicPem, kept[0].publicPem);
    const auto read = stores[0]->keys(ann->id);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->privatePem, kept[0].privatePem);
}

// The service's own key pair lives in a row among the accounts that no name leads to and no count
// shows; two instances making it at once agree on one pair.
TEST_P(Stores, TheServicesOwnKeyIsOneAndNoAccount)
{
    const std::unique_ptr<Store> stores[] = {open(), open()};
    KeyPair made[2];
    std::thread other([&] { made[1] = instanceKeys(*stores[1], 0); });
    made[0] = instanceKeys(*stores[0], 0);
    other.join();
    EXPECT_EQ(made[0].publicPem, made[1].publicPem);
    EXPECT_EQ(instanceKeys(*stores[0], 0).privatePem, made[0].privatePem) << "kept, not made again";
    EXPECT_EQ(stores[0]->counts().users, 0);
    for (const auto* name : {"#Instance", "#instance", "#INSTANCE"})
        EXPECT_FALSE(stores[0]->findAccount(nameKey(name))) << name;
}

TEST_P(Stores, DestinationsAndCounts)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    ASSERT_TRUE(ann);
    auto chosen = store->destinations(ann->id);
    EXPECT_EQ(chosen.audience, Audience::followers);
    EXPECT_EQ(chosen.listenUrl + chosen.listenToken + chosen.listenError, "");

    store->setAudience(ann->id, Audience::everyone);
    store->setListenService(ann->id, "https://lb.example", "secret");
    store->setListenError(ann->id, "401");
    chosen = store->destinations(ann->id);
    EXPECT_EQ(chosen.audience, Audience::everyone);
    EXPECT_EQ(chosen.listenToken, "secret");
    EXPECT_EQ(chosen.listenError, "401");
    store->setListenService(ann->id, "https://other.example", "");
    chosen = store->destinations(ann->id);
    EXPECT_EQ(chosen.listenUrl, "https://other.example");
    EXPECT_EQ(chosen.listenToken, "secret") << "an empty token leaves the token";
    EXPECT_EQ(chosen.listenError, "") << "a new service starts without the old one's error";

    store->createUser("Bob", nameKey("Bob"), "h", 0);
    const auto first = store->addPost(ann->id, "One", std::nullopt, 0, std::nullopt);
    store->addPost(ann->id, "Two", first, 0, std::nullopt);
    const auto counted = store->counts();
    EXPECT_EQ(counted.users, 2);
    EXPECT_EQ(counted.posts, 1) << "a deleted post is not counted";
}

TEST_P(Stores, APostIsFoundByIdAndADeletedOneIsRemembered)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    const auto bob = store->createUser("Bob", nameKey("Bob"), "h", 0);
    ASSERT_TRUE(ann && bob);
    const auto first = store->addPost(ann->id, "First", std::nullopt, 10, std::nullopt);
    const auto second = store->addPost(ann->id, "Second", first, 20, std::nullopt);
    store->addPost(bob->id, "Bob's", second, 30, std::nullopt); // not Bob's to delete

    const auto live = store->findPost(second);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->user, "Ann");
    EXPECT_EQ(live->song, "Second");
    EXPECT_EQ(live->postedAt, 20);
    EXPECT_FALSE(live->deleted);
    const auto gone = store->findPost(first);
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->id, first);
    EXPECT_EQ(gone->user, "Ann");
    EXPECT_EQ(gone->song, "");
    EXPECT_TRUE(gone->deleted);
    EXPECT_FALSE(store->findPost(second + 100));
}

// Each song keeps the audience it was posted with: opening up later shows none of the earlier
// songs that were for followers, and only songs for everyone are public.
TEST_P(Stores, EachPostKeepsTheAudienceItWasPostedWith)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    const auto bob = store->createUser("Bob", nameKey("Bob"), "h", 0);
    ASSERT_TRUE(ann && bob);
    const auto forFollowers = store->addPost(ann->id, "For followers", std::nullopt, 10, std::nullopt);
    store->setAudience(ann->id, Audience::nobody);
    const auto forNobody = store->addPost(ann->id, "For nobody", std::nullopt, 20, std::nullopt);
    store->setAudience(ann->id, Audience::everyone);
    const auto forEveryone = store->addPost(ann->id, "For everyone", std::nullopt, 30, std::nullopt);
    store->addPost(bob->id, "Bob's, for followers", std::nullopt, 40, std::nullopt);

    EXPECT_EQ(store->findPost(forFollowers)->audience, Audience::followers);
    EXPECT_EQ(store->findPost(forNobody)->audience, Audience::nobody);
    EXPECT_EQ(store->findPost(forEveryone)->audience, Audience::everyone);
    const auto own = store->recentPosts(10, ann->id);
    ASSERT_EQ(own.size(), 3u) << "the person has all their own";
    EXPECT_EQ(own[2].audience, Audience::followers);
    for (const auto& publicOnes : {store->recentPosts(10, ann->id, true), store->recentPosts(10, std::nullopt, true)}) {
        ASSERT_EQ(publicOnes.size(), 1u);
        EXPECT_EQ(publicOnes[0].id, forEveryone);
        EXPECT_EQ(publicOnes[0].audience, Audience::everyone);
    }
    EXPECT_EQ(store->recentPosts(10).size(), 4u);
}

// With followers, a follow waits for the person: it counts for nothing until approved, and the
// Accept or Reject goes out as a job carrying the follow it answers.
TEST_P(Stores, AFollowRequestWaitsForThePersonsAnswer)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
    ASSERT_TRUE(ann);
    const std::string followA = R"({"id":"https://one.example/follows/1","type":"Follow"})";
    Follower asking{followers[0].actor, followers[0].inbox, followers[0].sharedInbox, followA, false};
    EXPECT_FALSE(store->addFollower(ann->id, asking, 5)) << "a request, not a follower";
    EXPECT_EQ(store->pendingJobs(), 0) << "nothing is answered yet";
    EXPECT_EQ(store->followerCount(ann->id), 0);
    EXPECT_FALSE(store->hasFollowerOn(ann->id, "https://one.example"));
    store->addPost(ann->id, "Song", std::nullopt, 6, std::nullopt, true);
    EXPECT_EQ(store->pendingJobs(), 0) << "a request gets no songs";
    const auto requests = store->followers(ann->id, false, 10);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].actor, asking.actor);
    EXPECT_EQ(requests[0].follow, followA);
    EXPECT_TRUE(store->followers(ann->id, true, 10).empty());

    EXPECT_TRUE(store->approveFollower(ann->id, asking.actor, 7));
    EXPECT_FALSE(store->approveFollower(ann->id, asking.actor, 7)) << "approved once";
    auto jobs = drain(*store);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].kind, JobKind::accept);
    EXPECT_EQ(jobs[0].target, asking.inbox) << "to the follower's own inbox";
    EXPECT_EQ(jobs[0].song, followA);
    EXPECT_EQ(jobs[0].userName, "Ann");
    EXPECT_EQ(store->followerCount(ann->id), 1);
    // Followers are recognised by their site, and only by a whole site.
    EXPECT_TRUE(store->hasFollowerOn(ann->id, "https://one.example"));
    EXPECT_FALSE(store->hasFollowerOn(ann->id, "https://one.exampl"));
    EXPECT_FALSE(store->hasFollowerOn(ann->id, "https://two.example"));

    // Its server sends the follow again: it stays approved and is accepted at once.
    EXPECT_TRUE(store->addFollower(ann->id, asking, 8));
    EXPECT_EQ(drain(*store).size(), 1u);

    // A follower approved before follows were kept is removed with a follow made of its actor.
    store->addFollower(ann->id, followers[2], 9);
    drain(*store);
    for (const auto& actor : {asking.actor, followers[2].actor}) {
        EXPECT_TRUE(store->refuseFollower(ann->id, actor, 10)) << actor;
        EXPECT_FALSE(store->refuseFollower(ann->id, actor, 10)) << actor;
    }
    jobs = drain(*store);
    ASSERT_EQ(jobs.size(), 2u);
    for (const auto& job : jobs)
        EXPECT_EQ(job.kind, JobKind::reject);
    EXPECT_EQ(jobs[0].song, followA);
    const auto made = nlohmann::json::parse(jobs[1].song);
    EXPECT_EQ(made["actor"], followers[2].actor);
    EXPECT_EQ(made["type"], "Follow");
    EXPECT_EQ(jobs[1].target, followers[2].inbox);
    EXPECT_EQ(store->followerCount(ann->id), 0);
    store->addPost(ann->id, "Song", std::nullopt, 11, std::nullopt, true);
    EXPECT_EQ(store->pendingJobs(), 0) << "a removed follower gets no more songs";

    // Undo ends a request too.
    store->addFollower(ann->id, asking, 12);
    EXPECT_TRUE(store->removeFollower(ann->id, asking.actor));
    EXPECT_TRUE(store->followers(ann->id, false, 10).empty());
}

TEST_P(Stores, AProfileIsKeptWithTheAccount)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 1700000000);
    ASSERT_TRUE(ann);
    auto profile = store->profile(ann->id);
    EXPECT_EQ(profile.displayName + profile.summary, "");
    EXPECT_FALSE(profile.discoverable || profile.indexable) << "neither unless the person ticks it";
    EXPECT_EQ(profile.createdAt, 1700000000);
    store->setProfile(ann->id, {"Ann Example", "Hi\nthere", true, false, 0});
    profile = store->profile(ann->id);
    EXPECT_EQ(profile.displayName, "Ann Example");
    EXPECT_EQ(profile.summary, "Hi\nthere");
    EXPECT_TRUE(profile.discoverable);
    EXPECT_FALSE(profile.indexable);
    EXPECT_EQ(profile.createdAt, 1700000000) << "the account's creation stays";
}

// A database of the schema before audiences were kept with each post: accounts keep what others
// saw of them (everyone), but for one that chose nobody; their followers stay approved.
TEST_P(Stores, AccountsFromBeforeKeepTheirSongsOpen)
{
    {
        const auto store = open();
        const auto ann = store->createUser("Ann", nameKey("Ann"), "h", 0);
        const auto cy = store->createUser("Cy", nameKey("Cy"), "h", 0);
        ASSERT_TRUE(ann && cy);
        store->setAudience(cy->id, Audience::nobody);
        store->addPost(ann->id, "Ann's", std::nullopt, 1, std::nullopt);
        store->addPost(cy->id, "Cy's", std::nullopt, 2, std::nullopt);
        store->addFollower(ann->id, followers[0], 3);
        drain(*store);
    }
    // Back to the schema before the audiences: the Mastodon accounts came after them.
    exec({"DROP TABLE mastodon_apps", "DROP TABLE mastodon_signins", "DROP TABLE mastodon_statuses",
          "DROP INDEX jobs_by_user", "ALTER TABLE jobs DROP COLUMN visibility",
          "ALTER TABLE users DROP COLUMN mastodon_server", "ALTER TABLE users DROP COLUMN mastodon_handle",
          "ALTER TABLE users DROP COLUMN mastodon_token", "ALTER TABLE users DROP COLUMN mastodon_error",
          "ALTER TABLE users DROP COLUMN mastodon_words", "ALTER TABLE users DROP COLUMN mastodon_visibility"});
    exec({"DROP INDEX posts_public", "DROP INDEX posts_public_by_user", "ALTER TABLE posts DROP COLUMN audience", "ALTER TABLE followers DROP COLUMN approved",
          "ALTER TABLE followers DROP COLUMN follow", "ALTER TABLE users DROP COLUMN display_name",
          "ALTER TABLE users DROP COLUMN summary", "ALTER TABLE users DROP COLUMN discoverable",
          "ALTER TABLE users DROP COLUMN indexable"});
    setSchemaVersion(schemaVersion() - 2);
    const auto store = open();
    const auto ann = store->findAccount(nameKey("Ann"))->user;
    const auto cy = store->findAccount(nameKey("Cy"))->user;
    EXPECT_EQ(store->destinations(ann.id).audience, Audience::everyone);
    EXPECT_EQ(store->destinations(cy.id).audience, Audience::nobody);
    const auto forEveryone = store->recentPosts(10, std::nullopt, true);
    ASSERT_EQ(forEveryone.size(), 1u);
    EXPECT_EQ(forEveryone[0].song, "Ann's");
    EXPECT_EQ(store->followerCount(ann.id), 1);
    EXPECT_TRUE(store->hasFollowerOn(ann.id, "https://one.example"));
}

INSTANTIATE_TEST_SUITE_P(Each, Stores, ::testing::Values(Kind::sqlite, Kind::postgres), [](const auto& info) {
    return info.param == Kind::sqlite ? "SQLite" : "PostgreSQL";
});

TEST(SqliteStore, KeepsItsFileInWalMode)
{
    testkit::TempDir dir;
    const auto path = (dir.path() / "service.db").string();
    SqliteStore store(path);
    auto mode = Database(path).prepare("PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
}

// A database of the first schema, where "Élodie" and "élodie" were two accounts.
TEST(SqliteStore, UpgradesAFirstSchemaDatabaseKeepingEveryAccount)
{
    testkit::TempDir dir;
    const auto path = (dir.path() / "service.db").string();
    {
        Database db(path);
        db.exec(R"(CREATE TABLE users (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
                       password_hash TEXT NOT NULL, created_at INTEGER NOT NULL);
                   CREATE TABLE sessions (token_hash BLOB PRIMARY KEY, user_id INTEGER NOT NULL
                       REFERENCES users(id) ON DELETE CASCADE, expires_at INTEGER NOT NULL) WITHOUT ROWID;
                   CREATE TABLE posts (id INTEGER PRIMARY KEY AUTOINCREMENT, user_id INTEGER NOT NULL
                       REFERENCES users(id) ON DELETE CASCADE, song TEXT NOT NULL, posted_at INTEGER NOT NULL);
                   INSERT INTO sessions VALUES (zeroblob(32), 2, 9999999999);
                   INSERT INTO posts (user_id, song, posted_at) VALUES (1, 'Kept', 0);
                   PRAGMA user_version=1;)");
        db.exec("INSERT INTO users VALUES (1, 'Ann', 'h1', 0), (2, '\xC3\x89lodie', 'h2', 0), "
                "(3, '\xC3\xA9lodie', 'h3', 0)");
    }
    SqliteStore store(path);
    const auto ann = store.findAccount(nameKey("ANN"));
    ASSERT_TRUE(ann);
    EXPECT_EQ(ann->user.name, "Ann");
    EXPECT_EQ(ann->passwordHash, "h1");
    const auto elodie = store.findAccount(nameKey("\xC3\xA9LODIE"));
    ASSERT_TRUE(elodie);
    EXPECT_EQ(elodie->user.id, 2) << "the older of two names that now fold alike keeps the name";
    EXPECT_EQ(store.recentPosts(10).size(), 1u) << "posts survive the rebuilt users table";
    const auto session = store.sessionUser(TokenHash{}, 0);
    ASSERT_TRUE(session) << "sessions survive the rebuilt users table";
    EXPECT_EQ(session->id, 2);
    EXPECT_FALSE(store.createUser("\xC3\x89LODIE", nameKey("\xC3\x89LODIE"), "h", 0));
    EXPECT_TRUE(store.createUser("Bob", nameKey("Bob"), "h", 0));
    // The accounts of before federated nothing: their songs stay open to everyone, as their page
    // was, they have no keys yet, and their posts are found by id.
    EXPECT_EQ(store.destinations(1).audience, Audience::everyone);
    EXPECT_EQ(store.destinations(4).audience, Audience::followers) << "a new account starts at followers";
    EXPECT_FALSE(store.keys(1));
    const auto kept = store.findPost(1);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->song, "Kept");
    EXPECT_EQ(kept->audience, Audience::everyone);
    EXPECT_EQ(store.counts().users, 4);
    store.addFollower(1, {"https://one.example/u/a", "https://one.example/u/a/inbox", "", "", true}, 0);
    store.addPost(1, "Next", 1, 5, std::nullopt, true);
    EXPECT_EQ(store.pendingJobs(), 3) << "the follow's accept, the old post's delete and the new one's create";
    EXPECT_TRUE(store.findPost(1)->deleted);
}

TEST(PostgresStore, ConnectsAgainAfterTheServerDroppedItsConnections)
{
    if (testkit::testCluster().empty())
        GTEST_SKIP() << "TUNALO_TEST_POSTGRES names no PostgreSQL cluster (scripts/test starts one)";
    ScratchDatabase scratch(testkit::testCluster());
    PostgresStore store(scratch.address(), 2);
    ASSERT_TRUE(store.createUser("Ann", nameKey("Ann"), "hash", 0));
    // As when the server restarts: every connection of the store ends.
    pg::Connection(scratch.address())
        .query("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = current_database() "
               "AND pid <> pg_backend_pid()");
    int failures = 0;
    for (int attempt = 0; attempt < 3 && failures < 3; ++attempt) {
        try {
            store.findAccount(nameKey("Ann"));
        } catch (const DatabaseError&) {
            ++failures; // the request that found its connection gone
        }
    }
    EXPECT_LE(failures, 1);
    EXPECT_TRUE(store.findAccount(nameKey("Ann"))) << "the store works again";
}

TEST(OpenStore, ChoosesTheStoreByTheAddress)
{
    EXPECT_TRUE(isPostgresAddress("postgresql://ann@db:5432/tunalo"));
    EXPECT_TRUE(isPostgresAddress("postgres://db/tunalo"));
    EXPECT_FALSE(isPostgresAddress("/var/lib/tunalo/postgresql://x.db"));
    EXPECT_FALSE(isPostgresAddress("service.db"));
    try {
        PostgresStore("postgresql://nobody@127.0.0.1:1/none");
        FAIL() << "connected to a closed port";
    } catch (const DatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot connect to the database"), std::string::npos)
            << e.what();
    }
}

} // namespace
