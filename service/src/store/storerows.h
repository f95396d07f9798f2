#pragma once

#include "store/store.h"

#include <string_view>

namespace tunalo::service {

// What both stores write in their rows and read back from them.

// A word the program does not know (a newer service wrote it) reads as nobody: nothing goes
// further than its owner meant.
inline Audience audienceFromCode(std::string_view code)
{
    return audienceOfWord(code).value_or(Audience::nobody);
}

inline JobKind jobKindFromCode(std::string_view code)
{
    if (code == "remove")
        return JobKind::remove;
    return code == "listen" ? JobKind::listen : JobKind::create;
}

// Row reads its columns as integer(column) and text(column), counting from 0.

// Columns: id, kind, user id, user name, post id, song, posted at, audience, target, listen token,
// attempts.
template <class Row>
Job jobFromRow(const Row& row)
{
    return {row.integer(0),
            jobKindFromCode(row.text(1)),
            row.integer(2),
            row.text(3),
            row.integer(4),
            row.text(5),
            row.integer(6),
            audienceFromCode(row.text(7)),
            row.text(8),
            row.text(9),
            static_cast<int>(row.integer(10))};
}

// Columns: id, user name, song, posted at, deleted (0 or 1).
template <class Row>
PostRecord postRecordFromRow(const Row& row)
{
    return {row.integer(0), row.text(1), row.text(2), row.integer(3), row.integer(4) != 0};
}

} // namespace tunalo::service
