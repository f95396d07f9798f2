#include "auth.h"
#include "pgstore.h"
#include "postgres.h"
#include "scratchdatabase.h"
#include "serviceprocess.h"
#include "sqlitestore.h"

#include <gtest/gtest.h>

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
        ASSERT_TRUE(store->createUser("Ann", "hash", 0));
    }
    EXPECT_TRUE(open()->findAccount("Ann")) << "a second start keeps what the first stored";
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

TEST_P(Stores, NamesAreUniqueWithoutLetterCase)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", "hash-a", 0);
    ASSERT_TRUE(ann);
    EXPECT_FALSE(store->createUser("aNN", "hash-b", 0));
    const auto found = store->findAccount("ANN");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->user.id, ann->id);
    EXPECT_EQ(found->user.name, "Ann");
    EXPECT_EQ(found->passwordHash, "hash-a");
    EXPECT_FALSE(store->findAccount("Bob"));
}

TEST_P(Stores, SessionsAreSharedBetweenInstancesAndExpire)
{
    const auto first = open();
    const auto second = open();
    const auto ann = first->createUser("Ann", "hash", 0);
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
    const auto ann = store->createUser("Ann", "hash", 0);
    const auto bob = store->createUser("Bob", "hash", 0);
    ASSERT_TRUE(ann && bob);
    // Quotes, a statement of its own and letters beyond ASCII arrive as written.
    const std::string tricky = "O'Brien \"Live\" '); DROP TABLE posts; -- Élodie ☃";
    const auto first = store->addPost(ann->id, tricky, std::nullopt, 10);
    const auto second = store->addPost(bob->id, "Bob's song", first, 11);
    const auto third = store->addPost(ann->id, "Ann's second", std::nullopt, 12);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);

    const auto all = store->recentPosts(10);
    ASSERT_EQ(all.size(), 3u) << "Bob cannot delete Ann's post";
    EXPECT_EQ(all[0].id, third);
    EXPECT_EQ(all[2].song, tricky);
    EXPECT_EQ(all[2].user, "Ann");
    EXPECT_EQ(all[2].postedAt, 10);
    EXPECT_EQ(store->recentPosts(1).size(), 1u);

    store->addPost(ann->id, "Ann's third", first, 13);
    const auto anns = store->recentPosts(10, ann->id);
    ASSERT_EQ(anns.size(), 2u);
    EXPECT_EQ(anns[0].song, "Ann's third");
    EXPECT_EQ(anns[1].id, third);
    // An id once deleted never names a newer post.
    EXPECT_GT(store->addPost(bob->id, "later", std::nullopt, 14), third + 1);
}

TEST_P(Stores, AFailedWriteLeavesNothingBehind)
{
    const auto store = open();
    const auto ann = store->createUser("Ann", "hash", 0);
    ASSERT_TRUE(ann);
    // A post for a user who does not exist breaks the foreign key; the deletion of Ann's post
    // that comes with it must roll back.
    const auto kept = store->addPost(ann->id, "Kept", std::nullopt, 0);
    EXPECT_THROW(store->addPost(ann->id + 100, "Orphan", kept, 0), DatabaseError);
    const auto posts = store->recentPosts(10);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].id, kept);
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

TEST(AttemptLimiter, TenPerNameInAnyMinute)
{
    AttemptLimiter limiter(10, std::chrono::minutes(1));
    const auto start = AttemptLimiter::Clock::now();
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(limiter.allow("Ann", start + std::chrono::seconds(i)));
    EXPECT_FALSE(limiter.allow("ANN", start + std::chrono::seconds(30)));
    EXPECT_TRUE(limiter.allow("Bob", start + std::chrono::seconds(30)));
    EXPECT_TRUE(limiter.allow("Ann", start + std::chrono::milliseconds(60500)))
        << "the first attempt has left the window";
    EXPECT_FALSE(limiter.allow("Ann", start + std::chrono::milliseconds(60500)));
}

} // namespace
