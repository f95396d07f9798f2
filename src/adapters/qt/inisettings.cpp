#include "adapters/qt/inisettings.h"

#include "core/inifile.h"
#include "adapters/qt/filewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <utility>

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
    // A link that points to no file yet counts as no file.
    if (!QFileInfo::exists(path))
        return {Load::Missing, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {Load::Unreadable, {}};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {Load::Unreadable, {}};
    if (auto document = ini::parse(bytes))
        return {Load::Read, std::move(*document)};
    return {Load::Damaged, {}};
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

ChangeResult IniSettingsStore::save(const QString& application, const QString& section,
                                    const QString& key, const QString& text)
{
    const QString path = filePath(application);
    const auto fail = [&](const QString& why) {
        const QString message = QStringLiteral("cannot save the settings to %1: %2").arg(path, why);
        warn(m_writeWarning, message);
        return ChangeResult::refused(message);
    };
    errno = 0;
    if (!QDir().mkpath(m_folder))
        return fail(errno != 0 ? writeCause(errno, m_folder)
                               : QStringLiteral("the folder %1 cannot be made").arg(m_folder));
    QLockFile lock(path + QStringLiteral(".lock"));
    errno = 0;
    if (!lock.tryLock(kLockWaitMs)) {
        const int error = errno;
        if (lock.error() == QLockFile::LockFailedError)
            return fail(QStringLiteral("another program holds the file"));
        return fail(writeCause(lock.error() == QLockFile::PermissionError ? EACCES : error, m_folder));
    }
    // A settings file that links elsewhere (a folder of dotfiles) is written where it points.
    const QByteArray target = linkedFile(QFile::encodeName(path));
    if (target.isEmpty())
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const QString targetPath = QFile::decodeName(target);
    if (writeProtected(target))
        return fail(targetPath == path
                        ? QStringLiteral("the file is read-only")
                        : QStringLiteral("the file %1 it links to is read-only").arg(targetPath));

    Loaded loaded = loadFile(targetPath);
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
    if (const int error = replaceFile(target, ini::serialize(loaded.document)))
        return fail(writeCause(error, QFileInfo(targetPath).path()));
    return {};
}

} // namespace tunalo
