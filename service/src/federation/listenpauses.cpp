#include "federation/listenpauses.h"

#include <algorithm>

namespace tunalo::service {

void ListenPauses::answered(const std::string& target, const PeerAnswer& answer, std::int64_t now)
{
    const bool refused = answer.status == 429;
    const bool spent = answer.rateLimitRemaining && *answer.rateLimitRemaining == 0;
    if (!refused && !spent) {
        m_until.erase(target);
        return;
    }
    auto wait = answer.rateLimitResetIn.value_or(defaultWaitSeconds);
    if (!answer.rateLimitResetIn && answer.rateLimitResetAt)
        wait = *answer.rateLimitResetAt - now;
    m_until[target] = now + std::clamp<std::int64_t>(wait, 1, longestWaitSeconds);
}

std::optional<std::int64_t> ListenPauses::waitUntil(const std::string& target, std::int64_t now) const
{
    const auto it = m_until.find(target);
    if (it == m_until.end() || it->second <= now)
        return std::nullopt;
    return it->second;
}

} // namespace tunalo::service
