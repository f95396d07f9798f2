#include "platform/qt/inisettings.h"

#include "platform/qt/filedescriptor.h"
#include "core/inifile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunalo {

// Told by default: the user learns why the settings are not what they were.
Q_LOGGING_CATEGORY(lcSettings, "tunalo.settings", QtWarningMsg)

namespace {

// Another writer holds the lock only while it rewrites this small file; the window must not wait longer.
constexpr int kLockWaitMs = 100;

enum class Load { Missing, Read, Unreadable, Damaged };

struct Loaded {
    Load result;
    ini::Document document;
};

Loaded loadFile(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return {Load::Missing, {}};
    if (!file.open(QIODevice::ReadOnly))
        return {Load::Unreadable, {}};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {Load::Unreadable, {}};
    if (auto document = ini::parse(bytes))
        return {Load::Read, std::move(*document)};
    return {Load::Damaged, {}};
}

// What stood in the way of a write, in the user's terms, from the system's error number.
QString causeOf(int error, const QString& folder)
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
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

// Writes the bytes to a new file beside path and puts it in path's place in one step, so a
// failure at any point leaves the old file whole. 0, or the error number of the step that failed.
int replaceFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
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

} // namespace

IniSettingsStore::IniSettingsStore(QString folder) : m_folder(std::move(folder)) {}

QString IniSettingsStore::defaultFolder()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configHome.isEmpty() && QDir::isAbsolutePath(configHome))
        return configHome;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString IniSettingsStore::filePath(const QString& application) const
{
    return m_folder + QLatin1Char('/') + application + QStringLiteral(".ini");
}

void IniSettingsStore::warn(QString& lastWarning, const QString& message)
{
    // A failure that repeats is told once; a new cause is told again.
    if (message == lastWarning)
        return;
    lastWarning = message;
    qCWarning(lcSettings).noquote() << message;
}

SettingsSection IniSettingsStore::readSection(const QString& application, const QString& section)
{
    const QString path = filePath(application);
    const Loaded loaded = loadFile(path);
    if (loaded.result == Load::Unreadable)
        warn(m_readWarning, QStringLiteral("cannot read the settings file %1; using the defaults").arg(path));
    if (loaded.result == Load::Damaged)
        warn(m_readWarning, QStringLiteral("the settings file %1 is damaged; using the defaults").arg(path));
    if (loaded.result != Load::Read)
        return {};
    return ini::section(loaded.document, section);
}

void IniSettingsStore::save(const QString& application, const QString& section, const QString& key,
                            const QString& text)
{
    const QString path = filePath(application);
    const auto fail = [&](const QString& why) {
        warn(m_writeWarning, QStringLiteral("cannot save the settings to %1: %2").arg(path, why));
    };
    errno = 0;
    if (!QDir().mkpath(m_folder))
        return fail(errno != 0 ? causeOf(errno, m_folder)
                               : QStringLiteral("the folder %1 cannot be made").arg(m_folder));
    QLockFile lock(path + QStringLiteral(".lock"));
    errno = 0;
    if (!lock.tryLock(kLockWaitMs)) {
        const int error = errno;
        if (lock.error() == QLockFile::LockFailedError)
            return fail(QStringLiteral("another program holds the file"));
        return fail(causeOf(lock.error() == QLockFile::PermissionError ? EACCES : error, m_folder));
    }

    Loaded loaded = loadFile(path);
    if (loaded.result == Load::Unreadable)
        return fail(QStringLiteral("the file cannot be read, so it is left as it is"));
    if (loaded.result == Load::Damaged) {
        // Keep the damaged file for the user before a fresh one takes its place; a copy kept from
        // an earlier damage gives way to this one.
        const QString kept = path + QStringLiteral(".damaged");
        QFile::remove(kept);
        if (!QFile::copy(path, kept))
            return fail(QStringLiteral("the damaged file could not be kept aside"));
        qCWarning(lcSettings).noquote() << "the damaged settings file was kept as" << kept;
    }
    ini::setValue(loaded.document, section, key, text);
    if (const int error = replaceFile(path, ini::serialize(loaded.document)))
        fail(causeOf(error, m_folder));
}

} // namespace tunalo
