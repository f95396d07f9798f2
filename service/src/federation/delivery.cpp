#include "federation/delivery.h"

#include "base/links.h"
#include "base/text.h"
#include "federation/activities.h"
#include "federation/outbound.h"
#include "http/requestlog.h"

#include <set>

namespace tunalo::service {

namespace {

std::string describe(const PeerAnswer& answer)
{
    return answer.answered() ? "answered " + std::to_string(answer.status) : answer.error;
}

// Both kinds go to the person's listening service, with their token.
bool toListeningService(JobKind kind)
{
    return kind == JobKind::listen || kind == JobKind::single;
}

const char* kindName(JobKind kind)
{
    switch (kind) {
    case JobKind::create:
        return "the note of post ";
    case JobKind::remove:
        return "the deletion of post ";
    case JobKind::listen:
        return "the listen of post ";
    case JobKind::single:
        return "the counted listen of post ";
    case JobKind::accept:
        return "the accept of a follow, post ";
    case JobKind::reject:
        return "the refusal of a follow, post ";
    case JobKind::status:
        return "the status of post ";
    case JobKind::unstatus:
        return "the deletion of the status of post ";
    }
    return "post ";
}

// What a job to another server carries, as the person's account says it.
activities::Json activityOf(const Job& job, const activities::Addresses& at)
{
    switch (job.kind) {
    case JobKind::create:
        return activities::create({job.postId, job.userName, job.song, job.postedAt, job.audience}, at,
                                  job.audience);
    case JobKind::accept:
    case JobKind::reject: {
        auto follow = activities::Json::parse(job.song, nullptr, false);
        if (!follow.is_object())
            follow = activities::Json::object();
        // A follow kept from before without its whole text: it was of this person.
        if (!follow.contains("object"))
            follow["object"] = at.actor;
        return job.kind == JobKind::accept ? activities::accept(follow, at) : activities::reject(follow, at);
    }
    default:
        return activities::remove(job.postId, at);
    }
}

// Where the pause of a Mastodon job is kept: each account's deletions have a limit of their own
// beside its other requests, so a deletion waiting for its turn holds up no status.
std::string mastodonPauseKey(const Job& job)
{
    return job.target + " " + std::to_string(job.userId) + (job.kind == JobKind::unstatus ? " delete" : "");
}

PeerRequest mastodonRequest(const Job& job)
{
    PeerRequest request;
    const auto api = job.target + "/api/v1/statuses";
    request.headers = {{"Authorization", "Bearer " + job.token}};
    if (job.kind == JobKind::unstatus) {
        request.method = http::verb::delete_;
        request.url = api + "/" + percentEncode(job.statusId);
        return request;
    }
    request.method = http::verb::post;
    request.url = api;
    // The same post is the same key on every try, so a status whose answer was lost is not made twice.
    request.headers.emplace_back("Idempotency-Key", "tunalo-post-" + std::to_string(job.postId));
    request.headers.emplace_back("Content-Type", "application/json");
    // Mastodon takes 500 characters in a status; a longer song is cut rather than refused.
    constexpr std::size_t longestStatus = 500;
    request.body = activities::Json{{"status", cleanText(job.song, longestStatus)}, {"visibility", job.visibility}}.dump();
    return request;
}

// "the note of post 12 to https://example.org/inbox", as the log names a job.
std::string named(const Job& job)
{
    return kindName(job.kind) + std::to_string(job.postId) + " to " + escapeForLog(job.target);
}

} // namespace

Delivery::Delivery(Store& store, std::string site, PeerClient& peers, const Clock& clock)
    : m_store(store), m_site(std::move(site)), m_peers(peers), m_clock(clock), m_thread([this] { run(); })
{
    wake(); // jobs left from before the start go out at once
}

Delivery::~Delivery()
{
    stop();
}

void Delivery::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Delivery::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_all();
}

void Delivery::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, pollEvery, [this] { return m_stopping || m_woken || !m_outcomes.empty(); });
        if (m_stopping)
            break;
        m_woken = false;
        auto outcomes = std::move(m_outcomes);
        m_outcomes.clear();
        lock.unlock();
        m_sending -= outcomes.size();
        // A job whose outcome cannot be written stays leased, and is sent again once its lease ends.
        for (const auto& outcome : outcomes)
            storeStep([&] { settle(outcome); });
        storeStep([&] { renewLeases(); });
        storeStep([&] { claim(); });
        lock.lock();
    }
}

void Delivery::claim()
{
    while (m_sending < inFlight) {
        const auto start = m_clock.seconds();
        const auto until = start + lease.count();
        const auto jobs = m_store.claimJobs(start, until, static_cast<int>(inFlight - m_sending));
        // One request at a time to a person's Mastodon account, so its statuses and their deletions
        // keep their order; a second job of the account claimed together waits for the next claim.
        std::set<std::int64_t> mastodonAccounts;
        for (const auto& job : jobs) {
            if (toMastodon(job.kind) && !mastodonAccounts.insert(job.userId).second)
                m_store.deferJob({job.id, until}, start);
            else
                send(job, until);
        }
        if (jobs.empty())
            return;
    }
}

void Delivery::renewLeases()
{
    const auto now = m_clock.seconds();
    if (now < m_renewAt)
        return;
    for (auto held = m_underWay.begin(); held != m_underWay.end();) {
        if (m_store.renewLease({held->first, held->second.leasedUntil}, now + lease.count())) {
            held->second.leasedUntil = now + lease.count();
            ++held;
            continue;
        }
        // The lease ran out meanwhile (the database or this instance was held up) and another
        // instance has the job now; it sends it, and what comes of this attempt is not written.
        logNote("the lease on " + named(held->second.job) + " has passed to another instance");
        held = m_underWay.erase(held);
    }
    m_renewAt = now + renewEvery.count();
}

// Whether the outcome was written; one that was not belongs to an attempt whose lease passed to
// another instance, which may have sent the job since.
bool Delivery::stillHeld(bool written, const Job& job)
{
    if (!written)
        logNote("the lease on " + named(job) + " ran out under way; what came of this attempt is left to the "
                "instance that has the job now");
    return written;
}

void Delivery::storeStep(const std::function<void()>& step)
{
    try {
        step();
    } catch (const DatabaseError& e) {
        // Down or late: the jobs stay in the store and a later poll tries again.
        logNote(std::string("delivery waits for the database: ") + e.what());
    }
}

void Delivery::settle(const Outcome& outcome)
{
    const auto& job = outcome.job;
    const auto& answer = outcome.answer;
    const auto underWay = m_underWay.find(job.id);
    if (underWay == m_underWay.end() || underWay->second.attempt != outcome.attempt)
        return; // its lease passed to another instance while it was under way
    const JobLease held{job.id, underWay->second.leasedUntil};
    m_underWay.erase(underWay);
    if (toMastodon(job.kind))
        return settleMastodon(job, held, answer);
    if (toListeningService(job.kind)) {
        const auto now = m_clock.seconds();
        m_listenPauses.answered(job.target, answer, now);
        // Too many requests: the listen goes again once the service lets it in.
        if (answer.status == 429) {
            stillHeld(m_store.deferJob(held, m_listenPauses.waitUntil(job.target, now).value_or(now)), job);
            return;
        }
    }
    if (answer.status / 100 == 2) {
        if (stillHeld(m_store.finishJob(held), job) && toListeningService(job.kind))
            m_store.setListenError(job.userId, {});
        return;
    }
    if (toListeningService(job.kind) && (answer.status == 401 || answer.status == 403)) {
        // The token is wrong: the home page says so, and sending it again would not help.
        if (stillHeld(m_store.finishJob(held), job))
            m_store.setListenError(job.userId, std::to_string(answer.status));
        return;
    }
    if (!toListeningService(job.kind) && answer.status == 410) {
        if (!stillHeld(m_store.finishJob(held), job))
            return;
        const auto ended = m_store.removeFollowersAt(job.target);
        logNote("inbox " + escapeForLog(job.target) + " is gone: " + std::to_string(ended) + " followers removed");
        return;
    }
    retryOrDrop(job, held, describe(answer));
}

void Delivery::settleMastodon(const Job& job, const JobLease& held, const PeerAnswer& answer)
{
    const auto now = m_clock.seconds();
    const auto pauseKey = mastodonPauseKey(job);
    m_listenPauses.answered(pauseKey, answer, now);
    if (answer.status == 429) {
        // The deletions wait for their turn rather than fail.
        stillHeld(m_store.deferJob(held, m_listenPauses.waitUntil(pauseKey, now).value_or(now)), job);
        return;
    }
    if (answer.status == 401) {
        // The token was revoked on the server: the home page says so, and the account's jobs wait,
        // untried, until the person connects again or stops.
        if (stillHeld(m_store.deferJob(held, now), job))
            m_store.setMastodonError(job.userId, "401");
        return;
    }
    if (answer.status / 100 == 2 && job.kind == JobKind::status) {
        const auto status = activities::Json::parse(answer.body, nullptr, false);
        const auto id = status.is_object() && status.contains("id") && status["id"].is_string()
                            ? status["id"].get<std::string>()
                            : std::string();
        if (!id.empty())
            m_store.keepStatusId(job.userId, job.postId, id);
        stillHeld(m_store.finishJob(held), job);
        return;
    }
    // A status already gone needs no deletion; a request the server finds wrong would be as wrong again.
    const bool settled = answer.status / 100 == 2 || (answer.status / 100 == 4 && answer.status != 408);
    if (settled) {
        if (!stillHeld(m_store.finishJob(held), job))
            return;
        const bool gone = answer.status / 100 == 2 || answer.status == 404;
        if (job.kind == JobKind::unstatus && gone)
            m_store.forgetStatusId(job.postId);
        else if (!gone)
            logNote("the server refused " + named(job) + ": " + describe(answer));
        return;
    }
    retryOrDrop(job, held, describe(answer));
}

void Delivery::retryOrDrop(const Job& job, const JobLease& held, const std::string& why)
{
    const auto attempt = static_cast<std::size_t>(job.attempts);
    if (attempt >= retryDelays.size()) {
        if (stillHeld(m_store.finishJob(held), job))
            logNote("dropped " + named(job) + " after " + std::to_string(attempt + 1) + " attempts: " + why);
        return;
    }
    if (stillHeld(m_store.retryJob(held, m_clock.seconds() + retryDelays[attempt].count()), job))
        logNote("sending " + named(job) + " failed (" + why + "); next try in " +
                std::to_string(retryDelays[attempt].count()) + " s");
}

const KeyPair& Delivery::keysFor(std::int64_t userId)
{
    auto kept = m_keys.find(userId);
    if (kept == m_keys.end())
        kept = m_keys.emplace(userId, keysOf(m_store, userId)).first;
    return kept->second;
}

void Delivery::send(const Job& job, std::int64_t leasedUntil)
{
    const JobLease held{job.id, leasedUntil};
    if (const auto underWay = m_underWay.find(job.id); underWay != m_underWay.end()) {
        // Its lease ran out while the database could not renew it, and no other instance took
        // it: the attempt still under way here goes on under the new lease.
        underWay->second.leasedUntil = leasedUntil;
        return;
    }
    PeerRequest request;
    if (toMastodon(job.kind)) {
        if (const auto until = m_listenPauses.waitUntil(mastodonPauseKey(job), m_clock.seconds())) {
            m_store.deferJob(held, *until);
            return;
        }
        if (job.kind == JobKind::unstatus && job.statusId.empty()) {
            // Its status was never made: there is nothing to delete.
            m_store.finishJob(held);
            return;
        }
        request = mastodonRequest(job);
    } else if (toListeningService(job.kind)) {
        if (const auto until = m_listenPauses.waitUntil(job.target, m_clock.seconds())) {
            m_store.deferJob(held, *until);
            return;
        }
        const auto listen = job.kind == JobKind::single
                                ? activities::singleListen(job.song, job.postedAt, job.lengthMs, job.mediaPlayer)
                                : activities::playingNow(job.song);
        if (!listen) {
            // Such a service wants an artist and a title; the song has no " - " between them.
            m_store.finishJob(held);
            return;
        }
        request.method = http::verb::post;
        request.url = job.target + (job.target.ends_with('/') ? "" : "/") + "1/submit-listens";
        request.headers = {{"Content-Type", "application/json"}, {"Authorization", "Token " + job.token}};
        request.body = listen->dump();
    } else {
        if (m_site.empty()) {
            // This instance has no public address to sign for: the job stays leased, and an
            // instance that federates takes it once the lease has run out.
            return;
        }
        const auto at = activities::Addresses::of(m_site, job.userName);
        request = signedPost(job.target, activityOf(job, at), at.key, keysFor(job.userId).privatePem, m_clock);
    }
    ++m_sending;
    const auto attempt = ++m_attempts;
    m_underWay[job.id] = {attempt, leasedUntil, job};
    m_peers.send(std::move(request), [this, job, attempt](PeerAnswer answer) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_outcomes.push_back({job, attempt, std::move(answer)});
        }
        m_wake.notify_all();
    });
}

} // namespace tunalo::service
