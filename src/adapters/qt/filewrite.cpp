#include "adapters/qt/filewrite.h"

#include "adapters/qt/filedescriptor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace tunalo {

QString writeCause(int error, const QString& folder)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("the folder %1 cannot be written").arg(folder);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("the disk is full");
    case EEXIST:
    case ENOTDIR:
        return QStringLiteral("a file stands where the folder %1 belongs").arg(folder);
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QByteArray linkedFile(const QByteArray& path)
{
    // As many links as the kernel itself follows before it gives up.
    constexpr int kMostLinks = 40;
    QByteArray current = path;
    for (int step = 0; step <= kMostLinks; ++step) {
        struct stat status {};
        if (::lstat(current.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.constData(), target.data(), target.size());
        if (length < 0)
            return {};
        target.truncate(length);
        // A relative link counts from the folder that holds it.
        if (!target.startsWith('/')) {
            const qsizetype slash = current.lastIndexOf('/');
            target.prepend(slash < 0 ? QByteArray() : current.left(slash + 1));
        }
        current = target;
    }
    errno = ELOOP;
    return {};
}

bool writeProtected(const QByteArray& file)
{
    struct stat status {};
    if (::stat(file.constData(), &status) != 0)
        return false;
    // Root may write any file, but a file without a write permission bit was meant to stay.
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(file.constData(), W_OK) != 0;
}

int replaceFile(const QByteArray& target, const QByteArray& bytes)
{
    QByteArray temporary = target + ".XXXXXX";
    FileDescriptor file(::mkstemp(temporary.data()));
    if (file.get() < 0)
        return errno;
    const auto failed = [&](int error) {
        ::unlink(temporary.constData());
        return error;
    };
    struct stat old {};
    ::fchmod(file.get(), ::stat(target.constData(), &old) == 0 ? old.st_mode & 07777 : 0644);
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t step = ::write(file.get(), bytes.constData() + written,
                                     static_cast<std::size_t>(bytes.size() - written));
        if (step < 0 && errno != EINTR)
            return failed(errno);
        written += step < 0 ? 0 : step;
    }
    if (::fsync(file.get()) != 0)
        return failed(errno);
    if (const int error = file.close())
        return failed(error);
    if (::rename(temporary.constData(), target.constData()) != 0)
        return failed(errno);
    return 0;
}

} // namespace tunalo
