#pragma once

#include "base/clock.h"
#include "federation/listenpauses.h"
#include "federation/peerclient.h"
#include "store/store.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace tunalo::service {

// Sends the jobs that posts leave in the store: each post's note to its author's followers (or its
// deletion), and each song to the person's listening service. The jobs are in the store from the
// post's own commit on, so a service that stops, or is killed, sends them after its next start,
// and several instances on one database share them without sending one twice. One thread of its
// own does the store's part; the peer client does the sending, a bounded number at once, so a slow
// server holds up only its own jobs.
class Delivery {
public:
    // Delays before the attempts after a failed one; once they are used up (well over a day) the
    // job is dropped and the log says so.
    static constexpr std::array<std::chrono::seconds, 10> retryDelays{
        std::chrono::seconds{30}, std::chrono::minutes{2}, std::chrono::minutes{10}, std::chrono::minutes{30},
        std::chrono::hours{1},    std::chrono::hours{2},   std::chrono::hours{4},    std::chrono::hours{6},
        std::chrono::hours{8},    std::chrono::hours{8}};
    static constexpr std::size_t inFlight = 64;
    // A job's lease covers a few of the peer client's answer limits and is renewed while the job
    // is still under way (it may wait its turn behind other requests to the same server), so a job
    // that an instance left under way when it was killed goes out within a minute of the kill.
    static constexpr std::chrono::seconds lease =
        3 * std::chrono::duration_cast<std::chrono::seconds>(PeerClient::Limits{}.answerTime);
    static constexpr std::chrono::seconds renewEvery = lease / 3;
    // How often the store is asked for jobs when no post has come in meanwhile (jobs of other
    // instances, retries that came due).
    static constexpr std::chrono::seconds pollEvery{5};

    // site: the public address the activities name; empty when the service does not federate
    // (then only listening jobs are queued).
    Delivery(Store& store, std::string site, PeerClient& peers, const Clock& clock);
    // Ends the thread: what is still under way stays leased and is taken up again once its lease
    // has run out.
    // Call it before the peer client goes; the peer client's answers after it change nothing.
    void stop();
    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    // A post has queued jobs: look now rather than at the next poll.
    void wake();

private:
    struct Outcome {
        Job job;
        std::uint64_t attempt = 0;
        PeerAnswer answer;
    };
    // A job whose request is with the peer client, under the lease this instance holds.
    struct UnderWay {
        std::uint64_t attempt = 0;
        std::int64_t leasedUntil = 0;
        Job job;
    };
    void run();
    void storeStep(const std::function<void()>& step);
    void settle(const Outcome& outcome);
    void settleMastodon(const Job& job, const JobLease& held, const PeerAnswer& answer);
    void retryOrDrop(const Job& job, const JobLease& held, const std::string& why);
    bool stillHeld(bool written, const Job& job);
    void renewLeases();
    void claim();
    void send(const Job& job, std::int64_t leasedUntil);
    const KeyPair& keysFor(std::int64_t userId);

    Store& m_store;
    const std::string m_site;
    PeerClient& m_peers;
    const Clock& m_clock;
    std::map<std::int64_t, KeyPair> m_keys; // by user; the delivery thread's own
    // Listening services by address, Mastodon accounts by server, person and kind; the delivery
    // thread's own.
    ListenPauses m_listenPauses;
    std::size_t m_sending = 0;              // the delivery thread's own
    // By job id; the delivery thread's own. An attempt whose lease passed to another instance is
    // no longer here, and its outcome changes nothing.
    std::map<std::int64_t, UnderWay> m_underWay;
    std::uint64_t m_attempts = 0; // the delivery thread's own
    std::int64_t m_renewAt = 0;   // the delivery thread's own
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_woken = false;
    bool m_stopping = false;
    std::deque<Outcome> m_outcomes;
    std::thread m_thread; // last: it uses everything above
};

} // namespace tunalo::service
