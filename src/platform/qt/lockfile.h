#pragma once

#include "platform/instancelock.h"
#include "platform/qt/filedescriptor.h"

#include <QString>

#include <memory>

class QLocalServer;

namespace tunalo {

// The single-instance lock: a file in the user's runtime folder that the running instance keeps
// locked with the kernel's file lock. The kernel drops that lock when the process ends, however it
// ends, so only a live instance can hold it: whatever a crash or a full disk left in the file's place
// (nothing, an empty file, text that is no process id, an empty folder) is taken over.
//
// The holder listens on a local socket beside the lock (tunalo.socket for tunalo.lock), where a
// later start asks it, with the line "show", to show its main window; it answers "shown".
class LockFileInstanceLock : public InstanceLock {
public:
    explicit LockFileInstanceLock(QString path = defaultPath());
    ~LockFileInstanceLock() override;
    LockFileInstanceLock(const LockFileInstanceLock&) = delete;
    LockFileInstanceLock& operator=(const LockFileInstanceLock&) = delete;

    bool tryLock() override;
    Refusal refusal() const override { return m_refusal; }
    void onShowAsked(std::function<void()> show) override;
    bool askToShow() override;

    static QString defaultPath();

private:
    enum class Attempt { Held, Again, Refused };
    Attempt attempt();
    Attempt refuse(bool anotherInstance, const QString& reason);
    Attempt clearFolder();
    void listen();
    void showAsked();

    QString m_path;
    FileDescriptor m_file{-1}; // open and locked while this instance holds the lock
    Refusal m_refusal;
    QString m_socketPath;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_show;
    bool m_showPending = false; // asked before anything could be shown
};

} // namespace tunalo
