#pragma once

#include "nowplaying/playerid.h"
#include "platform/mediaplayers.h"
#include "platform/windowlist.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace tunalo {

// What the players are read from: the desktop's windows and the players on the session bus.
struct PlayerDesktop {
    WindowList& windows;
    MediaPlayers& players;
};

// How a player puts the song into its window title.
struct PlayerTitleFormat {
    enum class Piece { BeforeMarker, AfterMarker };

    QString lookupText;                // finds the player's window (letter case ignored)
    QString marker;                    // splits the title (exact)
    Piece piece = Piece::BeforeMarker; // which side of the marker holds the song
    bool dropTrackNumber = false;      // a leading "12." goes
};

struct PlayerRow;

// What the player says of the song beyond its name: how long it is (0 when it does not say) and
// whether it is being heard now.
struct Listening {
    qint64 lengthMs = 0;
    bool playing = true;
};

// Where a player's song comes from. The four players of the table show it in their window title and
// share one source; a player that announces its song some other way brings a source of
// its own, and every caller keeps going through the row.
class SongSource {
public:
    virtual ~SongSource() = default;

    // -1 when a player answering to key (the row's runningKey or panelKey) runs, else 0.
    virtual std::int16_t running(PlayerDesktop& desktop, const QString& key) const = 0;
    // The song the running player plays now; empty when there is none.
    virtual QString song(PlayerDesktop& desktop, const PlayerRow& row) const = 0;
    // What the status line names after the song and " - ".
    virtual QString statusName(PlayerDesktop& desktop, const PlayerRow& row) const;
    // The address of the song's picture, where the player gives one.
    virtual QString artUrl(PlayerDesktop& /*desktop*/) const { return {}; }
    // A song in a window title is heard for as long as the title stands.
    virtual Listening listening(PlayerDesktop& /*desktop*/) const { return {}; }
    // A number that stays the same for as long as every answer above would be given again;
    // nothing when the source cannot tell.
    virtual std::optional<std::uint64_t> version(PlayerDesktop& /*desktop*/) const { return std::nullopt; }
};

// One supported player, everything the program knows of it. Start-up, the publish cycle, readsong,
// the player panel and the settings' range of "lastsmp" all read these rows.
struct PlayerRow {
    QString name;             // display name: the panel's option button, the status line
    QString runningKey;       // the publish cycle's running test: the name lower-cased
    QString panelKey;         // the player panel's running test
    PlayerTitleFormat title;  // how the song is cut out of the window title (window-title rows)
    QString downloadPage;     // the maker's download page; without one the panel shows no link
    const SongSource* source; // where the song comes from
};

// The player table, indexed by PlayerId. A player whose song does not come from a window title is
// one more row with its own SongSource, an empty title format and, if it has none, no download
// page; nothing that reads the table changes.
std::span<const PlayerRow> players();
// Whether the row stands for the players on the session bus, whichever of them plays.
bool followsSessionBus(const PlayerRow& row);
// The number of rows: PlayerIds run from 0 to one less.
int playerCount();

// The row of a player; refuses a number outside the table with std::out_of_range.
const PlayerRow& playerRow(PlayerId player);

// The publish cycle's running test for the player: -1 when it runs, else 0.
std::int16_t playerRunning(PlayerDesktop& desktop, PlayerId player);

// What readsong found: the song the player plays now (possibly empty), or that the player does not
// run and so there is no song.
struct SongReading {
    bool running = false;
    QString song;
};

// The song the player is playing now. It does its own running test, since the player may have
// closed since the caller's; the caller decides what to tell the user.
SongReading readsong(PlayerDesktop& desktop, PlayerId player);

// Everything the publish cycle reads of the watched player at one look.
struct PlayerLook {
    bool running = false; // the running test
    SongReading reading;  // the song, read after the running test with a running test of its own
    QString name;         // what the status line names after the song
    QString artUrl;       // the song's picture, where the player gives one
    Listening listening;
};

// Looks at the watched player on every tick, but reads the desktop again only when its source
// says something may have changed since the last look: ten times a second, an unchanged desktop
// of hundreds of windows costs no walk through them.
class PlayerWatch {
public:
    // Takes the look of player now; true when it was read afresh, false when the last look stands.
    bool look(PlayerDesktop& desktop, PlayerId player);
    // The look taken last.
    const PlayerLook& last() const { return m_look; }

private:
    PlayerId m_player = -1;
    std::optional<std::uint64_t> m_version; // of the desktop the last look was read from
    PlayerLook m_look;
};

} // namespace tunalo
