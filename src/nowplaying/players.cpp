#include "nowplaying/players.h"

#include "core/mainmodule.h"
#include "nowplaying/findwondowlike.h"
#include "ui/cpanel.h"

#include <stdexcept>

namespace tunalo {

namespace {

using Piece = PlayerTitleFormat::Piece;

const QString kNotRunningHeading = QStringLiteral("Please Select A Media Player Error Code:#19");
const QString kNotRunningBody = QStringLiteral(
    "In order to be able to post the song you are currently playing on facebook, you must first "
    "select a media player from the 'Select Media Player' Panel");

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

} // namespace

const std::array<PlayerTitleFormat, kPlayerCount>& playerTitleFormats()
{
    static const std::array<PlayerTitleFormat, kPlayerCount> formats{{
        {QStringLiteral("- winamp"), QStringLiteral("- Winamp"), Piece::BeforeMarker, true},
        {QStringLiteral("- mediamonkey"), QStringLiteral("- MediaMonkey"), Piece::BeforeMarker, true},
        {QStringLiteral("- VLC media player"), QStringLiteral("- VLC media player"), Piece::BeforeMarker,
         false},
        {QStringLiteral("RealPlayer:"), QStringLiteral("RealPlayer:"), Piece::AfterMarker, false},
    }};
    return formats;
}

QString readsong(mainmodule& app, PlayerId player)
{
    if (player < 0 || player >= kPlayerCount)
        throw std::out_of_range("readsong: no player with this number");
    WindowList& windows = *app.platform().windows;
    if (isrunning(windows, app.state().playerNames[player].toLower()) == kFalse) {
        showmessage(app, kNotRunningHeading, kNotRunningBody);
        return {};
    }
    const PlayerTitleFormat& format = playerTitleFormats()[player];
    const HWND h = findbytitle(windows, format.lookupText);
    if (!isWindowHandle(h))
        return {};
    const QString title = windows.GetWindowTextA(h, kTitleCapacity);
    if (title.isEmpty())
        return {};
    QString song = songPiece(title, format);
    if (format.dropTrackNumber)
        song = withoutTrackNumber(song);
    return withoutTrailingSpaces(song);
}

} // namespace tunalo
