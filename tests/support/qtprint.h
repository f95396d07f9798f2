#pragma once

#include <QString>
#include <QStringList>

#include <ostream>

// Readable Qt texts in test failure messages.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QStringList& texts, std::ostream* out);
