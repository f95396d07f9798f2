#pragma once

#include "platform/instancelock.h"

#include <QLockFile>
#include <QString>

#include <memory>

namespace tunalo {

// The single-instance lock: a lock file in the user's runtime folder. A lock whose process is
// gone (a crashed run) is taken over.
class LockFileInstanceLock : public InstanceLock {
public:
    explicit LockFileInstanceLock(QString path = defaultPath());
    bool tryLock() override;

    static QString defaultPath();

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace tunalo
