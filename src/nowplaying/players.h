#pragma once

#include "core/appstate.h"

#include <QString>

#include <array>

namespace tunalo {

class mainmodule;

// How a player puts the song into its window title.
struct PlayerTitleFormat {
    enum class Piece { BeforeMarker, AfterMarker };

    QString lookupText;   // finds the player's window (letter case ignored)
    QString marker;       // splits the title (exact)
    Piece piece;          // which side of the marker holds the song
    bool dropTrackNumber; // a leading "12." goes
};

const std::array<PlayerTitleFormat, kPlayerCount>& playerTitleFormats();

// The song the player is playing now, cut out of its window title; empty when there is none.
// When the player does not run, the message panel says so.
QString readsong(mainmodule& app, PlayerId player);

} // namespace tunalo
