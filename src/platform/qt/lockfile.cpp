#include "platform/qt/lockfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace tunalo {
namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The file at the path is still the one we locked: an instance that was ending may have removed
// it between our open and our lock.
bool stillNamed(int fd, const QByteArray& path)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The process id the holder wrote, for the message; empty when the file holds none.
QString holderOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    bool ok = false;
    const qint64 pid = file.readLine(32).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? QStringLiteral(" (process %1)").arg(pid) : QString();
}

bool writeProcessId(int fd)
{
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), pid.size(), 0) == pid.size();
}

} // namespace

LockFileInstanceLock::LockFileInstanceLock(QString path) : m_path(std::move(path)) {}

LockFileInstanceLock::~LockFileInstanceLock()
{
    // Removed while still locked (the file closes after this): a start that opened it before the
    // removal finds it no longer under the lock's name and makes a new one.
    if (m_file.get() >= 0)
        ::unlink(QFile::encodeName(m_path).constData());
}

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
    if (m_file.get() >= 0)
        return true;
    m_refusal = {};
    // A few rounds cover a lock that changes hands or a folder removed in between.
    for (int round = 0; round < 4; ++round) {
        switch (attempt()) {
        case Attempt::Held:
            return true;
        case Attempt::Refused:
            return false;
        case Attempt::Again:
            break;
        }
    }
    refuse(false, QStringLiteral("the lock file %1 kept changing while Tunalo tried to take it").arg(m_path));
    return false;
}

LockFileInstanceLock::Attempt LockFileInstanceLock::attempt()
{
    const QByteArray path = QFile::encodeName(m_path);
    FileDescriptor file(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        const int error = errno;
        if (error == EISDIR)
            return clearFolder();
        return refuse(false,
                      QStringLiteral("cannot open the lock file %1: %2").arg(m_path, systemError(error)));
    }
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            return refuse(
                true, QStringLiteral("Tunalo is already running%1; this start ends").arg(holderOf(m_path)));
        return refuse(false, QStringLiteral("cannot lock %1: %2").arg(m_path, systemError(error)));
    }
    if (!stillNamed(file.get(), path))
        return Attempt::Again;
    // The process id is for people and messages only: the kernel's lock is what counts, so a
    // full disk that keeps it from being written does not matter.
    [[maybe_unused]] const bool written = writeProcessId(file.get());
    m_file = std::move(file);
    return Attempt::Held;
}

// A folder cannot hold a lock, so one in the lock's place is a leftover. Only an empty one is
// removed: whatever is inside belongs to someone.
LockFileInstanceLock::Attempt LockFileInstanceLock::clearFolder()
{
    if (::rmdir(QFile::encodeName(m_path).constData()) == 0 || errno == ENOENT)
        return Attempt::Again;
    return refuse(false, QStringLiteral("a folder that is not empty stands in the place of the lock file %1; "
                                        "remove it to start Tunalo")
                             .arg(m_path));
}

LockFileInstanceLock::Attempt LockFileInstanceLock::refuse(bool anotherInstance, const QString& reason)
{
    m_refusal = {anotherInstance, reason};
    return Attempt::Refused;
}

} // namespace tunalo
