#include "platform/qt/inisettings.h"

#include "platform/qt/inifile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSaveFile>

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

void IniSettingsStore::warnOnce(bool& warned, const QString& message)
{
    if (warned)
        return;
    warned = true;
    qCWarning(lcSettings).noquote() << message;
}

QString IniSettingsStore::read(const QString& application, const QString& section, const QString& key,
                               const QString& defaultValue)
{
    const QString path = filePath(application);
    const Loaded loaded = loadFile(path);
    if (loaded.result == Load::Unreadable)
        warnOnce(m_warnedRead,
                 QStringLiteral("cannot read the settings file %1; using the defaults").arg(path));
    if (loaded.result == Load::Damaged)
        warnOnce(m_warnedRead,
                 QStringLiteral("the settings file %1 is damaged; using the defaults").arg(path));
    if (loaded.result != Load::Read)
        return defaultValue;
    return ini::value(loaded.document, section, key).value_or(defaultValue);
}

void IniSettingsStore::save(const QString& application, const QString& section, const QString& key,
                            const QString& text)
{
    const QString path = filePath(application);
    const auto fail = [&](const QString& why) {
        warnOnce(m_warnedWrite, QStringLiteral("cannot save the settings to %1: %2").arg(path, why));
    };
    if (!QDir().mkpath(m_folder))
        return fail(QStringLiteral("cannot create the folder"));
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        return fail(QStringLiteral("another program holds the file"));

    Loaded loaded = loadFile(path);
    if (loaded.result == Load::Unreadable)
        return fail(QStringLiteral("the file cannot be read, so it is left as it is"));
    if (loaded.result == Load::Damaged) {
        // Keep the damaged file for the user before a fresh one takes its place.
        const QString kept = path + QStringLiteral(".damaged");
        QFile::remove(kept);
        if (!QFile::copy(path, kept))
            return fail(QStringLiteral("the damaged file could not be kept aside"));
        qCWarning(lcSettings).noquote() << "the damaged settings file was kept as" << kept;
    }
    ini::setValue(loaded.document, section, key, text);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(ini::serialize(loaded.document));
    if (!file.commit())
        fail(file.errorString());
}

} // namespace tunalo
