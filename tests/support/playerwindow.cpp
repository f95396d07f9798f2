#include "support/playerwindow.h"

#include <QDeadlineTimer>
#include <QStringList>

#include <algorithm>

namespace tunalo::test {

PlayerWindow::PlayerWindow(const QString& title, int extraWindows, const QString& display)
{
    if (!display.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        m_process.setProcessEnvironment(environment);
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(
        QStringLiteral(TUNALO_BIN_DIR "/tunalo-playertool"),
        {QStringLiteral("--title"), title, QStringLiteral("--windows"), QString::number(extraWindows)});
    if (!m_process.waitForStarted(10000))
        return;
    // Many windows take the window manager a while to list.
    const QStringList words = readLine(150000).split(QLatin1Char(' '));
    if (words.size() == 2 && words[0] == QStringLiteral("window"))
        m_handle = words[1].toUInt();
}

PlayerWindow::~PlayerWindow()
{
    close();
}

bool PlayerWindow::send(const QString& command)
{
    if (m_process.state() != QProcess::Running)
        return false;
    m_process.write(command.toUtf8() + '\n');
    return readLine(30000) == QStringLiteral("ok");
}

void PlayerWindow::start(const QString& command)
{
    m_process.write(command.toUtf8() + '\n');
}

bool PlayerWindow::done()
{
    m_process.waitForReadyRead(0);
    return m_process.canReadLine() &&
           QString::fromUtf8(m_process.readLine()).trimmed() == QStringLiteral("ok");
}

void PlayerWindow::close()
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

QString PlayerWindow::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    return QString::fromUtf8(m_process.readLine()).trimmed();
}

} // namespace tunalo::test
