// A stand-in for a media player that announces what it plays on the session bus.
//
//   tunalo-mprisplayertool --name NAME [--identity TEXT] [--quiet] [--no-answers]
//
// Claims org.mpris.MediaPlayer2.NAME on the bus of DBUS_SESSION_BUS_ADDRESS and prints "ready".
// Then it reads one command a line from stdin and answers each with "ok" once it is sent
// ("error <why>" when it cannot):
//
//   track TITLE<TAB>ARTIST<TAB>...  plays a new track from now on (an empty TITLE: one without
//                                   title; no ARTIST: one without artist)
//   play | pause | stop             the playback status
//   art URL                         the playing track's picture, given late as many players do
//   length MICROSECONDS             the playing track's length
//   identity TEXT                   the name the player gives itself
//   reads                           answers "reads N": how often its playback state was read
//   quit                            leaves the bus and ends (so does the end of stdin)
//
// With --quiet it never announces a change, as some players do; whoever follows it must ask.
// With --no-answers it never answers a question about its properties, as a player that hangs while
// it starts, and only announces its changes.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

class StandInPlayer : public QDBusVirtualObject {
public:
    StandInPlayer(QDBusConnection bus, QString identity, bool quiet, bool answers)
        : m_bus(std::move(bus)), m_identity(std::move(identity)), m_quiet(quiet), m_answers(answers)
    {
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != kPropertiesInterface || message.arguments().isEmpty())
            return false;
        const QString interfaceName = message.arguments().constFirst().toString();
        const QVariantMap all = properties(interfaceName);
        if (interfaceName == kPlayerInterface)
            ++m_reads;
        if (!m_answers)
            return true; // taken, and never answered
        if (message.member() == QLatin1String("GetAll"))
            return connection.send(message.createReply(QVariant::fromValue(all)));
        if (message.member() == QLatin1String("Get") && message.arguments().size() > 1) {
            const QString property = message.arguments().at(1).toString();
            return connection.send(
                message.createReply(QVariant::fromValue(QDBusVariant(all.value(property)))));
        }
        return false;
    }

    // Carries out one command line; false for a command it does not know.
    bool carryOut(const QString& command, const QString& argument)
    {
        if (command == QLatin1String("track")) {
            QStringList fields = argument.split(QLatin1Char('\t'));
            m_metadata = {{QStringLiteral("mpris:trackid"),
                           QVariant::fromValue(
                               QDBusObjectPath(QStringLiteral("/org/tunalo/track/%1").arg(++m_tracks)))}};
            const QString title = fields.takeFirst();
            if (!title.isEmpty())
                m_metadata.insert(QStringLiteral("xesam:title"), title);
            if (!fields.isEmpty())
                m_metadata.insert(QStringLiteral("xesam:artist"), fields);
            announce(kPlayerInterface, QStringLiteral("Metadata"), m_metadata);
        } else if (command == QLatin1String("play") || command == QLatin1String("pause") ||
                   command == QLatin1String("stop")) {
            static const QMap<QString, QString> statuses = {
                {QStringLiteral("play"), QStringLiteral("Playing")},
                {QStringLiteral("pause"), QStringLiteral("Paused")},
                {QStringLiteral("stop"), QStringLiteral("Stopped")}};
            m_status = statuses.value(command);
            announce(kPlayerInterface, QStringLiteral("PlaybackStatus"), m_status);
        } else if (command == QLatin1String("length")) {
            m_metadata.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(argument.toLongLong()));
            announce(kPlayerInterface, QStringLiteral("Metadata"), m_metadata);
        } else if (command == QLatin1String("art")) {
            m_metadata.insert(QStringLiteral("mpris:artUrl"), argument);
            announce(kPlayerInterface, QStringLiteral("Metadata"), m_metadata);
        } else if (command == QLatin1String("identity")) {
            m_identity = argument;
            announce(kRootInterface, QStringLiteral("Identity"), m_identity);
        } else {
            return false;
        }
        return true;
    }

    int reads() const { return m_reads; }

private:
    QVariantMap properties(const QString& interfaceName) const
    {
        if (interfaceName == kRootInterface)
            return {{QStringLiteral("Identity"), m_identity},
                    {QStringLiteral("CanQuit"), false},
                    {QStringLiteral("CanRaise"), false},
                    {QStringLiteral("HasTrackList"), false}};
        if (interfaceName == kPlayerInterface)
            return {{QStringLiteral("PlaybackStatus"), m_status}, {QStringLiteral("Metadata"), m_metadata}};
        return {};
    }

    void announce(const QString& interfaceName, const QString& property, const QVariant& value)
    {
        if (m_quiet)
            return;
        QDBusMessage changed =
            QDBusMessage::createSignal(kPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"));
        changed << interfaceName << QVariantMap{{property, value}} << QStringList();
        m_bus.send(changed);
    }

    QDBusConnection m_bus;
    QString m_identity;
    bool m_quiet;
    bool m_answers;
    QString m_status = QStringLiteral("Stopped");
    QVariantMap m_metadata;
    int m_tracks = 0;
    int m_reads = 0;
};

void answer(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QString name = QStringLiteral("tunalo");
    QString identity = QStringLiteral("Stand-in Player");
    bool quiet = false;
    bool answers = true;
    const QStringList arguments = application.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--quiet"))
            quiet = true;
        else if (arguments[i] == QLatin1String("--no-answers"))
            answers = false;
        else if (arguments[i] == QLatin1String("--name") && i + 1 < arguments.size())
            name = arguments[++i];
        else if (arguments[i] == QLatin1String("--identity") && i + 1 < arguments.size())
            identity = arguments[++i];
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    StandInPlayer player(bus, identity, quiet, answers);
    if (!bus.isConnected() || !bus.registerVirtualObject(kPath, &player) ||
        !bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + name)) {
        std::fprintf(stderr, "tunalo-mprisplayertool: cannot claim the name on the session bus\n");
        return 2;
    }
    answer("ready");

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, count);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            const qsizetype space = line.indexOf(QLatin1Char(' '));
            const QString command = line.left(space);
            const QString argument = space < 0 ? QString() : line.mid(space + 1);
            if (command == QLatin1String("quit")) {
                QCoreApplication::quit();
                return;
            }
            if (command == QLatin1String("reads"))
                answer("reads " + QByteArray::number(player.reads()));
            else
                answer(player.carryOut(command, argument) ? "ok" : "error unknown command");
        }
    });
    return QCoreApplication::exec();
}
