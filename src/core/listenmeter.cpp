#include "core/listenmeter.h"

namespace tunalo {

std::optional<ListenMeter::Heard> ListenMeter::follow(const QString& song, const Listening& listening, qint64 now,
                                                     const QString& player)
{
    std::optional<Heard> ended;
    if (song != m_song) {
        if (!m_song.isEmpty())
            ended = current(now);
        m_song = song;
        m_player = player;
        m_lengthMs = 0;
        m_heardMs = 0;
        m_playingSince.reset();
    }
    // Some players say the length a moment after the song.
    if (listening.lengthMs > 0)
        m_lengthMs = listening.lengthMs;
    if (listening.playing && !m_playingSince && !m_song.isEmpty())
        m_playingSince = now;
    if (!listening.playing && m_playingSince) {
        m_heardMs += now - *m_playingSince;
        m_playingSince.reset();
    }
    return ended;
}

ListenMeter::Heard ListenMeter::current(qint64 now) const
{
    return {m_song, m_lengthMs, m_heardMs + (m_playingSince ? now - *m_playingSince : 0), m_player};
}

} // namespace tunalo
