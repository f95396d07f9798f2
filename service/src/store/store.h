#pragma once

#include "store/keypair.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tunalo::service {

struct DatabaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The database cannot be reached, or did not answer within its time: down or late, not wrong.
struct DatabaseUnavailable : DatabaseError {
    using DatabaseError::DatabaseError;
};

using TokenHash = std::array<unsigned char, 32>;

struct User {
    std::int64_t id = 0;
    std::string name;
};

struct Account {
    User user;
    std::string passwordHash;
};

// The name key of the service's own row among the accounts, which holds the key pair the service
// signs with as itself. Folded names have no capitals, so no name a person gives leads to it: no
// one signs up over it, logs in to it or opens it as a page. Counts leave it out.
inline constexpr std::string_view instanceNameKey = "#Instance";

// Who sees a person's songs on the fediverse: nobody, their followers, or everyone (public).
enum class Audience { nobody, followers, everyone };

// An audience's word, as the tables and the home page's form spell it, and back; empty for a
// word that names none.
inline std::string_view audienceWord(Audience audience)
{
    switch (audience) {
    case Audience::nobody:
        return "nobody";
    case Audience::everyone:
        return "public";
    case Audience::followers:
        break;
    }
    return "followers";
}

inline std::optional<Audience> audienceOfWord(std::string_view word)
{
    for (const auto audience : {Audience::nobody, Audience::followers, Audience::everyone})
        if (audienceWord(audience) == word)
            return audience;
    return std::nullopt;
}

// A fediverse account following a person, or asking to: its actor id, where deliveries for it go,
// and its Follow activity (JSON), which the Accept or Reject of it names.
struct Follower {
    std::string actor;
    std::string inbox;
    std::string sharedInbox; // empty when its server has none
    std::string follow;
    bool approved = false;   // false: a request the person has not answered yet
};

// How a person shows on the fediverse beside their name, as they wrote it on their home page.
struct Profile {
    std::string displayName; // empty: the account's name
    std::string summary;     // plain text; empty: the service's own words
    bool discoverable = false; // may be suggested to others and listed in directories
    bool indexable = false;    // may be found by full-text search
    std::int64_t createdAt = 0;
};

// What a person chose for their songs beyond the service's own pages.
struct Destinations {
    Audience audience = Audience::followers;
    std::string listenUrl;   // a ListenBrainz-compatible service; empty: none
    std::string listenToken; // never shown back in full, never logged
    std::string listenError; // what that service said last time when it refused, such as "401"
};

// The service as an application on one Mastodon-compatible server, registered there once.
struct MastodonApp {
    std::string server; // https://HOST[:PORT], as the person's address named it
    std::string clientId;
    std::string clientSecret;
    std::string scopes; // as registered; the person's approval asks for the same
    std::string redirect; // the service's callback address it was registered with
};

// A person's sign-in at their server that has not come back yet: the state that names it and the
// PKCE verifier whose challenge the server holds.
struct MastodonSignIn {
    std::string server;
    std::string state;
    std::string verifier;
};

// The person's own account on a Mastodon-compatible server, where their songs go as statuses.
struct MastodonAccount {
    std::string server;     // empty: none connected
    std::string handle;     // @user@host, as the server named the account
    std::string token;      // never shown, never logged, sent only to server
    std::string error;      // what the server said when it refused the token, such as "401"
    std::string words;      // the status's text, SONG standing for the song
    std::string visibility; // for the songs posted for everyone: public, unlisted or private
};

// How long a sign-in at a Mastodon server may take before its state no longer counts.
inline constexpr std::int64_t signInSeconds = 24 * 3600;

inline constexpr std::string_view defaultStatusWords = "listening to SONG";
inline constexpr std::string_view defaultVisibility = "unlisted";

// Work to send out after a post: one per follower inbox (shared inboxes once), and one for the
// listening service.
// single: a listen that counts, once the song was heard long enough.
// accept, reject: the answer to a follow, sent to the follower's own inbox.
// status, unstatus: the song as a status on the person's own Mastodon account, and its deletion.
enum class JobKind { create, remove, listen, single, accept, reject, status, unstatus };
struct Job {
    std::int64_t id = 0;
    JobKind kind = JobKind::create;
    std::int64_t userId = 0;
    std::string userName;
    std::int64_t postId = 0;
    std::string song;            // create and listen; accept and reject: the Follow they answer (JSON)
    std::int64_t postedAt = 0;   // create and listen
    Audience audience = Audience::followers; // create: as chosen when posted
    std::string target;          // the inbox, or the listening service's address
    std::string token;           // listen, single, status, unstatus: the person's token as it stands now
    int attempts = 0;            // failed sends so far
    std::int64_t lengthMs = 0;   // single: the song's length as the program said it; 0 unknown
    std::string mediaPlayer;     // single: the player it came from, as the program named it
    std::string visibility;      // status: as the person chose it when the song was posted
    std::string statusId;        // unstatus: the status to delete; empty when none was made
};

// Whether a job goes to the person's own Mastodon account.
inline bool toMastodon(JobKind kind)
{
    return kind == JobKind::status || kind == JobKind::unstatus;
}

// A job as one instance holds it: the job and the end of the lease it was given. The end tells
// one holder from the next, as a claim takes only a lease that has run out and ends the new one
// later still.
struct JobLease {
    std::int64_t jobId = 0;
    std::int64_t until = 0;
};

// A post looked up by its id; deleted posts are remembered by id and owner.
struct PostRecord {
    std::int64_t id = 0;
    std::string user;
    std::string song;
    std::int64_t postedAt = 0;
    bool deleted = false;
    Audience audience = Audience::nobody; // as chosen when it was posted
};

struct Counts {
    std::int64_t users = 0;
    std::int64_t posts = 0;
};

struct Post {
    std::int64_t id = 0;
    std::string user;
    std::string song;
    std::int64_t postedAt = 0; // seconds since the epoch
    Audience audience = Audience::everyone; // as chosen when it was posted; it stays with the post
};

// Users, sessions, posts and the counters that limit sign-ups and password guessing, kept where
// every instance of the service finds them. Safe to use from any thread; every write is a
// transaction of its own. Failures throw DatabaseError.
//
// A name is looked up by its key, the form names are compared in; the caller computes it
// (nameKey() in text.h) and the store keeps it unique.
class Store {
public:
    virtual ~Store() = default;

    // Empty when another account has the same name key.
    virtual std::optional<User> createUser(const std::string& name, const std::string& nameKey,
                                           const std::string& passwordHash, std::int64_t now) = 0;
    virtual std::optional<Account> findAccount(const std::string& nameKey) = 0;

    // Counts a sign-up from a client address unless the address has had `limit` since `since`;
    // false when it has.
    virtual bool takeSignUpSlot(const std::string& address, std::int64_t now, std::int64_t since,
                                int limit) = 0;
    // Wrong passwords given for a name, the last one at or after `since`; older runs are forgotten.
    virtual int loginFailures(const std::string& nameKey, std::int64_t since) = 0;
    // One more wrong password for the name; returns the count that now stands.
    virtual int recordLoginFailure(const std::string& nameKey, std::int64_t now, std::int64_t since) = 0;
    virtual void clearLoginFailures(const std::string& nameKey) = 0;

    virtual void addSession(const TokenHash& token, std::int64_t userId, std::int64_t now,
                            std::int64_t expiresAt) = 0;
    virtual std::optional<User> sessionUser(const TokenHash& token, std::int64_t now) = 0;
    virtual void removeSession(const TokenHash& token) = 0;

    // Stores a post and, in the same transaction, removes the user's own post deleteId if given.
    // With a key, a post of the user's under the same key is not made again: its id is the answer,
    // and nothing is stored or removed, also when that post has been deleted since.
    // With federate, the same transaction queues the post's jobs: a create for each inbox of the
    // user's followers (unless their audience is nobody) and, for a deleted post, a remove for each
    // inbox (a create of that post still waiting is dropped); without it, none of those. A listen
    // job is queued whenever the user has a listening service with a token. With a Mastodon
    // account that works, a status (unless the audience is nobody); the deleted post's status
    // still waiting and never tried is dropped, one made or under way gets its unstatus.
    virtual std::int64_t addPost(std::int64_t userId, const std::string& song,
                                 std::optional<std::int64_t> deleteId, std::int64_t now,
                                 const std::optional<std::string>& key, bool federate = false) = 0;
    // Keeps, with the post made under key, its song, length (0: unknown) and player, so that a
    // later word of how long it was heard can make a listen of it, even once the post is gone.
    virtual void keepForListen(std::int64_t userId, const std::string& key, const std::string& song,
                               std::int64_t lengthMs, const std::string& player) = 0;
    // The song of the post made under key was heard for heardMs: when that counts as a listen and
    // the user has a listening service, queues a single listen for it, at most once per post. True
    // when it was queued now.
    virtual bool queueListen(std::int64_t userId, const std::string& key, std::int64_t heardMs, std::int64_t now) = 0;
    // Newest first; only one user's posts when userId is given; with publicOnly, only posts made
    // for everyone.
    virtual std::vector<Post> recentPosts(int limit, std::optional<std::int64_t> userId = std::nullopt,
                                          bool publicOnly = false) = 0;

    virtual std::optional<PostRecord> findPost(std::int64_t postId) = 0;
    virtual Counts counts() = 0;

    // The person's key pair; keepKeys stores the given pair unless they have one already, and
    // gives the pair that stands (two instances making one at once agree on the first).
    virtual std::optional<KeyPair> keys(std::int64_t userId) = 0;
    virtual KeyPair keepKeys(std::int64_t userId, const KeyPair& fresh) = 0;

    virtual Destinations destinations(std::int64_t userId) = 0;
    virtual void setAudience(std::int64_t userId, Audience audience) = 0;
    // An empty token leaves the token as it is; the error is cleared.
    virtual void setListenService(std::int64_t userId, const std::string& url, const std::string& token) = 0;
    virtual void setListenError(std::int64_t userId, const std::string& error) = 0;

    // The service's registration on a server for its callback address, if it has one (a service
    // given another public address registers anew); keepMastodonApp keeps the given one unless
    // another instance kept one first, and gives the one that stands.
    virtual std::optional<MastodonApp> mastodonApp(const std::string& server, const std::string& redirect) = 0;
    virtual MastodonApp keepMastodonApp(const MastodonApp& app) = 0;
    // A sign-in the person started; takeMastodonSignIn gives it once, for the person who started it
    // and only within a day, and forgets it.
    virtual void startMastodonSignIn(std::int64_t userId, const MastodonSignIn& signIn, std::int64_t now) = 0;
    virtual std::optional<MastodonSignIn> takeMastodonSignIn(std::int64_t userId, const std::string& state,
                                                             std::int64_t now) = 0;
    virtual MastodonAccount mastodonAccount(std::int64_t userId) = 0;
    // The account the server confirmed; its error is cleared, so the statuses waiting go again.
    virtual void connectMastodon(std::int64_t userId, const std::string& server, const std::string& handle,
                                 const std::string& token) = 0;
    // Forgets the account and drops its jobs; gives what it was, for the token's revocation.
    virtual MastodonAccount disconnectMastodon(std::int64_t userId) = 0;
    // While an error stands, no status of the person goes out.
    virtual void setMastodonError(std::int64_t userId, const std::string& error) = 0;
    // Empty words or visibility leave those as they are.
    virtual void setMastodonStyle(std::int64_t userId, const std::string& words, const std::string& visibility) = 0;
    // The status the post became; its unstatus finds it here, and forgets it once it is gone.
    virtual void keepStatusId(std::int64_t userId, std::int64_t postId, const std::string& statusId) = 0;
    virtual void forgetStatusId(std::int64_t postId) = 0;

    // Adds the follower, approved or as a request, or renews its inboxes and follow when it follows
    // or asks already (a follower once approved stays so). Gives whether it stands approved; when
    // it does, the same transaction queues the Accept of its follow.
    virtual bool addFollower(std::int64_t userId, const Follower& follower, std::int64_t now) = 0;
    // Approves a waiting request and queues its Accept; false when there was none.
    virtual bool approveFollower(std::int64_t userId, const std::string& actor, std::int64_t now) = 0;
    // Ends a follow or a request on the person's word and queues the Reject of its follow; false
    // when the actor neither followed nor asked.
    virtual bool refuseFollower(std::int64_t userId, const std::string& actor, std::int64_t now) = 0;
    // Followers (approved) or requests (not), the newest first.
    virtual std::vector<Follower> followers(std::int64_t userId, bool approved, int limit) = 0;
    // Whether an approved follower of the person has its account on the site (scheme://host[:port]).
    virtual bool hasFollowerOn(std::int64_t userId, const std::string& site) = 0;
    // The follower's Undo: whether it was following or asking.
    virtual bool removeFollower(std::int64_t userId, const std::string& actor) = 0;
    // The actor is gone: it follows nobody here any more. Gives how many follows ended.
    virtual int removeActor(const std::string& actor) = 0;
    // An inbox answered that it is gone: every follower delivered there ends.
    virtual int removeFollowersAt(const std::string& inbox) = 0;
    // Approved followers only.
    virtual std::int64_t followerCount(std::int64_t userId) = 0;

    virtual Profile profile(std::int64_t userId) = 0;
    // Keeps all but createdAt.
    virtual void setProfile(std::int64_t userId, const Profile& profile) = 0;

    // Leases up to limit jobs that are due, leased to nobody else, until leaseUntil; two instances
    // never lease one job at once (the lease ends on finish, retry or time).
    virtual std::vector<Job> claimJobs(std::int64_t now, std::int64_t leaseUntil, int limit) = 0;
    // The writes below change the job only while its lease is still the one held, and say whether
    // it was: once the lease has run out and another instance has taken the job, what this one
    // learnt of its attempt changes nothing (the other may have sent it since).
    virtual bool renewLease(const JobLease& held, std::int64_t until) = 0;
    virtual bool finishJob(const JobLease& held) = 0;
    // Counts a failed send and makes the job due again at dueAt.
    virtual bool retryJob(const JobLease& held, std::int64_t dueAt) = 0;
    // Makes the job due again at dueAt without counting a try: the destination asked to wait.
    virtual bool deferJob(const JobLease& held, std::int64_t dueAt) = 0;
    virtual std::int64_t pendingJobs() = 0;

    // Asks the database whether it takes writes again; throws DatabaseUnavailable while it does not.
    virtual void ping() = 0;

    // From now on every wait for the database gives up at once (DatabaseUnavailable): the service
    // is stopping and waits for no database.
    virtual void abandonWaits() {}
};

// True for a PostgreSQL connection address (postgresql:// or postgres://).
bool isPostgresAddress(const std::string& address);

// A PostgreSQL store for a connection address, otherwise a SQLite store in that file; the schema
// is created or brought up to date on the way.
std::unique_ptr<Store> openStore(const std::string& address);

// Refuses a database that a newer service has written, naming both versions.
[[noreturn]] void refuseNewerSchema(std::int64_t found, int known);

} // namespace tunalo::service
