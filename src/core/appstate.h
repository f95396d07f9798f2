#pragma once

#include "nowplaying/playerid.h"

#include <QString>

#include <array>
#include <cstdint>

namespace tunalo {

// What the home page, or a post's answer since, said of the user's log-in. The numbers are the
// state's own and stay as they are.
enum class LoginState : std::int32_t { NoneYet = 0, LoggedIn = 1, Failed = 2 };

// A page has told the state, either way.
inline bool isKnown(LoginState state)
{
    return state == LoginState::LoggedIn || state == LoginState::Failed;
}

// The state the whole program shares. Lives as long as the program; only the user-interface
// thread touches it.
struct AppState {
    LoginState loginState = LoginState::NoneYet;
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
