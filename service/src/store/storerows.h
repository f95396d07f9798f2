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
    if (code == "single")
        return JobKind::single;
    if (code == "accept")
        return JobKind::accept;
    if (code == "reject")
        return JobKind::reject;
    return code == "listen" ? JobKind::listen : JobKind::create;
}

// Row reads its columns as integer(column) and text(column), counting from 0.

// Columns: id, kind, user id, user name, post id, song, posted at, audience, target, listen token,
// attempts, length, media player.
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
            static_cast<int>(row.integer(10)),
            row.integer(11),
            row.text(12)};
}

// Columns: id, user name, song, posted at, deleted (0 or 1), audience.
template <class Row>
PostRecord postRecordFromRow(const Row& row)
{
    return {row.integer(0), row.text(1), row.text(2), row.integer(3), row.integer(4) != 0,
            audienceFromCode(row.text(5))};
}

// Columns: id, user name, song, posted at, audience.
template <class Row>
Post postFromRow(const Row& row)
{
    return {row.integer(0), row.text(1), row.text(2), row.integer(3), audienceFromCode(row.text(4))};
}

// Columns: actor, inbox, shared inbox, follow, approved (0 or 1).
template <class Row>
Follower followerFromRow(const Row& row)
{
    return {row.text(0), row.text(1), row.text(2), row.text(3), row.integer(4) != 0};
}

// Columns: display name, summary, discoverable, indexable (0 or 1), created at.
template <class Row>
Profile profileFromRow(const Row& row)
{
    return {row.text(0), row.text(1), row.integer(2) != 0, row.integer(3) != 0, row.integer(4)};
}

} // namespace tunalo::service
