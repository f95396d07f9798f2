#include "servicefixture.h"

namespace tunalo::service::testkit {

PostBurst::PostBurst(const std::vector<std::string>& cookies, const std::vector<int>& ports)
{
    for (const auto& cookie : cookies)
        m_posters.emplace_back([this, cookie, ports] { post(cookie, ports); });
}

void PostBurst::post(const std::string& cookie, const std::vector<int>& ports)
{
    std::vector<std::unique_ptr<Visitor>> instances;
    for (const int port : ports) {
        instances.push_back(std::make_unique<Visitor>(port));
        instances.back()->cookie() = cookie;
    }
    for (std::size_t n = 0; m_running && !instances.empty(); ++n) {
        const auto turn = n % instances.size();
        const auto title = instances[turn]->postSong("Burst - Song " + std::to_string(n));
        const auto id = postedId(title);
        if (id < 0) {
            instances.erase(instances.begin() + static_cast<std::ptrdiff_t>(turn)); // that instance is gone
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_confirmed.insert(id);
    }
}

bool PostBurst::waitFor(std::size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (confirmed().size() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void PostBurst::stop()
{
    m_running = false;
    for (auto& poster : m_posters)
        if (poster.joinable())
            poster.join();
}

std::set<long long> PostBurst::confirmed()
{
    std::lock_guard lock(m_mutex);
    return m_confirmed;
}

} // namespace tunalo::service::testkit
