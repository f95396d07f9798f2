#include "support/playerwindow.h"

#include <QStringList>

namespace tunalo::test {

PlayerWindow::PlayerWindow(const QString& title, int extraWindows, const QString& display)
{
    QProcess& process = m_tool.process();
    if (!display.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        process.setProcessEnvironment(environment);
    }
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(
        QStringLiteral(TUNALO_BIN_DIR "/tunalo-playertool"),
        {QStringLiteral("--title"), title, QStringLiteral("--windows"), QString::number(extraWindows)});
    if (!process.waitForStarted(10000))
        return;
    // Many windows take the window manager a while to list.
    const QStringList words = m_tool.readLine(150000).split(QLatin1Char(' '));
    if (words.size() == 2 && words[0] == QStringLiteral("window"))
        m_handle = words[1].toUInt();
}

bool PlayerWindow::send(const QString& command)
{
    return m_tool.send(command, 30000);
}

void PlayerWindow::start(const QString& command)
{
    m_tool.process().write(command.toUtf8() + '\n');
}

bool PlayerWindow::done()
{
    QProcess& process = m_tool.process();
    process.waitForReadyRead(0);
    return process.canReadLine() && QString::fromUtf8(process.readLine()).trimmed() == QStringLiteral("ok");
}

void PlayerWindow::close()
{
    m_tool.quit();
}

} // namespace tunalo::test
