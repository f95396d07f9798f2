#pragma once

#include <QProcess>
#include <QString>

#include <cstdint>

namespace tunalo::test {

// A fake player window on the test desktop, run by build/bin/tunalo-playertool.
class PlayerWindow {
public:
    // Opens a window with the title (and extraWindows more below it) on the display, or on
    // $DISPLAY when display is empty. Check started() before use.
    explicit PlayerWindow(const QString& title, int extraWindows = 0, const QString& display = {});
    ~PlayerWindow();
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    bool started() const { return m_handle != 0; }
    std::uint32_t handle() const { return m_handle; }

    // Sends one command of the tool ("title TEXT", "raise", "activate" ...); true once it is done.
    bool send(const QString& command);
    bool setTitle(const QString& title) { return send(QStringLiteral("title ") + title); }
    // Sends a command and returns at once; done() tells whether the tool has carried it out.
    void start(const QString& command);
    bool done();
    // Closes the window and waits until the tool has gone.
    void close();

private:
    QString readLine(int timeoutMs);

    QProcess m_process;
    std::uint32_t m_handle = 0;
};

} // namespace tunalo::test
