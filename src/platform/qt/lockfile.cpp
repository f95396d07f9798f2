#include "platform/qt/lockfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace tunalo {

LockFileInstanceLock::LockFileInstanceLock(QString path) : m_path(std::move(path)) {}

QString LockFileInstanceLock::defaultPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QDir::tempPath() + QStringLiteral("/tunalo-%1").arg(getuid());
        QDir().mkpath(folder);
        QFile::setPermissions(folder,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return folder + QStringLiteral("/tunalo.lock");
}

bool LockFileInstanceLock::tryLock()
{
    if (m_lock && m_lock->isLocked())
        return true;
    m_lock = std::make_unique<QLockFile>(m_path);
    // Only a living process holds the lock; a stale one is recognised by its process id.
    m_lock->setStaleLockTime(0);
    return m_lock->tryLock(0);
}

} // namespace tunalo
