#pragma once

#include <QString>
#include <QStringList>

namespace tunalo {

// A player's name as the choice keeps it: its bus name after "org.mpris.MediaPlayer2.", without
// the ".instance1234" a browser adds for each of its processes, in lower case. The same player keeps
// its name when it starts again under a new instance.
QString mprisPlayerName(const QString& busName);

// Whether the player is a web browser, whose videos and tabs are no songs of the user's.
bool isWebBrowser(const QString& playerName);

// Which players on the session bus count, as the settings keep it in "mprisplayers": the names of
// the chosen players, comma-separated; none means every player but the web browsers. A person who
// edits the text gets what they wrote: names are trimmed and their letter case ignored, and a name
// no player has is kept and harms nothing.
class PlayerChoice {
public:
    PlayerChoice() = default;
    static PlayerChoice fromText(const QString& text);
    // Exactly these players; none at all is kept as a name no player has, since an empty choice
    // means every player but the browsers.
    static PlayerChoice only(const QStringList& playerNames);

    // The text for the settings.
    QString text() const { return m_names.join(QLatin1Char(',')); }
    bool everyPlayerButBrowsers() const { return m_names.isEmpty(); }
    const QStringList& names() const { return m_names; }
    // Whether the player on this bus name counts.
    bool counts(const QString& busName) const;

    bool operator==(const PlayerChoice&) const = default;

    // What an empty panel choice is written as.
    static constexpr QLatin1String kNoPlayer{"none"};

private:
    QStringList m_names; // lower case, trimmed, none empty
};

} // namespace tunalo
