// A service killed with SIGKILL in the middle of a burst of posts keeps every post it confirmed.
#include "servicefixture.h"

#include <atomic>
#include <mutex>
#include <regex>
#include <set>
#include <signal.h>
#include <thread>

using namespace tunalo::service::testkit;

namespace {

class Durability : public ServiceTest {};

TEST_F(Durability, KillDuringABurstLosesNoConfirmedPost)
{
    std::vector<std::string> cookies;
    for (int i = 0; i < 4; ++i)
        cookies.push_back(member("poster" + std::to_string(i)).cookie());

    std::mutex mutex;
    std::set<long long> confirmed;
    std::atomic<bool> running = true;
    std::vector<std::thread> posters;
    for (const auto& cookie : cookies) {
        posters.emplace_back([&, cookie] {
            Visitor v(port());
            v.cookie() = cookie;
            const std::regex posted(R"(Posted ID:(\d+))");
            for (int n = 0; running; ++n) {
                const auto title = v.postSong("Burst - Song " + std::to_string(n));
                std::smatch match;
                if (!std::regex_match(title, match, posted))
                    break; // the service is gone
                std::lock_guard lock(mutex);
                confirmed.insert(std::stoll(match[1]));
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(mutex);
            if (confirmed.size() >= 200)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    service().stop(SIGKILL);
    running = false;
    for (auto& t : posters)
        t.join();
    ASSERT_GE(confirmed.size(), 200u);

    restart();
    EXPECT_EQ(visitor().title("/"), "Tunalo service");
    EXPECT_EQ(sql("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    std::set<long long> stored;
    for (const auto& id : sql("SELECT id FROM posts"))
        stored.insert(std::stoll(id));
    std::vector<long long> lost;
    std::set_difference(confirmed.begin(), confirmed.end(), stored.begin(), stored.end(),
                        std::back_inserter(lost));
    EXPECT_TRUE(lost.empty()) << lost.size() << " confirmed posts lost, first " << lost.front();
}

} // namespace
