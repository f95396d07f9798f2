#include "nowplaying/playerchoice.h"

#include <array>

namespace tunalo {

namespace {

const QString kNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");

// The browsers by the names they take on the bus; a browser's own name may go on with more
// ("chromium", "chrome", "google-chrome"), so a name counts when one of these is a whole part of it.
constexpr std::array<QLatin1String, 15> kBrowsers{{
    QLatin1String("firefox"),
    QLatin1String("librewolf"),
    QLatin1String("chromium"),
    QLatin1String("chrome"),
    QLatin1String("brave"),
    QLatin1String("vivaldi"),
    QLatin1String("opera"),
    QLatin1String("msedge"),
    QLatin1String("epiphany"),
    QLatin1String("falkon"),
    QLatin1String("qutebrowser"),
    QLatin1String("midori"),
    QLatin1String("konqueror"),
    QLatin1String("yandex-browser"),
    QLatin1String("plasma-browser-integration"),
}};

} // namespace

QString mprisPlayerName(const QString& busName)
{
    QString name = busName.startsWith(kNamePrefix) ? busName.mid(kNamePrefix.size()) : busName;
    const qsizetype instance = name.indexOf(QLatin1String(".instance"));
    if (instance >= 0)
        name.truncate(instance);
    return name.toLower();
}

bool isWebBrowser(const QString& playerName)
{
    const QString name = playerName.toLower();
    // The parts of a name that joins words ("google-chrome", "org.chromium", "brave_browser").
    QString joined = name;
    joined.replace(QLatin1Char('.'), QLatin1Char('-')).replace(QLatin1Char('_'), QLatin1Char('-'));
    const QStringList parts = joined.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    for (const QLatin1String browser : kBrowsers) {
        if (name == browser || parts.contains(browser))
            return true;
    }
    return false;
}

PlayerChoice PlayerChoice::fromText(const QString& text)
{
    PlayerChoice choice;
    for (const QString& part : text.split(QLatin1Char(','))) {
        // A whole bus name written by hand reads as the player's name.
        const QString name = mprisPlayerName(part.trimmed());
        if (!name.isEmpty() && !choice.m_names.contains(name))
            choice.m_names.append(name);
    }
    return choice;
}

PlayerChoice PlayerChoice::only(const QStringList& playerNames)
{
    PlayerChoice choice = fromText(playerNames.join(QLatin1Char(',')));
    if (choice.m_names.isEmpty())
        choice.m_names.append(QString(kNoPlayer));
    return choice;
}

bool PlayerChoice::counts(const QString& busName) const
{
    const QString name = mprisPlayerName(busName);
    if (m_names.isEmpty())
        return !isWebBrowser(name);
    return m_names.contains(name);
}

} // namespace tunalo
