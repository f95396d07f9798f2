#pragma once

#include "nowplaying/players.h"

#include <QString>

#include <optional>

namespace tunalo {

// How long a song has been heard: only the time its player said it played counts, so a paused
// minute adds nothing; a song in a window title is heard as long as the title stands.
class ListenMeter {
public:
    struct Heard {
        QString song;
        qint64 lengthMs = 0; // 0 when the player did not say
        qint64 heardMs = 0;
        QString player = {}; // the player's name for itself, or the table's name for it

        bool operator==(const Heard&) const = default;
    };

    // What the player plays at now (an empty song: nothing). A new song ends the one before, which
    // comes back with what was heard of it.
    std::optional<Heard> follow(const QString& song, const Listening& listening, qint64 now,
                                const QString& player = {});
    // The song followed now and what has been heard of it so far.
    Heard current(qint64 now) const;

private:
    QString m_song;
    QString m_player;
    qint64 m_lengthMs = 0;
    qint64 m_heardMs = 0;                 // before the stretch of playing under way
    std::optional<qint64> m_playingSince; // while the player plays
};

} // namespace tunalo
