// A service killed with SIGKILL in the middle of a burst of posts keeps every post it confirmed.
#include "servicefixture.h"

#include <algorithm>
#include <signal.h>

using namespace tunalo::service::testkit;

namespace {

class Durability : public ServiceTest {
protected:
    std::vector<std::string> posters()
    {
        std::vector<std::string> cookies;
        for (int i = 0; i < 4; ++i)
            cookies.push_back(member("poster" + std::to_string(i)).cookie());
        return cookies;
    }

    // The confirmed posts that are not in the database.
    std::vector<long long> lost(const std::set<long long>& confirmed)
    {
        std::set<long long> stored;
        for (const auto& id : sql("SELECT id FROM posts"))
            stored.insert(std::stoll(id));
        std::vector<long long> missing;
        std::set_difference(confirmed.begin(), confirmed.end(), stored.begin(), stored.end(),
                            std::back_inserter(missing));
        return missing;
    }
};

TEST_F(Durability, KillDuringABurstLosesNoConfirmedPost)
{
    PostBurst burst(posters(), {port()});
    ASSERT_TRUE(burst.waitFor(200));
    service().stop(SIGKILL);
    burst.stop();
    const auto confirmed = burst.confirmed();

    restart();
    EXPECT_EQ(visitor().title("/"), "Tunalo service");
    if (!onPostgres()) {
        EXPECT_EQ(sql("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    }
    const auto missing = lost(confirmed);
    EXPECT_TRUE(missing.empty()) << missing.size() << " confirmed posts lost, first " << missing.front();
}

TEST_F(Durability, KillingOneOfTwoInstancesLosesNoConfirmedPostAndTheOtherGoesOn)
{
    const auto other = startAnother();
    PostBurst burst(posters(), {port(), other->port()});
    ASSERT_TRUE(burst.waitFor(200));
    service().stop(SIGKILL);
    const auto atKill = burst.confirmed().size();
    EXPECT_TRUE(burst.waitFor(atKill + 100)) << "the instance left standing serves every poster";
    burst.stop();

    const auto missing = lost(burst.confirmed());
    EXPECT_TRUE(missing.empty()) << missing.size() << " confirmed posts lost, first " << missing.front();
}

} // namespace
