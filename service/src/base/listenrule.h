#pragma once

#include <algorithm>
#include <cstdint>

namespace tunalo::service {

// ListenBrainz's rule for a listen that counts: heard for half the song or four minutes, whichever
// is shorter; a song under 30 seconds never counts. A song whose length is not known counts after
// four minutes.
constexpr std::int64_t shortestListenMs = 30'000;
constexpr std::int64_t longestNeedMs = 240'000;

constexpr bool countsAsListen(std::int64_t lengthMs, std::int64_t heardMs)
{
    if (lengthMs > 0 && lengthMs < shortestListenMs)
        return false;
    const auto needed = lengthMs > 0 ? std::min(lengthMs / 2, longestNeedMs) : longestNeedMs;
    return heardMs >= needed;
}

} // namespace tunalo::service
