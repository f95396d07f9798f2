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
class MprisBus : public QObject, public MediaPlayers {
    Q_OBJECT
public:
    // connectBus makes the connection on first use; by default the user's session bus.
    explicit MprisBus(Clock& clock,
                      std::function<QDBusConnection()> connectBus = &QDBusConnection::sessionBus);
    ~MprisBus() override;

    void watch() override;
    bool anyPlayer() override;
    NowPlaying nowPlaying() override;

    // A player that never announces a change is read afresh at most this often.
    static constexpr qint64 kRereadMs = 1000;

    // Calls sent to the bus so far, for measuring.
    std::uint64_t callsSent() const { return m_callsSent; }

private slots:
    void propertiesChanged(const QDBusMessage& message);
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner,
                      const QDBusMessage& message);

private:
    struct Known {
        QString owner;                // the unique name behind the player's name; empty until known
        bool announces = false;       // it has sent a change of its own
        bool reading = false;         // a read of its playback state is under way
        std::optional<qint64> readAt; // when that read started
    };

    void namesListed(const QStringList& names);
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
    std::map<QString, Known> m_known; // by the player's name on the bus
    MprisCache m_cache;
    std::uint64_t m_callsSent = 0;
};

} // namespace tunalo
