#include "nowplaying/mpriscache.h"

namespace tunalo {

QString songOf(const MprisTrack& track)
{
    if (track.title.isEmpty())
        return {};
    QStringList artists = track.artists;
    artists.removeAll(QString());
    if (artists.isEmpty())
        return track.title;
    return artists.join(QStringLiteral(", ")) + QStringLiteral(" - ") + track.title;
}

void MprisCache::add(const QString& busName)
{
    m_players.try_emplace(busName);
}

void MprisCache::remove(const QString& busName)
{
    m_players.erase(busName);
    if (busName == m_followed) {
        // The song of a player that is gone is no longer playing anywhere.
        m_followed.clear();
        m_current = {};
    }
    choose();
}

void MprisCache::setIdentity(const QString& busName, const QString& identity)
{
    const auto it = m_players.find(busName);
    if (it == m_players.end())
        return;
    it->second.identity = identity;
    if (busName == m_followed)
        m_current.identity = identity;
}

void MprisCache::setStatus(const QString& busName, const QString& status)
{
    const auto it = m_players.find(busName);
    if (it == m_players.end())
        return;
    Player& player = it->second;
    const bool playing = status == QLatin1String("Playing");
    if (playing && !player.playing)
        activate(player);
    player.playing = playing;
    choose();
}

void MprisCache::setTrack(const QString& busName, const MprisTrack& track)
{
    const auto it = m_players.find(busName);
    if (it == m_players.end())
        return;
    Player& player = it->second;
    if (player.track == track)
        return;
    // A picture that comes late belongs to the song already there and makes no new start.
    const bool newSong = !player.track.sameSong(track);
    player.track = track;
    if (player.playing && newSong)
        activate(player);
    choose();
}

void MprisCache::setChoice(const PlayerChoice& choice)
{
    m_choice = choice;
    if (!m_followed.isEmpty() && !m_choice.counts(m_followed)) {
        m_followed.clear();
        m_current = {};
    }
    choose();
}

std::vector<BusPlayer> MprisCache::players() const
{
    std::vector<BusPlayer> found;
    for (const auto& [name, player] : m_players)
        found.push_back({mprisPlayerName(name), player.identity});
    return found;
}

void MprisCache::choose()
{
    const Player* latest = nullptr;
    for (const auto& [name, player] : m_players) {
        if (player.playing && m_choice.counts(name) && (!latest || player.lastActive > latest->lastActive)) {
            latest = &player;
            m_followed = name;
        }
    }
    if (latest) {
        m_current = {songOf(latest->track), latest->identity, latest->track.artUrl, latest->track.lengthUs / 1000,
                     true};
        return;
    }
    // The song stays, and so does its player's news: a picture or a length that came late.
    const auto followed = m_players.find(m_followed);
    if (followed != m_players.end()) {
        m_current.playing = followed->second.playing;
        m_current.artUrl = followed->second.track.artUrl;
        m_current.lengthMs = followed->second.track.lengthUs / 1000;
    }
}

} // namespace tunalo
