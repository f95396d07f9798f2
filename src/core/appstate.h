#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace tunalo {

// Index into the player table (nowplaying/players.h), which alone knows how many players there are.
using PlayerId = std::int16_t;

// 0 none yet, 1 logged in, 2 log-in failed.
using LoginState = std::int32_t;

// The program's own Booleans.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

// The state the whole program shares. Lives as long as the program; only the user-interface
// thread touches it.
struct AppState {
    LoginState loginState = 0;
    QString lastPostTitle;        // title of the last post result page; carries the post's id
    PlayerId selectedPlayer = 0;  // the player whose window is watched
    std::int16_t autoPublish = 0; // options: 0 off, anything else on
    std::int16_t autoDelete = 0;
    std::int16_t autoAlert = 0;
    std::int16_t screenWords = 0;
    std::int16_t publishing = kFalse; // on only when it equals kTrue
    QString previousSong;             // the song seen on the tick before
    QString currentSong;              // the song now playing, as last read while publishing
};

} // namespace tunalo
