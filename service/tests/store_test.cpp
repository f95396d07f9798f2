#include "auth.h"
#include "store.h"

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
    const auto ann = store.createUser("Ann", "hash", 0);
    ASSERT_TRUE(ann);
    EXPECT_FALSE(store.createUser("aNN", "hash", 0)) << "names are unique without letter case";
    // A post for a user who does not exist breaks the foreign key; the transaction's delete of
    // Ann's post must roll back with it.
    const auto kept = store.addPost(ann->id, "Kept", std::nullopt, 0);
    EXPECT_THROW(store.addPost(ann->id + 100, "Orphan", kept, 0), DatabaseError);
    const auto posts = store.recentPosts(10);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].id, kept);
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
