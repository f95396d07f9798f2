#pragma once

#include <QString>

namespace tunalo {

// The text's first limit characters (the whole text when it is shorter), never cut between the
// halves of a surrogate pair.
QString cutToCharacters(const QString& text, qsizetype limit);

// Cuts a title to at most nMaxCount - 1 characters, never between the halves of a surrogate pair:
// the room a title has in the window list's answers.
QString cutTitle(const QString& title, int nMaxCount);

} // namespace tunalo
