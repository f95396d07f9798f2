#pragma once

#include "nowplaying/playerchoice.h"
#include "platform/mediaplayers.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <vector>

namespace tunalo {

// One track as a player describes it.
struct MprisTrack {
    QString id; // the player's own name for the track; the same song played again keeps it
    QString title;
    QStringList artists;
    QString artUrl = {}; // the song's picture; many players give it a moment after the song
    qint64 lengthUs = 0; // the song's length in microseconds, as the player says; 0 when it does not

    bool operator==(const MprisTrack&) const = default;
    // The same song, whatever its picture.
    bool sameSong(const MprisTrack& other) const
    {
        return id == other.id && title == other.title && artists == other.artists;
    }
};

// "Artist - Title", several artists joined by ", "; only the title without an artist; nothing
// without a title.
QString songOf(const MprisTrack& track);

// What the players on the bus last reported, and which of them Tunalo follows: among the players
// the user's choice lets count and that play, the one that most recently started playing or changed
// its track. Knows nothing of the bus; its owner tells it what the players say.
class MprisCache {
public:
    void add(const QString& busName);
    void remove(const QString& busName);
    void setIdentity(const QString& busName, const QString& identity);
    // "Playing", "Paused" or "Stopped"; anything else counts as not playing.
    void setStatus(const QString& busName, const QString& status);
    void setTrack(const QString& busName, const MprisTrack& track);

    // Which players count from now on; a followed player that no longer counts is left at once.
    void setChoice(const PlayerChoice& choice);

    bool has(const QString& busName) const { return m_players.contains(busName); }
    // Every player on the bus, counting or not, by name.
    std::vector<BusPlayer> players() const;
    bool any() const { return !m_players.empty(); }
    const NowPlaying& current() const { return m_current; }

private:
    struct Player {
        QString identity;
        bool playing = false;
        MprisTrack track;
        std::uint64_t lastActive = 0; // when it last started playing or changed its track while playing
    };

    void activate(Player& player) { player.lastActive = ++m_clock; }
    // Follows the player that played last; with none playing, the song stays as it was, paused.
    void choose();

    PlayerChoice m_choice;
    std::map<QString, Player> m_players;
    std::uint64_t m_clock = 0;
    QString m_followed; // bus name of the player the song comes from
    NowPlaying m_current;
};

} // namespace tunalo
