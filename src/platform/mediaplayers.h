#pragma once

#include <QString>

namespace tunalo {

// What the chosen media player on the session bus plays: the song as the status line and the
// posts show it, and the player's own name for itself ("Rhythmbox").
struct NowPlaying {
    QString song;
    QString identity;
};

// The media players that announce what they play on the session bus. Every answer comes from
// what the players last reported, so asking costs no round trip to the bus.
class MediaPlayers {
public:
    virtual ~MediaPlayers() = default;

    // Starts following the bus; before it, and without a session bus, no player is there.
    virtual void watch() = 0;
    // Whether at least one player is on the bus.
    virtual bool anyPlayer() = 0;
    // The song of the player that most recently started playing or changed its track; a player
    // that pauses or stops keeps its last song. Empty when no player has played yet.
    virtual NowPlaying nowPlaying() = 0;
};

} // namespace tunalo
