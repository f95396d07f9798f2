#pragma once

#include "platform/instancelock.h"
#include "platform/qt/filedescriptor.h"

#include <QString>

namespace tunalo {

// The single-instance lock: a file in the user's runtime folder that the running instance keeps
// locked with the kernel's file lock. The kernel drops that lock when the process ends, however it
// ends, so only a live instance can hold it: whatever a crash or a full disk left in the file's place
// (nothing, an empty file, text that is no process id, an empty folder) is taken over.
class LockFileInstanceLock : public InstanceLock {
public:
    explicit LockFileInstanceLock(QString path = defaultPath());
    ~LockFileInstanceLock() override;
    LockFileInstanceLock(const LockFileInstanceLock&) = delete;
    LockFileInstanceLock& operator=(const LockFileInstanceLock&) = delete;

    bool tryLock() override;
    Refusal refusal() const override { return m_refusal; }

    static QString defaultPath();

private:
    enum class Attempt { Held, Again, Refused };
    Attempt attempt();
    Attempt refuse(bool anotherInstance, const QString& reason);
    Attempt clearFolder();

    QString m_path;
    FileDescriptor m_file{-1}; // open and locked while this instance holds the lock
    Refusal m_refusal;
};

} // namespace tunalo
