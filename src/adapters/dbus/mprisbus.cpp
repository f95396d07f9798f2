#include "adapters/dbus/mprisbus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <algorithm>
#include <utility>

namespace tunalo {

namespace {

const QString kNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
// A player that does not answer within this time is asked again on a later tick.
constexpr int kCallTimeoutMs = 5000;


// The bus hands nested values over still packed; unpacks a dictionary of strings to variants.
QVariantMap unpackMap(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

QVariant unpackVariant(const QVariant& value)
{
    return value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value;
}

// A list of artists; some players send a single text instead.
QStringList textList(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QStringList>(value.value<QDBusArgument>());
    if (value.metaType() == QMetaType::fromType<QString>())
        return {value.toString()};
    return value.toStringList();
}

MprisTrack trackOf(const QVariantMap& metadata)
{
    MprisTrack track;
    const QVariant id = unpackVariant(metadata.value(QStringLiteral("mpris:trackid")));
    track.id = id.canConvert<QDBusObjectPath>() ? id.value<QDBusObjectPath>().path() : id.toString();
    track.title = unpackVariant(metadata.value(QStringLiteral("xesam:title"))).toString();
    track.artists = textList(unpackVariant(metadata.value(QStringLiteral("xesam:artist"))));
    track.artUrl = unpackVariant(metadata.value(QStringLiteral("mpris:artUrl"))).toString();
    // MPRIS gives the length as a signed 64-bit number (D-Bus type x); some players send an unsigned
    // one or a double.
    track.lengthUs = std::max<qint64>(0, unpackVariant(metadata.value(QStringLiteral("mpris:length"))).toLongLong());
    return track;
}

} // namespace

MprisBus::MprisBus(Clock& clock, std::function<QDBusConnection()> connectBus)
    : m_connectBus(std::move(connectBus)), m_clock(clock)
{
}

MprisBus::~MprisBus() = default;

QDBusConnection MprisBus::connectSessionBus()
{
    static int made = 0;
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                         QStringLiteral("tunalo-mpris-%1").arg(++made));
}

void MprisBus::watch()
{
    if (m_watching)
        return;
    m_watching = true;
    // Without a session bus at start there are simply no players.
    m_wasConnected = connectToBus();
}

bool MprisBus::connectToBus()
{
    m_bus = m_connectBus();
    if (!m_bus->isConnected())
        return false;
    // Players come and go with their names: the bus announces every change of a name's owner.
    // Naming the bus as the sender here would make Qt ask the bus for its owner and wait for the
    // answer; the slot checks the sender instead, which the bus stamps on every message.
    m_bus->connect(QString(), kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), this,
                   SLOT(ownerChanged(QString, QString, QString, QDBusMessage)));
    m_bus->connect(QString(), kPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                   SLOT(propertiesChanged(QDBusMessage)));
    // The names already there; the watcher, set up first, reports every later one.
    const QDBusMessage list =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("ListNames"));
    whenAnswered(m_bus->asyncCall(list, kCallTimeoutMs), [this](const QDBusMessage& reply) {
        if (!reply.arguments().isEmpty())
            namesListed(reply.arguments().constFirst().toStringList());
    });
    return true;
}

void MprisBus::keepConnected()
{
    if (!m_wasConnected)
        return;
    const qint64 now = m_clock.now();
    if (!m_reconnectAt) {
        if (m_bus->isConnected())
            return;
        // The bus went away, and every player on it with it.
        for (const auto& [name, known] : m_known)
            m_cache.remove(name);
        m_known.clear();
        QDBusConnection::disconnectFromBus(m_bus->name());
        m_reconnectDelay = kFirstReconnectMs;
        m_reconnectAt = now + m_reconnectDelay;
        return;
    }
    if (now < *m_reconnectAt)
        return;
    if (connectToBus()) {
        m_reconnectAt.reset();
        return;
    }
    QDBusConnection::disconnectFromBus(m_bus->name());
    m_reconnectDelay = std::min(m_reconnectDelay * 2, kLongestReconnectMs);
    m_reconnectAt = now + m_reconnectDelay;
}

bool MprisBus::anyPlayer()
{
    keepConnected();
    return m_cache.any();
}

NowPlaying MprisBus::nowPlaying()
{
    keepConnected();
    rereadQuietPlayers();
    settleTracks();
    return m_cache.current();
}

std::vector<BusPlayer> MprisBus::busPlayers()
{
    keepConnected();
    return m_cache.players();
}

void MprisBus::choosePlayers(const QString& choice)
{
    m_cache.setChoice(PlayerChoice::fromText(choice));
}

void MprisBus::ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner,
                            const QDBusMessage& message)
{
    if (message.service() != kBusService || !name.startsWith(kNamePrefix))
        return;
    if (!oldOwner.isEmpty())
        removePlayer(name);
    if (!newOwner.isEmpty())
        addPlayer(name, newOwner);
}

void MprisBus::namesListed(const QStringList& names)
{
    for (const QString& name : names) {
        if (name.startsWith(kNamePrefix) && !m_known.contains(name))
            addPlayer(name, QString());
    }
}

void MprisBus::addPlayer(const QString& name, const QString& owner)
{
    Known known;
    known.owner = owner;
    m_known[name] = known;
    // A player counts once the bus has said who it is.
    if (owner.isEmpty()) {
        learnOwner(name);
        return;
    }
    m_cache.add(name);
    readPlayer(name);
}

void MprisBus::learnOwner(const QString& name)
{
    // Only the bus can say who owns a name: a player that never answers is still known by its
    // announcements, and an answer from whoever owned the name before counts for nothing.
    QDBusMessage get =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("GetNameOwner"));
    get << name;
    whenAnswered(m_bus->asyncCall(get, kCallTimeoutMs), [this, name](const QDBusMessage& reply) {
        const auto it = m_known.find(name);
        if (it == m_known.end() || !it->second.owner.isEmpty() || reply.type() != QDBusMessage::ReplyMessage ||
            reply.arguments().isEmpty())
            return;
        it->second.owner = reply.arguments().constFirst().toString();
        m_cache.add(name);
        readPlayer(name);
    });
}

void MprisBus::readPlayer(const QString& name)
{
    readProperties(name, kRootInterface);
    readProperties(name, kPlayerInterface);
}

void MprisBus::removePlayer(const QString& name)
{
    m_known.erase(name);
    m_cache.remove(name);
}

void MprisBus::readProperties(const QString& name, const QString& interfaceName)
{
    if (interfaceName == kPlayerInterface) {
        Known& known = m_known[name];
        known.reading = true;
        known.readAt = m_clock.now();
    }
    QDBusMessage get =
        QDBusMessage::createMethodCall(name, kPath, kPropertiesInterface, QStringLiteral("GetAll"));
    get << interfaceName;
    whenAnswered(m_bus->asyncCall(get, kCallTimeoutMs),
                 [this, name, interfaceName](const QDBusMessage& reply) {
                     const auto it = m_known.find(name);
                     if (it == m_known.end())
                         return;
                     Known& known = it->second;
                     if (interfaceName == kPlayerInterface)
                         known.reading = false;
                     if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                         return;
                     // An answer from a player that has since left the bus and come back tells nothing.
                     if (reply.service() == known.owner)
                         takeProperties(name, interfaceName, unpackMap(reply.arguments().constFirst()));
                 });
}

void MprisBus::takeProperties(const QString& name, const QString& interfaceName,
                              const QVariantMap& properties)
{
    if (interfaceName == kRootInterface) {
        const auto identity = properties.find(QStringLiteral("Identity"));
        if (identity != properties.end())
            m_cache.setIdentity(name, unpackVariant(*identity).toString());
        return;
    }
    const auto it = m_known.find(name);
    if (it == m_known.end())
        return;
    // The track first: a player that starts playing a new track counts once, with that track.
    const auto metadata = properties.find(QStringLiteral("Metadata"));
    if (metadata != properties.end())
        trackAnnounced(name, it->second, trackOf(unpackMap(unpackVariant(*metadata))));
    const auto status = properties.find(QStringLiteral("PlaybackStatus"));
    if (status != properties.end())
        statusAnnounced(name, it->second, unpackVariant(*status).toString());
}

void MprisBus::trackAnnounced(const QString& name, Known& known, const MprisTrack& track)
{
    if (!known.newTrack) {
        if (track == known.track)
            return;
        known.newTrackSince = m_clock.now();
    }
    known.newTrack = track;
    // Back to the track it had: nothing changed after all.
    if (track == known.track) {
        known.newTrack.reset();
        if (const std::optional<QString> status = std::exchange(known.newStatus, std::nullopt))
            m_cache.setStatus(name, *status);
    }
}

void MprisBus::statusAnnounced(const QString& name, Known& known, const QString& status)
{
    // Playing with a track that is still changing counts together with that track, not with the old one.
    if (known.newTrack)
        known.newStatus = status;
    else
        m_cache.setStatus(name, status);
}

void MprisBus::settleTracks()
{
    const qint64 now = m_clock.now();
    for (auto& [name, known] : m_known) {
        if (!known.newTrack || now - known.newTrackSince < kSettleMs)
            continue;
        known.track = *std::exchange(known.newTrack, std::nullopt);
        m_cache.setTrack(name, known.track);
        if (const std::optional<QString> status = std::exchange(known.newStatus, std::nullopt))
            m_cache.setStatus(name, *status);
    }
}

void MprisBus::propertiesChanged(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2)
        return;
    const QString interfaceName = arguments.at(0).toString();
    if (interfaceName != kRootInterface && interfaceName != kPlayerInterface)
        return;
    const QVariantMap changed = unpackMap(arguments.at(1));
    const QStringList invalidated = arguments.size() > 2 ? textList(arguments.at(2)) : QStringList();
    for (auto& [name, known] : m_known) {
        if (known.owner.isEmpty() || known.owner != message.service())
            continue;
        if (interfaceName == kPlayerInterface)
            known.announces = true;
        takeProperties(name, interfaceName, changed);
        // A player may say only that a value changed; then it is read.
        if (!invalidated.isEmpty())
            readProperties(name, interfaceName);
    }
}

void MprisBus::rereadQuietPlayers()
{
    const qint64 now = m_clock.now();
    for (auto& [name, known] : m_known) {
        if (!known.owner.isEmpty() && !known.announces && !known.reading &&
            (!known.readAt || now - *known.readAt >= kRereadMs))
            readProperties(name, kPlayerInterface);
    }
}

void MprisBus::whenAnswered(const QDBusPendingCall& call, std::function<void(const QDBusMessage&)> handler)
{
    ++m_callsSent;
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, handler = std::move(handler)] {
        handler(watcher->reply());
        watcher->deleteLater();
    });
}

} // namespace tunalo
