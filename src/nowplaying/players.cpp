#include "nowplaying/players.h"

#include "nowplaying/findwondowlike.h"

#include <stdexcept>

namespace tunalo {

namespace {

using Piece = PlayerTitleFormat::Piece;

// The piece of the title that holds the song; the whole title when the marker is not in it.
QString songPiece(const QString& title, const PlayerTitleFormat& format)
{
    const qsizetype first = title.indexOf(format.marker);
    if (first < 0)
        return title;
    if (format.piece == Piece::BeforeMarker)
        return title.left(first);
    const qsizetype from = first + format.marker.size();
    const qsizetype next = title.indexOf(format.marker, from);
    return next < 0 ? title.mid(from) : title.mid(from, next - from);
}

// The player puts the track number in front of the song as "12."; only that goes, once, so a "."
// in the artist's name or later in the song ("Mr. Nobody", "110.5 FM") stays.
QString withoutTrackNumber(const QString& song)
{
    qsizetype digits = 0;
    while (digits < song.size() && song.at(digits) >= QLatin1Char('0') && song.at(digits) <= QLatin1Char('9'))
        ++digits;
    if (digits == 0 || digits >= song.size() || song.at(digits) != QLatin1Char('.'))
        return song;
    return song.mid(digits + 1);
}

QString withoutTrailingSpaces(QString text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    text.truncate(end);
    return text;
}

// The window title is the player's only voice: it runs while a reachable window holds its key,
// and the song is cut out of the title of the window that holds its lookup text.
class WindowTitleSource : public SongSource {
public:
    std::int16_t running(PlayerDesktop& desktop, const QString& key) const override
    {
        return isrunning(desktop.windows, key);
    }

    QString song(PlayerDesktop& desktop, const PlayerRow& row) const override
    {
        WindowList& windows = desktop.windows;
        const HWND h = findbytitle(windows, row.title.lookupText);
        if (!isWindowHandle(h))
            return {};
        const QString title = windows.GetWindowTextA(h, kTitleCapacity);
        if (title.isEmpty())
            return {};
        QString song = songPiece(title, row.title);
        if (row.title.dropTrackNumber)
            song = withoutTrackNumber(song);
        return withoutTrailingSpaces(song);
    }

    std::optional<std::uint64_t> version(PlayerDesktop& desktop) const override
    {
        return desktop.windows.version();
    }
};

// A player on the session bus says itself what it plays; the platform keeps what it last said, so
// asking costs nothing. The row's keys mean nothing here: any such player will do.
class MediaPlayersSource : public SongSource {
public:
    std::int16_t running(PlayerDesktop& desktop, const QString& /*key*/) const override
    {
        return desktop.players.anyPlayer() ? kTrue : kFalse;
    }

    QString song(PlayerDesktop& desktop, const PlayerRow& /*row*/) const override
    {
        return desktop.players.nowPlaying().song;
    }

    // The player's own name for itself ("Rhythmbox").
    QString statusName(PlayerDesktop& desktop, const PlayerRow& /*row*/) const override
    {
        return desktop.players.nowPlaying().identity;
    }

    QString artUrl(PlayerDesktop& desktop) const override { return desktop.players.nowPlaying().artUrl; }

    Listening listening(PlayerDesktop& desktop) const override
    {
        const NowPlaying now = desktop.players.nowPlaying();
        return {now.lengthMs, now.playing};
    }
};

const SongSource& windowTitleSource()
{
    static const WindowTitleSource source;
    return source;
}

const SongSource& mediaPlayersSource()
{
    static const MediaPlayersSource source;
    return source;
}

} // namespace

QString SongSource::statusName(PlayerDesktop& /*desktop*/, const PlayerRow& row) const
{
    return row.name;
}

// One row per PlayerId, in index order. A player whose song does not come from a window title
// gets a row of its own below these: its name and keys, an empty title format, no download page
// if it has none, and a SongSource of its own (running test, song, status-line name); the panel,
// the publish cycle, readsong and the range of "lastsmp" follow without change.
std::span<const PlayerRow> players()
{
    const SongSource* const titles = &windowTitleSource();
    static const PlayerRow rows[] = {
        {QStringLiteral("Winamp"),
         QStringLiteral("winamp"),
         QStringLiteral("winamp"),
         {QStringLiteral("- winamp"), QStringLiteral("- Winamp"), Piece::BeforeMarker, true},
         QStringLiteral("https://www.winamp.com/"),
         titles},
        {QStringLiteral("MediaMonkey"),
         QStringLiteral("mediamonkey"),
         QStringLiteral("mediamonkey"),
         {QStringLiteral("- mediamonkey"), QStringLiteral("- MediaMonkey"), Piece::BeforeMarker, true},
         QStringLiteral("https://www.mediamonkey.com/"),
         titles},
        // The panel's short key "vlc" finds any window that mentions the player.
        {QStringLiteral("VLC Media Player"),
         QStringLiteral("vlc media player"),
         QStringLiteral("vlc"),
         {QStringLiteral("- VLC media player"), QStringLiteral("- VLC media player"), Piece::BeforeMarker,
          false},
         QStringLiteral("https://www.videolan.org/vlc/"),
         titles},
        {QStringLiteral("RealPlayer"),
         QStringLiteral("realplayer"),
         QStringLiteral("realplayer"),
         {QStringLiteral("RealPlayer:"), QStringLiteral("RealPlayer:"), Piece::AfterMarker, false},
         QStringLiteral("https://www.real.com/realplayer/"),
         titles},
        // Rhythmbox, Strawberry, Elisa, mpv, browsers ...: whichever plays on the session bus.
        {QStringLiteral("Other player (MPRIS)"),
         QStringLiteral("mpris"),
         QStringLiteral("mpris"),
         {},
         {},
         &mediaPlayersSource()},
    };
    return std::span<const PlayerRow>(rows);
}

bool followsSessionBus(const PlayerRow& row)
{
    return row.source == &mediaPlayersSource();
}

int playerCount()
{
    return static_cast<int>(players().size());
}

const PlayerRow& playerRow(PlayerId player)
{
    if (player < 0 || player >= playerCount())
        throw std::out_of_range("no player with this number");
    return players()[static_cast<std::size_t>(player)];
}

std::int16_t playerRunning(PlayerDesktop& desktop, PlayerId player)
{
    const PlayerRow& row = playerRow(player);
    return row.source->running(desktop, row.runningKey);
}

SongReading readsong(PlayerDesktop& desktop, PlayerId player)
{
    const PlayerRow& row = playerRow(player);
    if (row.source->running(desktop, row.runningKey) == kFalse)
        return {};
    return {true, row.source->song(desktop, row)};
}

bool PlayerWatch::look(PlayerDesktop& desktop, PlayerId player)
{
    const PlayerRow& row = playerRow(player);
    // Asked before the reads, so that whatever happens while they run makes the next look read again.
    const std::optional<std::uint64_t> version = row.source->version(desktop);
    if (version && version == m_version && player == m_player)
        return false;
    m_player = player;
    m_version = version;
    m_look.running = row.source->running(desktop, row.runningKey) == kTrue;
    m_look.reading = m_look.running ? readsong(desktop, player) : SongReading{};
    m_look.name = row.source->statusName(desktop, row);
    m_look.artUrl = row.source->artUrl(desktop);
    m_look.listening = row.source->listening(desktop);
    return true;
}

} // namespace tunalo
