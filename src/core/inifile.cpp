#include "core/inifile.h"

#include <QStringDecoder>

namespace tunalo::ini {

namespace {

bool isComment(const QString& trimmed)
{
    return trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#'));
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

std::optional<QString> sectionName(const QString& trimmed)
{
    if (trimmed.size() >= 2 && trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']')))
        return trimmed.mid(1, trimmed.size() - 2).trimmed();
    return std::nullopt;
}

// A quoted value: the text between the quotes with \\, \", \n, \r and \t undone; nothing may
// follow the closing quote but blanks.
std::optional<QString> unquote(const QString& raw)
{
    QString text;
    for (qsizetype i = 1; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char('"'))
            return raw.mid(i + 1).trimmed().isEmpty() ? std::optional<QString>(text) : std::nullopt;
        if (c != QLatin1Char('\\')) {
            text += c;
            continue;
        }
        if (++i == raw.size())
            return std::nullopt;
        switch (raw.at(i).unicode()) {
        case 'n':
            text += QLatin1Char('\n');
            break;
        case 'r':
            text += QLatin1Char('\r');
            break;
        case 't':
            text += QLatin1Char('\t');
            break;
        default:
            text += raw.at(i);
            break;
        }
    }
    return std::nullopt; // no closing quote
}

QString quote(const QString& text)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            quoted += QStringLiteral("\\\\");
            break;
        case '"':
            quoted += QStringLiteral("\\\"");
            break;
        case '\n':
            quoted += QStringLiteral("\\n");
            break;
        case '\r':
            quoted += QStringLiteral("\\r");
            break;
        case '\t':
            quoted += QStringLiteral("\\t");
            break;
        default:
            quoted += c;
            break;
        }
    }
    return quoted + QLatin1Char('"');
}

struct Entry {
    QString key;
    QString value;
};

// A key=value line; empty when the line is not one.
std::optional<Entry> entry(const QString& line)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return std::nullopt;
    const QString key = line.left(equals).trimmed();
    const QString raw = line.mid(equals + 1).trimmed();
    if (key.isEmpty())
        return std::nullopt;
    if (!raw.startsWith(QLatin1Char('"')))
        return Entry{key, raw};
    if (auto text = unquote(raw))
        return Entry{key, *text};
    return std::nullopt;
}

} // namespace

std::optional<Document> parse(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.contains(QChar(0)))
        return std::nullopt;
    text.remove(QLatin1Char('\r'));
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1);
    Document document;
    document.lines = text.split(QLatin1Char('\n'));
    if (!document.lines.isEmpty() && document.lines.last().isEmpty())
        document.lines.removeLast();
    for (const QString& line : document.lines) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !isComment(trimmed) && !sectionName(trimmed) && !entry(line))
            return std::nullopt;
    }
    return document;
}

SettingsSection section(const Document& document, const QString& section)
{
    SettingsSection values;
    bool inSection = false;
    for (const QString& line : document.lines) {
        const QString trimmed = line.trimmed();
        if (const auto name = sectionName(trimmed)) {
            inSection = sameName(*name, section);
        } else if (inSection && !isComment(trimmed)) {
            if (const auto found = entry(line))
                values.insert(found->key, found->value);
        }
    }
    return values;
}

void setValue(Document& document, const QString& section, const QString& key, const QString& text)
{
    bool inSection = false;
    qsizetype sectionEnd = -1; // where a new key of the section goes
    for (qsizetype i = 0; i < document.lines.size(); ++i) {
        const QString trimmed = document.lines.at(i).trimmed();
        if (const auto name = sectionName(trimmed)) {
            inSection = sameName(*name, section);
            if (inSection)
                sectionEnd = i + 1;
        } else if (inSection && !isComment(trimmed)) {
            if (const auto found = entry(document.lines.at(i)); found && sameName(found->key, key)) {
                // The key keeps the spelling its writer gave it.
                document.lines[i] = found->key + QLatin1Char('=') + quote(text);
                return;
            }
            if (!trimmed.isEmpty())
                sectionEnd = i + 1;
        }
    }
    if (sectionEnd < 0) {
        if (!document.lines.isEmpty() && !document.lines.last().trimmed().isEmpty())
            document.lines.append(QString());
        document.lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        sectionEnd = document.lines.size();
    }
    document.lines.insert(sectionEnd, key + QLatin1Char('=') + quote(text));
}

QByteArray serialize(const Document& document)
{
    QByteArray bytes;
    for (const QString& line : document.lines)
        bytes += line.toUtf8() + '\n';
    return bytes;
}

} // namespace tunalo::ini
