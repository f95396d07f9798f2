// The gate in front of the database's threads: what it admits, refuses and asks by itself.
#include "manualclock.h"
#include "store/databasegate.h"
#include "store/store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <thread>

using namespace tunalo::service;
using tunalo::service::testkit::ManualClock;
using namespace std::chrono_literals;

namespace {

enum class Outcome { refused, admitted, late };

Outcome run(DatabaseGate& gate)
{
    std::promise<bool> admitted;
    auto answer = admitted.get_future();
    if (!gate.submit([&admitted](bool ok) { admitted.set_value(ok); }))
        return Outcome::refused;
    return answer.get() ? Outcome::admitted : Outcome::late;
}

bool within(std::chrono::milliseconds wait, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    return done();
}

// A job queued from the test's thread, whose answer the test reads later.
class Queued {
public:
    explicit Queued(DatabaseGate& gate)
    {
        m_queued = gate.submit([this](bool ok) { m_admitted.set_value(ok); });
    }
    bool queued() const { return m_queued; }
    Outcome outcome() { return m_answer.get() ? Outcome::admitted : Outcome::late; }

private:
    std::promise<bool> m_admitted;
    std::future<bool> m_answer = m_admitted.get_future();
    bool m_queued = false;
};

// A job that holds a database thread until the test lets it go.
class Holder {
public:
    explicit Holder(DatabaseGate& gate)
    {
        EXPECT_TRUE(gate.submit([this](bool ok) {
            m_admitted = ok;
            m_holding.count_down();
            m_release.wait();
        }));
        m_holding.wait();
    }
    ~Holder() { release(); }
    void release()
    {
        if (!m_released.exchange(true))
            m_release.count_down();
    }
    bool admitted() const { return m_admitted; }

private:
    std::latch m_holding{1};
    std::latch m_release{1};
    std::atomic<bool> m_released = false;
    std::atomic<bool> m_admitted = false;
};

TEST(DatabaseGate, WhileDownRefusesAtOnceAndAsksTheDatabaseItselfWhetherItIsBack)
{
    ManualClock clock;
    std::atomic<bool> up = false;
    std::atomic<int> probes = 0;
    DatabaseGate gate(
        2, 8, 10s, 50ms,
        [&] {
            ++probes;
            if (!up)
                throw DatabaseUnavailable("down");
        },
        clock);
    EXPECT_EQ(run(gate), Outcome::admitted);
    gate.reached(false);
    EXPECT_EQ(run(gate), Outcome::refused);
    clock.advance(49ms);
    EXPECT_EQ(run(gate), Outcome::refused);
    EXPECT_EQ(probes, 0) << "not before the retry time";

    clock.advance(11ms);
    EXPECT_EQ(run(gate), Outcome::refused) << "the request that finds the retry due is not the probe";
    EXPECT_TRUE(within(5s, [&] { return probes == 1; }));
    EXPECT_EQ(run(gate), Outcome::refused) << "the probe found it still down";

    up = true;
    clock.advance(60ms);
    EXPECT_EQ(run(gate), Outcome::refused);
    EXPECT_TRUE(within(5s, [&] { return run(gate) == Outcome::admitted; }));
    EXPECT_EQ(probes, 2);
}

TEST(DatabaseGate, WorkThatWaitedPastItsTimeOrAFullQueueIsRefused)
{
    ManualClock clock;
    DatabaseGate gate(1, 1, 50ms, 1s, [] {}, clock);
    Holder first(gate); // holds the only thread
    Queued second(gate); // waits in the queue's one place
    ASSERT_TRUE(second.queued());
    EXPECT_EQ(run(gate), Outcome::refused) << "the queue is full";
    clock.advance(51ms);
    first.release();
    EXPECT_TRUE(first.admitted());
    EXPECT_EQ(second.outcome(), Outcome::late) << "it waited longer than 50 ms";
}

// Work that was queued while the database answered, and whose turn comes after it went down, is
// refused when its turn comes (its request gets the 503 at once) rather than sent to a database
// known to be down.
TEST(DatabaseGate, WorkQueuedBeforeTheDatabaseWentDownIsRefusedWhenItsTurnComes)
{
    ManualClock clock;
    DatabaseGate gate(1, 8, 10s, 1s, [] { throw DatabaseUnavailable("down"); }, clock);
    Holder first(gate);
    Queued second(gate);
    ASSERT_TRUE(second.queued());
    gate.reached(false); // what the first job found
    first.release();
    EXPECT_EQ(second.outcome(), Outcome::late);
}

} // namespace
