#include "support/toolprocess.h"

#include <QDeadlineTimer>

#include <algorithm>

namespace tunalo::test {

ToolProcess::~ToolProcess()
{
    quit();
}

QString ToolProcess::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine() && !deadline.hasExpired() && running())
        m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    return QString::fromUtf8(m_process.readLine()).trimmed();
}

QString ToolProcess::ask(const QString& command, int timeoutMs)
{
    if (!running())
        return {};
    m_process.write(command.toUtf8() + '\n');
    return readLine(timeoutMs);
}

void ToolProcess::quit()
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

} // namespace tunalo::test
