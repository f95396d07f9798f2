// The gate in front of the database's threads: what it admits, refuses and asks by itself.
#include "store/databasegate.h"
#include "store/store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace tunalo::service;
using namespace std::chrono_literals;

namespace {

enum class Outcome { refused, admitted, late };

Outcome run(DatabaseGate& gate, std::chrono::milliseconds work = 0ms)
{
    std::promise<bool> admitted;
    auto answer = admitted.get_future();
    if (!gate.submit([&admitted, work](bool ok) {
            std::this_thread::sleep_for(work);
            admitted.set_value(ok);
        }))
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

TEST(DatabaseGate, WhileDownRefusesAtOnceAndAsksTheDatabaseItselfWhetherItIsBack)
{
    std::atomic<bool> up = false;
    std::atomic<int> probes = 0;
    DatabaseGate gate(2, 8, 10s, 50ms, [&] {
        ++probes;
        if (!up)
            throw DatabaseUnavailable("down");
    });
    EXPECT_EQ(run(gate), Outcome::admitted);
    gate.reached(false);
    EXPECT_EQ(run(gate), Outcome::refused);
    EXPECT_EQ(probes, 0) << "not before the retry time";

    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(run(gate), Outcome::refused) << "the request that finds the retry due is not the probe";
    EXPECT_TRUE(within(5s, [&] { return probes == 1; }));
    EXPECT_EQ(run(gate), Outcome::refused) << "the probe found it still down";

    up = true;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(run(gate), Outcome::refused);
    EXPECT_TRUE(within(5s, [&] { return run(gate) == Outcome::admitted; }));
    EXPECT_EQ(probes, 2);
}

TEST(DatabaseGate, WorkThatWaitedPastItsTimeOrAFullQueueIsRefused)
{
    DatabaseGate gate(1, 1, 50ms, 1s, [] {});
    auto first = std::async(std::launch::async, [&] { return run(gate, 150ms); });
    std::this_thread::sleep_for(20ms); // the first holds the only thread
    auto second = std::async(std::launch::async, [&] { return run(gate); });
    std::this_thread::sleep_for(20ms); // the second waits in the queue's one place
    EXPECT_EQ(run(gate), Outcome::refused) << "the queue is full";
    EXPECT_EQ(first.get(), Outcome::admitted);
    EXPECT_EQ(second.get(), Outcome::late) << "it waited longer than 50 ms";
}

} // namespace
