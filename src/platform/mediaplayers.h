#pragma once

#include <QString>

#include <vector>

namespace tunalo {

// What the chosen media player on the session bus plays: the song as the status line and the
// posts show it, and the player's own name for itself ("Rhythmbox").
struct NowPlaying {
    QString song;
    QString identity;
    // The song's picture as the player gives it (file:// or https://); empty when it gives none.
    QString artUrl = {};
    // The song's length in milliseconds; 0 when the player does not say.
    qint64 lengthMs = 0;
    // Whether the player says it plays; a paused song is not being heard.
    bool playing = false;
};

// A player on the session bus: its name as the user's choice keeps it ("strawberry", "chromium")
// and its own name for itself ("Strawberry", "Chromium").
struct BusPlayer {
    QString name;
    QString identity;

    bool operator==(const BusPlayer&) const = default;
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
    // The song of the player that most recently started playing or changed its track, among the
    // players that count; a player that pauses or stops keeps its last song. Empty when no player
    // that counts has played yet.
    virtual NowPlaying nowPlaying() = 0;
    // Every player on the bus, whether it counts or not, in the order of their names.
    virtual std::vector<BusPlayer> busPlayers() = 0;
    // Which players count, as the settings keep it in "mprisplayers".
    virtual void choosePlayers(const QString& choice) = 0;
};

} // namespace tunalo
