#include "adapters/qt/lockfile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

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
    return ::fstat(fd, &opened) == 0 &&
           ::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
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

// The socket beside the lock: tunalo.socket for tunalo.lock.
QString socketBeside(const QString& lockPath)
{
    const QFileInfo lock(lockPath);
    return lock.dir().filePath(lock.completeBaseName() + QStringLiteral(".socket"));
}

constexpr char kShowRequest[] = "show\n";
constexpr char kShown[] = "shown\n";
// A request is one short line; anything longer is no request of ours.
constexpr qint64 kLongestRequest = 64;

bool writeProcessId(int fd)
{
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), pid.size(), 0) == pid.size();
}

} // namespace

LockFileInstanceLock::LockFileInstanceLock(Place place)
    : m_path(std::move(place.path)), m_name(QFile::encodeName(QFileInfo(m_path).fileName())),
      m_privateFolder(place.privateFolder), m_socketPath(socketBeside(m_path))
{
}

LockFileInstanceLock::~LockFileInstanceLock()
{
    m_server.reset(); // removes the socket while this instance still holds the lock
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
        return refuse(
            false, QStringLiteral("cannot make the lock folder %1: %2").arg(folderPath, systemError(errno)));
    // The private folder is never reached through a link: the link's owner chose where it leads.
    FileDescriptor opened(
        ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (m_privateFolder ? O_NOFOLLOW : 0)));
    if (opened.get() < 0) {
        const int error = errno;
        if (m_privateFolder && error == ENOENT)
            return Attempt::Again; // removed between making and opening it
        if (m_privateFolder && (error == ELOOP || error == ENOTDIR))
            return refuse(
                false, QStringLiteral("the lock folder %1 is a link or no folder; remove it to start Tunalo")
                           .arg(folderPath));
        return refuse(
            false, QStringLiteral("cannot open the lock folder %1: %2").arg(folderPath, systemError(error)));
    }
    if (m_privateFolder) {
        // Whoever owns the folder or may write in it could hold the lock and keep Tunalo from starting.
        struct stat status {};
        if (::fstat(opened.get(), &status) != 0)
            return refuse(
                false,
                QStringLiteral("cannot examine the lock folder %1: %2").arg(folderPath, systemError(errno)));
        if (status.st_uid != ::geteuid())
            return refuse(
                false, QStringLiteral("the lock folder %1 belongs to another user; remove it to start Tunalo")
                           .arg(folderPath));
        if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
            return refuse(false,
                          QStringLiteral("the lock folder %1 is open to other users; remove it or make it "
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
            return refuse(
                true, QStringLiteral("Tunalo is already running%1").arg(holderOf(m_folder.get(), m_name)));
        return refuse(false, QStringLiteral("cannot lock %1: %2").arg(m_path, systemError(error)));
    }
    if (!stillNamed(file.get(), m_folder.get(), m_name))
        return Attempt::Again;
    // The process id is for people and messages only: the kernel's lock is what counts, so a
    // full disk that keeps it from being written does not matter.
    [[maybe_unused]] const bool written = writeProcessId(file.get());
    m_file = std::move(file);
    listen();
    return Attempt::Held;
}

// Only the lock's holder listens, so a socket already in the place is what a dead run left.
void LockFileInstanceLock::listen()
{
    QLocalServer::removeServer(m_socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        // The program runs on; later starts end without reaching it, as before there was a socket.
        m_server.reset();
        return;
    }
    QLocalServer* server = m_server.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [this, server] {
        while (QLocalSocket* caller = server->nextPendingConnection()) {
            QObject::connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
            QObject::connect(caller, &QLocalSocket::readyRead, caller, [this, caller] {
                if (!caller->canReadLine()) {
                    if (caller->bytesAvailable() > kLongestRequest)
                        caller->disconnectFromServer();
                    return;
                }
                if (caller->readLine(kLongestRequest + 1) == kShowRequest) {
                    caller->write(kShown);
                    showAsked();
                }
                caller->disconnectFromServer();
            });
        }
    });
}

void LockFileInstanceLock::showAsked()
{
    if (m_show)
        m_show();
    else
        m_showPending = true;
}

void LockFileInstanceLock::onShowAsked(std::function<void()> show)
{
    m_show = std::move(show);
    if (m_show && std::exchange(m_showPending, false))
        m_show();
}

bool LockFileInstanceLock::askToShow()
{
    QLocalSocket socket;
    // The holder listens a moment after it took the lock, and answers once its start-up is done.
    const QDeadlineTimer connecting(3000);
    for (socket.connectToServer(m_socketPath); !socket.waitForConnected(500);
         socket.connectToServer(m_socketPath)) {
        if (connecting.hasExpired())
            return false;
        QThread::msleep(50);
    }
    socket.write(kShowRequest);
    socket.flush();
    const QDeadlineTimer answering(15000);
    while (!socket.canReadLine()) {
        if (answering.hasExpired() || !socket.waitForReadyRead(static_cast<int>(answering.remainingTime())))
            return false;
    }
    return socket.readLine(kLongestRequest + 1) == kShown;
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
