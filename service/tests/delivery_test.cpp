// The delivery on a clock the test moves: when a job that failed is tried again and when it is
// given up, how long a job under way stays leased, and when a job that a stopped instance left
// under way is taken up by another. The listening service of one person, played by the test's
// server, is its destination.
#include "base/text.h"
#include "elsewhere.h"
#include "federation/delivery.h"
#include "http/requestlog.h"
#include "manualclock.h"
#include "servicefixture.h"

using namespace tunalo::service;
using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

class Delivering : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        if (IsSkipped())
            return;
        service().stop(SIGTERM); // the test's deliveries alone take the jobs
        startLog(log().string());
        prepareText();
        m_store = openStore(database());
        const auto user = m_store->createUser("ann", nameKey("ann"), "-", m_clock.seconds());
        ASSERT_TRUE(user);
        m_user = user->id;
        m_store->setListenService(m_user, m_listening.origin(), "token-1234-abcd");
    }

    void TearDown() override
    {
        // Before the peer client goes, as the service does.
        for (auto* delivery : {&m_first, &m_second})
            if (*delivery)
                (*delivery)->stop();
        stopLog();
        ServiceTest::TearDown();
    }

    std::filesystem::path log() const { return folder() / "delivery.log"; }

    // A song whose listen job is due at once.
    void post(const std::string& song) { m_store->addPost(m_user, song, std::nullopt, m_clock.seconds(), std::nullopt); }

    std::unique_ptr<Delivery> start() { return std::make_unique<Delivery>(*m_store, "", m_peers, m_clock); }

    // The first column of the statement's first row once it has one (the delivery writes on a
    // thread of its own), or empty after ten seconds.
    std::string onceThere(const std::string& statement)
    {
        const auto until = std::chrono::steady_clock::now() + 10s;
        for (;;) {
            const auto rows = sql(statement);
            if (!rows.empty() || std::chrono::steady_clock::now() > until)
                return rows.empty() ? std::string{} : rows.front();
            std::this_thread::sleep_for(10ms);
        }
    }

    // The one listen sent so far goes again once wait has passed and not a second sooner, the same
    // as before, and then no job is left; gives what arrived.
    std::vector<Elsewhere::Arrival> sentAgainAfter(Delivery& delivery, std::chrono::seconds wait, const char* early)
    {
        m_clock.advance(wait - 1s);
        delivery.wake();
        EXPECT_EQ(m_listening.arrivals(2, 300ms).size(), 1u) << early;
        m_clock.advance(1s);
        delivery.wake();
        const auto arrived = m_listening.arrivals(2);
        EXPECT_EQ(arrived.size(), 2u);
        if (arrived.size() == 2) {
            EXPECT_EQ(arrived[1].activity, arrived[0].activity) << "the same listen, sent again";
        }
        EXPECT_EQ(onceThere("SELECT 'none' WHERE NOT EXISTS (SELECT 1 FROM jobs)"), "none");
        return arrived;
    }

    ManualClock m_clock;
    Elsewhere m_listening;
    std::unique_ptr<Store> m_store;
    std::int64_t m_user = 0;
    std::unique_ptr<Delivery> m_first;
    std::unique_ptr<Delivery> m_second;
    // Last, so that it goes first: its answers after a delivery stopped change nothing.
    PeerClient m_peers{PeerClient::Limits{}, true};
};

// Each failed attempt makes the job due again after the next delay of the schedule, not a second
// sooner; after the last one (well over a day in all) it is given up.
TEST_F(Delivering, AFailedJobIsTriedAgainOnTheScheduleAndThenGivenUp)
{
    const std::vector<std::chrono::seconds> schedule = {30s, 2min, 10min, 30min, 1h, 2h, 4h, 6h, 8h, 8h};
    m_listening.answer(Elsewhere::Inbox::fail);
    post("Nina Simone - Feeling Good");
    m_first = start();
    for (std::size_t attempt = 1; attempt <= schedule.size(); ++attempt) {
        ASSERT_EQ(m_listening.arrivals(attempt).size(), attempt);
        const auto dueAt = onceThere("SELECT due_at FROM jobs WHERE attempts = " + std::to_string(attempt));
        ASSERT_EQ(dueAt, std::to_string(m_clock.seconds() + schedule[attempt - 1].count())) << "after attempt " << attempt;
        m_clock.advance(schedule[attempt - 1] - 1s);
        m_first->wake();
        EXPECT_EQ(m_listening.arrivals(attempt + 1, 100ms).size(), attempt) << "a second early, after attempt " << attempt;
        m_clock.advance(1s);
        m_first->wake();
    }
    ASSERT_EQ(m_listening.arrivals(schedule.size() + 1).size(), schedule.size() + 1);
    EXPECT_EQ(onceThere("SELECT 'none' WHERE NOT EXISTS (SELECT 1 FROM jobs)"), "none") << "given up";
}

// A listening service that has had enough answers 429 and says when to come back: the listen goes
// again then and not sooner, and the refusal counts as no failed try. Every request names the program.
TEST_F(Delivering, AListenRefusedAsTooManyGoesAgainWhenTheServiceSaysAndCountsNoTry)
{
    m_listening.answer(Elsewhere::Inbox::busyOnce);
    post("Nina Simone - Feeling Good");
    const auto from = m_clock.seconds();
    m_first = start();
    ASSERT_EQ(m_listening.arrivals(1).size(), 1u);
    EXPECT_EQ(onceThere("SELECT due_at FROM jobs WHERE attempts = 0 AND leased_until IS NULL"),
              std::to_string(from + 30));
    for (const auto& arrival : sentAgainAfter(*m_first, 30s, "a second early"))
        EXPECT_TRUE(std::string(arrival.request[http::field::user_agent]).starts_with("Tunalo/"));
}

// A song heard long enough is one listen that counts, with the time it began and its length; one
// skipped early makes none, nor does a song under 30 s, and a second word about one post no second.
TEST_F(Delivering, ASongHeardLongEnoughIsOneSingleListenAndASkippedOneNone)
{
    const auto at = m_clock.seconds();
    const auto postWithKey = [&](const std::string& song, const std::string& key, std::int64_t lengthMs) {
        m_store->addPost(m_user, song, std::nullopt, at, key);
        m_store->keepForListen(m_user, key, song, lengthMs, "Strawberry");
    };
    postWithKey("Ann - Forty Seconds", "k1", 40'000);
    postWithKey("Bo - Skipped", "k2", 40'000);
    postWithKey("Cy - Short", "k3", 20'000);
    EXPECT_TRUE(m_store->queueListen(m_user, "k1", 25'000, at));
    EXPECT_FALSE(m_store->queueListen(m_user, "k1", 25'000, at)) << "never twice";
    EXPECT_FALSE(m_store->queueListen(m_user, "k2", 10'000, at));
    EXPECT_FALSE(m_store->queueListen(m_user, "k3", 20'000, at)) << "under 30 s";
    EXPECT_FALSE(m_store->queueListen(m_user, "nosuchkey", 600'000, at));

    m_first = start();
    // Three songs playing now and one listen that counts.
    const auto arrived = m_listening.arrivals(4);
    ASSERT_EQ(arrived.size(), 4u);
    std::vector<Json> singles;
    for (const auto& arrival : arrived)
        if (arrival.activity.value("listen_type", "") == "single")
            singles.push_back(arrival.activity);
    ASSERT_EQ(singles.size(), 1u);
    const auto& listen = singles[0]["payload"][0];
    EXPECT_EQ(listen["listened_at"], at);
    EXPECT_EQ(listen["track_metadata"]["artist_name"], "Ann");
    EXPECT_EQ(listen["track_metadata"]["track_name"], "Forty Seconds");
    EXPECT_EQ(listen["track_metadata"]["additional_info"]["duration_ms"], 40'000);
    EXPECT_EQ(listen["track_metadata"]["additional_info"]["media_player"], "Strawberry");
    EXPECT_EQ(m_listening.arrivals(5, 300ms).size(), 4u);
}

// An instance that stops while a destination holds its request leaves the job leased: no other
// instance sends it again until the lease, under a minute, has run out.
TEST_F(Delivering, AJobLeftUnderWayIsTakenUpOnceItsLeaseRunsOut)
{
    ASSERT_LT(Delivery::lease, 1min);
    m_listening.answer(Elsewhere::Inbox::hold);
    post("Nina Simone - Feeling Good");
    m_first = start();
    ASSERT_EQ(m_listening.arrivals(1).size(), 1u);
    m_first->stop();

    m_listening.answer(Elsewhere::Inbox::accept);
    m_second = start();
    sentAgainAfter(*m_second, Delivery::lease + 1s, "still under the first one's lease");
}

// A job stays leased for as long as its destination takes to answer, far beyond one lease: another
// instance on the same database never sends it meanwhile, and the answer, when it comes, ends it.
TEST_F(Delivering, AJobUnderWayIsLeasedUntilItsAnswerComes)
{
    m_listening.answer(Elsewhere::Inbox::hold);
    post("Nina Simone - Feeling Good");
    m_first = start();
    ASSERT_EQ(m_listening.arrivals(1).size(), 1u);
    m_second = start();
    for (int step = 1; step <= 6; ++step) {
        m_clock.advance(Delivery::renewEvery);
        m_first->wake();
        const auto renewed = std::to_string(m_clock.seconds() + Delivery::lease.count());
        ASSERT_EQ(onceThere("SELECT leased_until FROM jobs WHERE leased_until = " + renewed), renewed)
            << "renewed at step " << step;
        m_second->wake();
    }
    EXPECT_EQ(m_listening.arrivals(2, 300ms).size(), 1u) << "the second instance never sent it";
    m_listening.release(Elsewhere::Inbox::accept);
    EXPECT_EQ(onceThere("SELECT 'none' WHERE NOT EXISTS (SELECT 1 FROM jobs)"), "none");
}

// An instance held up past its lease (stopped, or cut off from the database) finds the job taken
// by another: whatever its attempt brings back, found at a renewal or with the answer, changes
// nothing, and the job goes out again once the other's lease runs out in turn.
TEST_F(Delivering, WhatComesOfAnAttemptWhoseLeasePassedToAnotherChangesNothing)
{
    const struct {
        const char* found;
        bool atRenewal;
    } cases[] = {{"ran out under way", false}, {"has passed to another instance", true}};
    m_first = start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.found);
        const auto before = m_listening.arrivals().size();
        m_listening.answer(Elsewhere::Inbox::hold);
        post("Nina Simone - Feeling Good");
        m_first->wake();
        ASSERT_EQ(m_listening.arrivals(before + 1).size(), before + 1);
        // The other instance's lease, as a claim once this one's had run out would give it.
        const auto theirs = std::to_string(m_clock.seconds() + 10 * Delivery::lease.count());
        sql("UPDATE jobs SET leased_until = " + theirs);
        if (c.atRenewal) {
            m_clock.advance(Delivery::renewEvery);
            m_first->wake();
        }
        m_listening.release(Elsewhere::Inbox::fail);
        EXPECT_NE(fileTextOnceItHas(log(), c.found).find(c.found), std::string::npos);
        EXPECT_EQ(sql("SELECT leased_until || ' ' || attempts FROM jobs"), std::vector<std::string>{theirs + " 0"})
            << "the other's lease stands and no failed try is counted";

        m_listening.answer(Elsewhere::Inbox::accept);
        m_clock.advance(10 * Delivery::lease + 1s);
        m_first->wake();
        EXPECT_EQ(m_listening.arrivals(before + 2).size(), before + 2) << "sent again once theirs ran out";
        EXPECT_EQ(onceThere("SELECT 'none' WHERE NOT EXISTS (SELECT 1 FROM jobs)"), "none");
    }
}

} // namespace
