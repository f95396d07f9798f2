// Temporary plain definitions of the window lookup and the song extraction, so the program builds
// and runs on this branch; the now-playing unit replaces this file.
#include "core/mainmodule.h"
#include "nowplaying/findwondowlike.h"
#include "nowplaying/players.h"
#include "ui/cpanel.h"

namespace tunalo {

namespace {

QString titleOf(WindowList& windows, HWND hWnd) {
    return windows.GetWindowTextA(hWnd, kTitleCapacity);
}

bool isWindow(HWND hWnd) {
    return static_cast<std::int32_t>(hWnd) > 0;
}

// Removes every copy of the text up to and including the first "." (a track number such as "12.").
QString dropTrackNumber(const QString& song) {
    const qsizetype dot = song.indexOf(QLatin1Char('.'));
    if (dot < 0)
        return song;
    QString rest = song;
    return rest.remove(song.left(dot + 1), Qt::CaseSensitive);
}

QString withoutTrailingBlanks(QString text) {
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

} // namespace

HWND findbytitle(WindowList& windows, const QString& text) {
    const QString wanted = text.toLower();
    for (HWND h = windows.GetForegroundWindow(); h != 0; h = windows.GetWindow(h, GW_HWNDNEXT)) {
        if (titleOf(windows, h).toLower().contains(wanted))
            return h;
    }
    return 0;
}

std::int16_t isrunning(WindowList& windows, const QString& key) {
    const QString k = key.toLower();
    const HWND h = findbytitle(windows, k);
    const QString title = isWindow(h) ? titleOf(windows, h) : QString();
    return title.toLower().contains(k) ? kTrue : kFalse;
}

const std::array<PlayerTitleFormat, kPlayerCount>& playerTitleFormats() {
    using Piece = PlayerTitleFormat::Piece;
    static const std::array<PlayerTitleFormat, kPlayerCount> formats = {{
        {QStringLiteral("- winamp"), QStringLiteral("- Winamp"), Piece::BeforeMarker, true},
        {QStringLiteral("- mediamonkey"), QStringLiteral("- MediaMonkey"), Piece::BeforeMarker, true},
        {QStringLiteral("- VLC media player"), QStringLiteral("- VLC media player"), Piece::BeforeMarker,
         false},
        {QStringLiteral("RealPlayer:"), QStringLiteral("RealPlayer:"), Piece::AfterMarker, false},
    }};
    return formats;
}

QString readsong(mainmodule& app, PlayerId player) {
    if (player < 0 || player >= kPlayerCount)
        return {};
    WindowList& windows = *app.platform().windows;
    if (isrunning(windows, app.state().playerNames[player].toLower()) == kFalse) {
        showmessage(
            app, QStringLiteral("Please Select A Media Player Error Code:#19"),
            QStringLiteral("In order to be able to post the song you are currently playing on facebook, "
                           "you must first select a media player from the 'Select Media Player' Panel"));
        return {};
    }
    const PlayerTitleFormat& row = playerTitleFormats()[player];
    const HWND h = findbytitle(windows, row.lookupText);
    if (!isWindow(h))
        return {};
    const QString title = titleOf(windows, h);
    if (title.isEmpty())
        return {};
    const QStringList pieces = title.split(row.marker, Qt::KeepEmptyParts, Qt::CaseSensitive);
    QString song = title;
    if (row.piece == PlayerTitleFormat::Piece::BeforeMarker)
        song = pieces.front();
    else if (pieces.size() > 1)
        song = pieces.at(1);
    if (row.dropTrackNumber)
        song = dropTrackNumber(song);
    return withoutTrailingBlanks(song);
}

} // namespace tunalo
