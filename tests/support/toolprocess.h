#pragma once

#include <QProcess>
#include <QString>

namespace tunalo::test {

// One of the test tools, driven with one command a line on its stdin, each answered with a line.
class ToolProcess {
public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    QProcess& process() { return m_process; }
    bool running() const { return m_process.state() == QProcess::Running; }

    // The tool's next line, without its line end; empty when none came in time.
    QString readLine(int timeoutMs);
    // Sends one command and returns the tool's answer; empty when it is not running.
    QString ask(const QString& command, int timeoutMs);
    // Sends one command; true once the tool answers "ok".
    bool send(const QString& command, int timeoutMs)
    {
        return ask(command, timeoutMs) == QStringLiteral("ok");
    }
    // Tells the tool to quit and waits until it has gone.
    void quit();

private:
    QProcess m_process;
};

} // namespace tunalo::test
