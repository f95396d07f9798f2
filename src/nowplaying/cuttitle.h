#pragma once

#include <QString>

namespace tunalo {

// Cuts a title to at most nMaxCount - 1 characters, never between the halves of a surrogate pair:
// the room a title has in the window list's answers.
QString cutTitle(const QString& title, int nMaxCount);

} // namespace tunalo
