#pragma once

#include "store/store.h"

#include <string>
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
    if (code == "status")
        return JobKind::status;
    if (code == "unstatus")
        return JobKind::unstatus;
    return code == "listen" ? JobKind::listen : JobKind::create;
}

// Row reads its columns as integer(column) and text(column), counting from 0.

// Columns: id, kind, user id, user name, post id, song, posted at, audience, target, token,
// attempts, length, media player, visibility, status id.
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
            row.text(12),
            row.text(13),
            row.text(14)};
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

// Columns: server, handle, token, error, words, visibility.
template <class Row>
MastodonAccount mastodonAccountFromRow(const Row& row)
{
    return {row.text(0), row.text(1), row.text(2), row.text(3), row.text(4), row.text(5)};
}

// How the jobs' claim reads a job, from jobs joined with users, on both stores: the token the job
// is sent with and, for an unstatus, the status it deletes.
inline constexpr const char* jobColumns =
    "jobs.id, jobs.kind, jobs.user_id, users.name, jobs.post_id, jobs.song, jobs.posted_at, jobs.audience, "
    "jobs.target, CASE WHEN jobs.kind IN ('listen', 'single') THEN users.listen_token "
    "WHEN jobs.kind IN ('status', 'unstatus') THEN users.mastodon_token ELSE '' END, jobs.attempts, "
    "jobs.length_ms, jobs.media_player, jobs.visibility, COALESCE((SELECT status_id FROM mastodon_statuses "
    "WHERE mastodon_statuses.post_id = jobs.post_id AND jobs.kind = 'unstatus'), '')";

// Which jobs wait although due, on both stores, `now` being how the statement names the time: a
// deletion of a note waits for that note at its inbox. The jobs of one Mastodon account go one at a
// time, and none while its token is refused; its statuses go in order, and a status's deletion
// after the status, while a deletion that waits for the server's limit holds up no status.
inline std::string jobsThatWait(std::string_view now)
{
    return "(jobs.kind = 'remove' AND EXISTS (SELECT 1 FROM jobs AS note WHERE note.kind = 'create' AND "
           "note.post_id = jobs.post_id AND note.target = jobs.target)) OR "
           "(jobs.kind IN ('status', 'unstatus') AND (EXISTS (SELECT 1 FROM users AS owner WHERE "
           "owner.id = jobs.user_id AND owner.mastodon_error <> '') OR EXISTS (SELECT 1 FROM jobs AS other "
           "WHERE other.user_id = jobs.user_id AND other.id <> jobs.id AND other.kind IN ('status', 'unstatus') "
           "AND (other.leased_until >= " + std::string(now) + " OR (other.kind = 'status' AND "
           "(other.post_id = jobs.post_id OR (jobs.kind = 'status' AND other.id < jobs.id)))))))";
}

} // namespace tunalo::service
