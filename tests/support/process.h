#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>

namespace tunalo::test {

// The built program, started with a home of its own so it never touches the user's files.
class ProgramUnderTest {
public:
    ProgramUnderTest();
    ~ProgramUnderTest();

    // Starts another process of the program with the shared home.
    QProcess& start(const QProcessEnvironment& extra = {}, const QStringList& arguments = {});

    QString home() const { return m_home.path(); }
    QString settingsFile() const { return m_home.path() + QStringLiteral("/config/TNLO2.ini"); }
    QString lockFile() const { return m_home.path() + QStringLiteral("/runtime/tunalo.lock"); }
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_home;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// Runs the event loop until condition holds or timeoutMs passes; true when it holds.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

// As waitUntil, but the event loop runs freely between the looks at the condition: the browser
// engine works through many turns of the loop for one page, and a loop that sleeps between turns
// makes each page take seconds.
bool runUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

// One turn of the event loop: what the program asks next belongs to a new tick, which sees the
// desktop as it is now.
inline void nextTick()
{
    QCoreApplication::processEvents();
}

// Runs xdotool with the arguments; its output, or nothing when it failed.
QString xdotool(const QStringList& arguments);

// The window manager's active window, as xprop reads it; 0 for none.
std::uint32_t activeWindow();

// Lets the program and the desktop work for a while, with the test's own event loop running.
inline void pause(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

} // namespace tunalo::test
