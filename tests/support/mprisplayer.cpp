#include "support/mprisplayer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

namespace tunalo::test {

namespace {

QString readLineOf(QProcess& process, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine() && !deadline.hasExpired() && process.state() == QProcess::Running)
        process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    return QString::fromUtf8(process.readLine()).trimmed();
}

} // namespace

PrivateBus::PrivateBus()
{
    // The daemon complains that it may not raise its file limit; that is of no concern here.
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                    QStringLiteral("--address=unix:path=") + m_dir.filePath(QStringLiteral("bus")),
                    QStringLiteral("--print-address=1")});
    if (m_daemon.waitForStarted(10000))
        m_address = readLineOf(m_daemon, 10000);
}

PrivateBus::~PrivateBus()
{
    for (const QString& name : m_connections)
        QDBusConnection::disconnectFromBus(name);
    m_daemon.kill();
    m_daemon.waitForFinished(5000);
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
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(TUNALO_BIN_DIR "/tunalo-mprisplayertool"),
                    QStringList{QStringLiteral("--name"), name} + extra);
    m_started = m_process.waitForStarted(10000) && readLine() == QStringLiteral("ready");
}

MprisPlayer::~MprisPlayer()
{
    quit();
}

bool MprisPlayer::send(const QString& command)
{
    if (m_process.state() != QProcess::Running)
        return false;
    m_process.write(command.toUtf8() + '\n');
    return readLine() == QStringLiteral("ok");
}

bool MprisPlayer::track(const QString& title, const QStringList& artists)
{
    return send(QStringLiteral("track ") + (QStringList{title} + artists).join(QLatin1Char('\t')));
}

int MprisPlayer::reads()
{
    if (m_process.state() != QProcess::Running)
        return -1;
    m_process.write("reads\n");
    const QString answer = readLine();
    return answer.startsWith(QStringLiteral("reads ")) ? answer.mid(6).toInt() : -1;
}

void MprisPlayer::quit()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString MprisPlayer::readLine()
{
    return readLineOf(m_process, 10000);
}

bool startMpv(QProcess& mpv, const QProcessEnvironment& environment, const QString& file)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("mpv"));
    const QString plugin = QStringLiteral("/usr/lib/mpv-mpris/mpris.so");
    if (program.isEmpty() || !QFile::exists(plugin)) {
        std::fprintf(stderr, "mpv or its MPRIS plugin (mpv-mpris) is missing: run scripts/setup\n");
        return false;
    }
    mpv.setProcessEnvironment(environment);
    mpv.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mpv.start(program, {QStringLiteral("--no-config"), QStringLiteral("--script=") + plugin,
                        QStringLiteral("--ao=null"), QStringLiteral("--vo=null"),
                        QStringLiteral("--no-terminal"), QStringLiteral("--loop-file=inf"), file});
    return mpv.waitForStarted(10000);
}

} // namespace tunalo::test
