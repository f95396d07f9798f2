#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tunalo::ini {

// The lines of an INI file, kept as they stand so that a change touches only its own line.
struct Document {
    QStringList lines;
};

// Parses UTF-8 INI text; empty when it is not valid UTF-8 or holds a line that is neither blank,
// a comment, a [section] nor a key=value pair (with a well-formed quoted value).
std::optional<Document> parse(const QByteArray& bytes);

// The value of key in section, if there is one.
std::optional<QString> value(const Document& document, const QString& section, const QString& key);

// Sets key in section, adding the key or the section where they are missing.
void setValue(Document& document, const QString& section, const QString& key, const QString& text);

QByteArray serialize(const Document& document);

} // namespace tunalo::ini
