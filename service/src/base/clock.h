#pragma once

#include <chrono>
#include <cstdint>

namespace tunalo::service {

// The service's one clock. The wall time is what other servers and people read: the Date headers
// of signatures and their twelve-hour window, sessions, posts and when a job is due or its lease
// ends. The steady time measures how long something has been kept or has waited: a fetched key's
// age, the database gate's lateness and its retries. main.cpp gives the system's clocks to the
// service, which hands them on; the tests move a clock of their own instead of waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point wall() const = 0;
    virtual std::chrono::steady_clock::time_point steady() const = 0;

    // The wall time in whole seconds since the epoch, as the store keeps times.
    std::int64_t seconds() const
    {
        return std::chrono::duration_cast<std::chrono::seconds>(wall().time_since_epoch()).count();
    }
};

// The system's clocks.
class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point wall() const override { return std::chrono::system_clock::now(); }
    std::chrono::steady_clock::time_point steady() const override { return std::chrono::steady_clock::now(); }
};

} // namespace tunalo::service
