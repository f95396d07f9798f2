#include "support/mprisplayer.h"

#include <QFile>
#include <QStandardPaths>

#include <cstdio>

namespace tunalo::test {

PrivateBus::PrivateBus()
{
    start();
}

PrivateBus::~PrivateBus()
{
    for (const QString& name : m_connections)
        QDBusConnection::disconnectFromBus(name);
    stop();
}

void PrivateBus::start()
{
    // The daemon complains that it may not raise its file limit; that is of no concern here.
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                    QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus")),
                    QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(10000))
        return;
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
    }
    // Without the daemon's guid, as a desktop sets the address: a daemon started again at the same
    // place is the same bus to its clients.
    const QString printed = QString::fromUtf8(m_daemon.readLine()).trimmed();
    m_address = printed.left(printed.indexOf(QStringLiteral(",guid=")));
}

void PrivateBus::stop()
{
    m_daemon.kill();
    m_daemon.waitForFinished(5000);
}

bool PrivateBus::restart()
{
    const QString address = m_address;
    stop();
    start();
    return m_address == address;
}

QDBusConnection PrivateBus::connect()
{
    const QString name = QStringLiteral("tunalo-test-%1").arg(m_connections.size());
    m_connections.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}

QProcessEnvironment PrivateBus::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    return environment;
}

MprisPlayer::MprisPlayer(const QProcessEnvironment& environment, const QString& name,
                         const QStringList& extra)
{
    QProcess& process = m_tool.process();
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(TUNALO_BIN_DIR "/tunalo-mprisplayertool"),
                  QStringList{QStringLiteral("--name"), name} + extra);
    m_started = process.waitForStarted(10000) && m_tool.readLine(10000) == QStringLiteral("ready");
}

bool MprisPlayer::send(const QString& command)
{
    return m_tool.send(command, 10000);
}

bool MprisPlayer::track(const QString& title, const QStringList& artists)
{
    return send(QStringLiteral("track ") + (QStringList{title} + artists).join(QLatin1Char('\t')));
}

int MprisPlayer::reads()
{
    const QString answer = m_tool.ask(QStringLiteral("reads"), 10000);
    return answer.startsWith(QStringLiteral("reads ")) ? answer.mid(6).toInt() : -1;
}

namespace {

bool runMpv(QProcess& mpv, const QProcessEnvironment& environment, const QStringList& options)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("mpv"));
    const QString plugin = QStringLiteral("/usr/lib/mpv-mpris/mpris.so");
    if (program.isEmpty() || !QFile::exists(plugin)) {
        std::fprintf(stderr, "mpv or its MPRIS plugin (mpv-mpris) is missing: run scripts/setup\n");
        return false;
    }
    mpv.setProcessEnvironment(environment);
    mpv.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mpv.start(program, QStringList{QStringLiteral("--no-config"), QStringLiteral("--script=") + plugin,
                                   QStringLiteral("--ao=null"), QStringLiteral("--vo=null"),
                                   QStringLiteral("--no-terminal")} +
                           options);
    return mpv.waitForStarted(10000);
}

} // namespace

bool startMpv(QProcess& mpv, const QProcessEnvironment& environment, const QString& file)
{
    return runMpv(mpv, environment, {QStringLiteral("--loop-file=inf"), file});
}

bool startMpvPlaylist(QProcess& mpv, const QProcessEnvironment& environment, const QStringList& files)
{
    return runMpv(mpv, environment, files);
}

} // namespace tunalo::test
