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

// The file under the name in the folder is still the one we locked: an instance that was ending
// may have removed it between our open and our lock.
bool stillNamed(int fd, int folder, const QByteArray& name)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The process id the holder wrote, for the message; empty when the file holds none.
QString holderOf(int folder, const QByteArray& name)
{
    const FileDescriptor file(::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    char text[32] = {};
    if (file.get() < 0 || ::read(file.get(), text, sizeof text - 1) <= 0)
        return {};
    bool ok = false;
    const qint64 pid = QByteArray(text).split('\n').constFirst().trimmed().toLongLong(&ok);
    return ok && pid > 0 ? QStringLiteral(" (process %1)").arg(pid) : QString();
}

bool writeProcessId(int fd)
{
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), pid.size(), 0) == pid.size();
}

} // namespace

LockFileInstanceLock::LockFileInstanceLock(Place place)
    : m_path(std::move(place.path)), m_name(QFile::encodeName(QFileInfo(m_path).fileName())),
      m_privateFolder(place.privateFolder)
{
}

LockFileInstanceLock::~LockFileInstanceLock()
{
    // Removed while still locked (the file closes after this): a start that opened it before the
    // removal finds it no longer under the lock's name and makes a new one.
    if (m_file.get() >= 0)
        ::unlinkat(m_folder.get(), m_name.constData(), 0);
}

LockFileInstanceLock::Place LockFileInstanceLock::defaultPlace()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return {runtime + QStringLiteral("/tunalo.lock"), false};
    return {QDir::tempPath() + QStringLiteral("/tunalo-%1/tunalo.lock").arg(::getuid()), true};
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

LockFileInstanceLock::Attempt LockFileInstanceLock::openFolder()
{
    const QString folderPath = QFileInfo(m_path).path();
    const QByteArray folder = QFile::encodeName(folderPath);
    if (m_privateFolder && ::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return refuse(false, QStringLiteral("cannot make the lock folder %1: %2").arg(folderPath, systemError(errno)));
    // The private folder is never reached through a link: the link's owner chose where it leads.
    FileDescriptor opened(
        ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (m_privateFolder ? O_NOFOLLOW : 0)));
    if (opened.get() < 0) {
        const int error = errno;
        if (m_privateFolder && error == ENOENT)
            return Attempt::Again; // removed between making and opening it
        if (m_privateFolder && (error == ELOOP || error == ENOTDIR))
            return refuse(false, QStringLiteral("the lock folder %1 is a link or no folder; remove it to start Tunalo")
                                     .arg(folderPath));
        return refuse(false, QStringLiteral("cannot open the lock folder %1: %2").arg(folderPath, systemError(error)));
    }
    if (m_privateFolder) {
        // Whoever owns the folder or may write in it could hold the lock and keep Tunalo from starting.
        struct stat status {};
        if (::fstat(opened.get(), &status) != 0)
            return refuse(false, QStringLiteral("cannot examine the lock folder %1: %2").arg(folderPath, systemError(errno)));
        if (status.st_uid != ::geteuid())
            return refuse(false, QStringLiteral("the lock folder %1 belongs to another user; remove it to start Tunalo")
                                     .arg(folderPath));
        if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
            return refuse(false, QStringLiteral("the lock folder %1 is open to other users; remove it or make it "
                                                "private (chmod 700) to start Tunalo")
                                     .arg(folderPath));
    }
    m_folder = std::move(opened);
    return Attempt::Held;
}

LockFileInstanceLock::Attempt LockFileInstanceLock::attempt()
{
    if (const Attempt folder = openFolder(); folder != Attempt::Held)
        return folder;
    FileDescriptor file(
        ::openat(m_folder.get(), m_name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
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
            return refuse(true, QStringLiteral("Tunalo is already running%1; this start ends")
                                    .arg(holderOf(m_folder.get(), m_name)));
        return refuse(false, QStringLiteral("cannot lock %1: %2").arg(m_path, systemError(error)));
    }
    if (!stillNamed(file.get(), m_folder.get(), m_name))
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
    if (::unlinkat(m_folder.get(), m_name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT)
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
