#pragma once

#include "support/toolprocess.h"

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tunalo::test {

// A session bus of the test's own (dbus-daemon), so that no player of the user's desktop and no
// leftover of another test is on it.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool started() const { return !m_address.isEmpty(); }
    const QString& address() const { return m_address; }
    // A new connection of the test process to the bus.
    QDBusConnection connect();
    // The environment of a program that should take this bus as its session bus.
    QProcessEnvironment environment() const;
    // Ends the daemon, as when the desktop's bus ends, and starts a new one at the same address;
    // false when it is not back there.
    bool restart();
    void stop();

private:
    void start();

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

// A stand-in media player on a bus, run by build/bin/tunalo-mprisplayertool.
class MprisPlayer {
public:
    // Claims org.mpris.MediaPlayer2.<name> on the session bus of the environment; more options
    // (--identity, --quiet, --no-answers) in extra.
    MprisPlayer(const QProcessEnvironment& environment, const QString& name, const QStringList& extra = {});

    bool started() const { return m_started; }
    // Sends one command of the tool ("play", "pause", "identity TEXT" ...); true once it is done.
    bool send(const QString& command);
    // A new track, without changing whether it plays.
    bool track(const QString& title, const QStringList& artists = {});
    // Starts playing a new track.
    bool play(const QString& title, const QStringList& artists = {})
    {
        return track(title, artists) && send(QStringLiteral("play"));
    }
    // How often the player's playback state was read; -1 when the tool did not answer.
    int reads();
    // Leaves the bus and waits until the tool has gone.
    void quit() { m_tool.quit(); }

private:
    ToolProcess m_tool;
    bool m_started = false;
};

// Starts mpv with its MPRIS plugin, sound and picture off, playing the file over and over on the
// session bus of the environment; false (with the reason on stderr) when it cannot.
bool startMpv(QProcess& mpv, const QProcessEnvironment& environment, const QString& file);
// The same, playing the files once each, one after the other.
bool startMpvPlaylist(QProcess& mpv, const QProcessEnvironment& environment, const QStringList& files);

} // namespace tunalo::test
