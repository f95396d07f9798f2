#pragma once

#include "core/appstate.h"
#include "core/listenmeter.h"
#include "core/postqueue.h"
#include "nowplaying/players.h"
#include "platform/changeresult.h"

#include <QLatin1String>
#include <QObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tunalo {

class Browser;
class Clock;
class SettingsStore;

// A balloon's icon, as the tray's eIcon numbers: no icon with the desktop's sound, or no icon and
// no sound.
enum class BalloonIcon : std::int32_t { Plain = 0, Quiet = 16 };

// What a click on the balloon now shown does (BallonMsgs).
enum BalloonClick : std::int32_t { kClickDoesNothing = 0, kClickPosts = 1000, kClickOpensOptions = 2000 };

// A song with nothing but white space (of any script) in it is no song.
bool isBlank(const QString& song);

// What the publish cycle works with.
struct PublishServices {
    SettingsStore& settings;
    PlayerDesktop desktop;
    Clock& clock;
    std::function<Browser&()> postBrowser; // the post browser, brought into being on first use
    // Scheme, host and port of the service, no trailing slash, when the environment sets it; empty
    // leaves it to the settings.
    QString serviceBase;
};

// The publish cycle: it follows the selected player's song, decides whether a new song is posted,
// held back by the word list or offered in a balloon, and sends the posts through the post queue.
// What became of a post comes back from the queue, and the cycle alone decides what the user is
// told of it and what it means for the log-in state.
// It knows no window: it takes in what happened (a tick, a click, a setting changed) and tells what
// should be shown through its signals, which the forms connect.
class PublishCycle : public QObject, private PostClient {
    Q_OBJECT
public:
    // The title of every balloon of the publish cycle and of the posts.
    static constexpr QLatin1String kBalloonTitle{"Tunalo"};

    explicit PublishCycle(PublishServices services);
    // Whether the environment set the service's address, which the settings then cannot change.
    bool serviceBaseFixed() const { return m_serviceBaseFixed; }
    ~PublishCycle() override;

    AppState& state() { return m_state; }
    const AppState& state() const { return m_state; }
    const QString& serviceBase() const { return m_services.serviceBase; }
    // The user gave the service another address: the next post goes there.
    void setServiceBase(const QString& base) { m_services.serviceBase = base; }
    Clock& clock() { return m_services.clock; }
    PlayerDesktop& desktop() { return m_services.desktop; }

    // Reads the options (and at start-up the player watched last) from the store, in one read.
    void loadsettings(bool atstartup);
    // The word list as the options show it.
    const QString& screenWordList() const { return m_screenWordList; }
    // The user changed the word list in the options.
    void setScreenWordList(const QString& list) { m_screenWordList = list; }
    // Stores the player now watched, for the next start.
    void saveSelectedPlayer();

    // One tick of the player's timer: follows the song while publishing and decides on a new one.
    // Returns what the status line should show now when that is not what it showed after the tick
    // before, or nothing when it keeps its text.
    std::optional<QString> tick();
    // The picture of the watched player's song as the last tick saw it, where the player gives one.
    const QString& songArt() const { return m_songArt; }

    // The user switched publishing on (and the playing song is decided on at once) or off.
    void startPublishing();
    void stopPublishing();

    void checkpublish();
    void postsong();
    std::int16_t hasscreenword(const QString& song) const;
    // Switches publishing off with the message that asks the user to log in first.
    void refuseNotLoggedIn(const QString& song);
    // The balloon now shown was clicked.
    void BalloonClicked();
    // Shows a balloon and sets what a click on it does.
    void showBalloon(const QString& text, BalloonIcon icon, BalloonClick click);
    // A balloon about a song: the song, shortened when the text would be too long for a balloon,
    // and then the ending, always whole.
    void showSongBalloon(const QString& song, const QString& ending, BalloonIcon icon, BalloonClick click);
    // The longest balloon text the tray shows, in UTF-16 units.
    static constexpr qsizetype kBalloonUnits = 255;

    // A change of the user's the store or the desktop refused: told in the message panel, once
    // per cause.
    void tellRefused(const QString& heading, const ChangeResult& result);

    // The posts on their way, made with the first.
    PostQueue& posts();

    std::int32_t BallonMsgs = kClickDoesNothing;

signals:
    void balloon(const QString& sMessage, const QString& sTitle, std::int32_t eIcon);
    void message(const QString& heading, const QString& body);
    void publishingChanged(bool on);
    void settingsLoaded();
    void optionsWanted();

private:
    // Measures how long the song is heard, ending the one before when it changes.
    void followListening(const QString& song, const PlayerLook& look);
    // What the post queue asks and tells.
    PostTarget postTarget() const override;
    bool stillWanted(const QString& song) const override;
    void postReported(const PostReport& report) override;

    void refuse(const QString& heading, const QString& body);
    void setPublishing(bool on);

    PublishServices m_services;
    bool m_serviceBaseFixed;
    AppState m_state;
    QString m_screenWordList;
    QSet<QString> m_toldCauses;
    // What the user was told of the post reported last, so that a retry that fails again is no news.
    struct ToldPost {
        QString key;
        bool failure = false;     // " (Not Posted)"
        bool unconfirmed = false; // " (not confirmed yet)"
    };
    ToldPost m_toldPost;
    std::unique_ptr<PostQueue> m_posts;
    ListenMeter m_heard; // how long the song now playing has been heard
    PlayerWatch m_watch;
    std::optional<QString> m_status; // what the status line was told to show last
    QString m_songArt;
};

} // namespace tunalo
