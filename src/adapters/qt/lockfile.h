#pragma once

#include "platform/instancelock.h"
#include "adapters/qt/filedescriptor.h"

#include <QString>

#include <memory>
#include <utility>

class QLocalServer;

namespace tunalo {

// The single-instance lock: a file in the user's runtime folder that the running instance keeps
// locked with the kernel's file lock. The kernel drops that lock when the process ends, however it
// ends, so only a live instance can hold it: whatever a crash or a full disk left in the file's place
// (nothing, an empty file, text that is no process id, an empty folder) is taken over.
//
// Without a runtime folder the lock lives in a folder of the user's own in the system's temporary
// folder, which anyone may write in: Tunalo makes it with only the user let in, and refuses one that
// another user owns or may enter, or a link in its place, so that nobody else can hold the lock.
//
// The holder listens on a local socket beside the lock (tunalo.socket for tunalo.lock), where a
// later start asks it, with the line "show", to show its main window; it answers "shown".
class LockFileInstanceLock : public InstanceLock {
public:
    struct Place {
        QString path;
        bool privateFolder = false; // the folder is made when missing, and checked before the lock is taken
    };

    explicit LockFileInstanceLock(Place place = defaultPlace());
    // A lock file in a folder that is there and needs no check.
    explicit LockFileInstanceLock(QString path) : LockFileInstanceLock(Place{std::move(path), false}) {}
    ~LockFileInstanceLock() override;
    LockFileInstanceLock(const LockFileInstanceLock&) = delete;
    LockFileInstanceLock& operator=(const LockFileInstanceLock&) = delete;

    bool tryLock() override;
    Refusal refusal() const override { return m_refusal; }
    void onShowAsked(std::function<void()> show) override;
    bool askToShow() override;

    // $XDG_RUNTIME_DIR/tunalo.lock, or without it tunalo.lock in the private folder tunalo-UID of the
    // system's temporary folder.
    static Place defaultPlace();

private:
    enum class Attempt { Held, Again, Refused };
    Attempt attempt();
    // Opens the lock's folder into m_folder, making and checking a private one.
    Attempt openFolder();
    Attempt refuse(bool anotherInstance, const QString& reason);
    Attempt clearFolder();
    void listen();
    void showAsked();

    QString m_path;
    QByteArray m_name; // the lock file's name inside its folder
    bool m_privateFolder;
    FileDescriptor m_folder{-1}; // the lock's folder, opened without following a link
    FileDescriptor m_file{-1};   // open and locked while this instance holds the lock
    Refusal m_refusal;
    QString m_socketPath;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_show;
    bool m_showPending = false; // asked before anything could be shown
};

} // namespace tunalo
