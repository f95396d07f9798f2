#include "adapters/qt/xdgautostart.h"

#include "adapters/qt/filewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace tunalo {
namespace {

// An entry the desktop would skip: switched off by the user's desktop settings.
bool switchedOff(const QByteArray& line)
{
    return line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false";
}

// The desktop entry format quotes an argument that holds one of these.
constexpr QStringView kReserved = u" \t\n\"'\\><~|&;$*?#()`";
// Inside the quotes these take a backslash.
constexpr QStringView kEscapedInQuotes = u"\"`$\\";

// A value's own escapes, read before the Exec line is split into arguments.
QString escapeValue(const QString& text)
{
    QString value;
    for (const QChar c : text) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

} // namespace

XdgAutostart::XdgAutostart(QString program, QString entryPath)
    : m_program(std::move(program)), m_entryPath(std::move(entryPath))
{
}

QString XdgAutostart::defaultEntryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/tunalo.desktop");
}

QString XdgAutostart::execValue(const QString& program)
{
    QString argument = program;
    argument.replace(u'%', QStringLiteral("%%"));
    if (std::none_of(argument.begin(), argument.end(), [](QChar c) { return kReserved.contains(c); }))
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (kEscapedInQuotes.contains(c))
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return escapeValue(quoted);
}

bool XdgAutostart::isEnabled() const
{
    QFile entry(m_entryPath);
    if (!QFileInfo(m_entryPath).isFile() || !entry.open(QIODevice::ReadOnly))
        return false;
    while (!entry.atEnd()) {
        if (switchedOff(entry.readLine().trimmed()))
            return false;
    }
    return true;
}

ChangeResult XdgAutostart::setEnabled(bool on)
{
    const QString folder = QFileInfo(m_entryPath).path();
    const auto refused = [&](const QString& why) {
        return ChangeResult::refused((on ? QStringLiteral("cannot make Tunalo start at log-in: %1")
                                         : QStringLiteral("cannot stop Tunalo starting at log-in: %1"))
                                         .arg(why));
    };
    const QByteArray path = QFile::encodeName(m_entryPath);
    if (!on) {
        // The entry goes, or the link to it from a folder of dotfiles: the desktop no longer sees it.
        if (::unlink(path.constData()) == 0 || errno == ENOENT)
            return {};
        return refused(writeCause(errno, folder));
    }
    errno = 0;
    if (!QDir().mkpath(folder))
        return refused(writeCause(errno != 0 ? errno : ENOTDIR, folder));
    const QByteArray target = linkedFile(path);
    if (target.isEmpty())
        return refused(QString::fromLocal8Bit(std::strerror(errno)));
    if (writeProtected(target))
        return refused(QStringLiteral("the file %1 is read-only").arg(QFile::decodeName(target)));
    // TryExec has the desktop skip the entry once the program is gone.
    const QString text =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Tunalo\n"
                       "TryExec=%1\n"
                       "Exec=%2 %3\n"
                       "Icon=tunalo\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(escapeValue(m_program), execValue(m_program), QLatin1String(kAutostartArgument));
    if (const int error = replaceFile(target, text.toUtf8()))
        return refused(writeCause(error, QFileInfo(QFile::decodeName(target)).path()));
    return {};
}

} // namespace tunalo
