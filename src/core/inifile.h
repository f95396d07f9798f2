#pragma once

#include "platform/settingsstore.h"

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

// Section and key names match without regard to letter case ("[Options]", "AutoPublish").

// Every value of the section; the first of two same-named keys counts, in a section that appears
// twice too.
SettingsSection section(const Document& document, const QString& section);

// Sets the first key of that name in section, adding the key or the section where they are missing.
void setValue(Document& document, const QString& section, const QString& key, const QString& text);

QByteArray serialize(const Document& document);

} // namespace tunalo::ini
