#pragma once

#include <cstdint>

namespace tunalo {

// Index into the player table (nowplaying/players.h), which alone knows how many players there are.
using PlayerId = std::int16_t;

// The program's own Booleans, as the running test answers: -1 true, 0 false.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

} // namespace tunalo
