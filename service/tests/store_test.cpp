#include "auth.h"
#include "store.h"
#include "text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace tunalo::service;

namespace {

class StoreFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tunalo-store.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string path() const { return (m_dir / "service.db").string(); }

private:
    std::filesystem::path m_dir;
};

TEST_F(StoreFile, CreatesTheSchemaInWalModeAndRefusesANewerOne)
{
    {
        Store store(path());
        Database db(path());
        auto mode = db.prepare("PRAGMA journal_mode");
        ASSERT_TRUE(mode.step());
        EXPECT_EQ(mode.text(0), "wal");
        auto version = db.prepare("PRAGMA user_version");
        ASSERT_TRUE(version.step());
        EXPECT_EQ(version.integer(0), Store::schemaVersion);
        db.exec("PRAGMA user_version=99");
    }
    EXPECT_THROW(Store{path()}, DatabaseError);
}

TEST_F(StoreFile, AFailedWriteLeavesNothingBehind)
{
    Store store(path());
    const auto ann = store.createUser("Ann", "ann", "hash", 0);
    ASSERT_TRUE(ann);
    EXPECT_FALSE(store.createUser("aNN", "ann", "hash", 0)) << "name keys are unique";
    // A post for a user who does not exist breaks the foreign key; the transaction's delete of
    // Ann's post must roll back with it.
    const auto kept = store.addPost(ann->id, "Kept", std::nullopt, 0);
    EXPECT_THROW(store.addPost(ann->id + 100, "Orphan", kept, 0), DatabaseError);
    const auto posts = store.recentPosts(10);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].id, kept);
}

// A database of the first schema, where "Élodie" and "élodie" were two accounts.
TEST_F(StoreFile, UpgradesAFirstSchemaDatabaseKeepingEveryAccount)
{
    {
        Database db(path());
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
    Store store(path());
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
}

TEST_F(StoreFile, SignUpSlotsPerAddressAndLoginFailuresAreSharedThroughTheFile)
{
    Store one(path());
    Store two(path()); // a second service process on the same database
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE((i % 2 ? one : two).takeSignUpSlot("192.0.2.1", 100 + i, 50, 5));
    EXPECT_FALSE(one.takeSignUpSlot("192.0.2.1", 110, 50, 5));
    EXPECT_TRUE(two.takeSignUpSlot("192.0.2.2", 110, 50, 5)) << "another address";
    EXPECT_TRUE(two.takeSignUpSlot("192.0.2.1", 170, 101, 5)) << "the first sign-ups have left the window";

    EXPECT_EQ(one.recordLoginFailure("ann", 100, 0), 1);
    EXPECT_EQ(two.recordLoginFailure("ann", 101, 0), 2);
    EXPECT_EQ(one.loginFailures("ann", 0), 2);
    EXPECT_EQ(one.loginFailures("bob", 0), 0);
    EXPECT_EQ(two.loginFailures("ann", 102), 0) << "a run of failures ends when it goes quiet";
    EXPECT_EQ(two.recordLoginFailure("ann", 500, 200), 1) << "and then counts from the start";
    one.clearLoginFailures("ann");
    EXPECT_EQ(two.loginFailures("ann", 0), 0);
}

} // namespace
