#pragma once

#include "platform/clock.h"
#include "platform/mediaplayers.h"
#include "nowplaying/mpriscache.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class QDBusMessage;
class QDBusPendingCall;

namespace tunalo {

// The media players on the session bus, followed through their names and the changes they
// announce. Every call to the bus is asynchronous: the answers land in a cache that the tick reads.
// A player's new track counts only once it has settled, so that a title the player corrects a moment
// later (a file name, then the file's tags) is never taken for a song. When the bus goes away, its
// players go with it and the connection is made again, at growing intervals, until the bus is back.
class MprisBus : public QObject, public MediaPlayers {
    Q_OBJECT
public:
    // connectBus makes a new connection on first use and after a lost one; by default to the
    // user's session bus.
    explicit MprisBus(Clock& clock, std::function<QDBusConnection()> connectBus = &connectSessionBus);
    ~MprisBus() override;

    void watch() override;
    bool anyPlayer() override;
    NowPlaying nowPlaying() override;
    std::vector<BusPlayer> busPlayers() override;
    void choosePlayers(const QString& choice) override;

    // A player that never announces a change is read afresh at most this often.
    static constexpr qint64 kRereadMs = 1000;
    // How long a player's new track waits for the player to correct it before it counts.
    static constexpr qint64 kSettleMs = 1000;
    // After the bus went away: the first new try to connect, and the longest wait between two.
    static constexpr qint64 kFirstReconnectMs = 1000;
    static constexpr qint64 kLongestReconnectMs = 60000;

    // A connection of its own to the session bus, so that a lost one can be replaced.
    static QDBusConnection connectSessionBus();

    // Calls sent to the bus so far, for measuring.
    std::uint64_t callsSent() const { return m_callsSent; }

private slots:
    void propertiesChanged(const QDBusMessage& message);
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner,
                      const QDBusMessage& message);

private:
    struct Known {
        QString owner;                // the unique name behind the player's name, as the bus tells it
        bool announces = false;       // it has sent a change of its own
        bool reading = false;         // a read of its playback state is under way
        std::optional<qint64> readAt; // when that read started
        MprisTrack track;             // the track the cache has
        // A new track not settled yet, since when the player's track has been changing, and the
        // playback state it announced meanwhile, which counts together with the track.
        std::optional<MprisTrack> newTrack;
        qint64 newTrackSince = 0;
        std::optional<QString> newStatus;
    };

    // Connects and starts following the bus; false when there is no bus to connect to.
    bool connectToBus();
    // Notices a lost bus and connects again when the time has come.
    void keepConnected();
    void namesListed(const QStringList& names);
    // Asks the bus who owns the name, then reads the player.
    void learnOwner(const QString& name);
    void readPlayer(const QString& name);
    void trackAnnounced(const QString& name, Known& known, const MprisTrack& track);
    void statusAnnounced(const QString& name, Known& known, const QString& status);
    void settleTracks();
    void addPlayer(const QString& name, const QString& owner);
    void removePlayer(const QString& name);
    // Asks the player for the properties of one of its interfaces.
    void readProperties(const QString& name, const QString& interfaceName);
    void takeProperties(const QString& name, const QString& interfaceName, const QVariantMap& properties);
    void rereadQuietPlayers();
    void whenAnswered(const QDBusPendingCall& call, std::function<void(const QDBusMessage&)> handler);

    std::function<QDBusConnection()> m_connectBus;
    Clock& m_clock;
    std::optional<QDBusConnection> m_bus;
    bool m_watching = false;
    bool m_wasConnected = false;            // a bus was there once, so a lost one is looked for again
    std::optional<qint64> m_reconnectAt;    // while the bus is gone: when to try again
    qint64 m_reconnectDelay = kFirstReconnectMs;
    std::map<QString, Known> m_known; // by the player's name on the bus
    MprisCache m_cache;
    std::uint64_t m_callsSent = 0;
};

} // namespace tunalo
