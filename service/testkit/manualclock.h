#pragma once

#include "base/clock.h"

#include <chrono>
#include <mutex>

namespace tunalo::service::testkit {

// A clock that moves only when the test moves it, both times together; the service's threads may
// read it while the test moves it.
class ManualClock final : public Clock {
public:
    // Starts at the system's time, so that what other servers check against their own clock
    // (a signature's Date) holds until the test moves it.
    ManualClock() : m_wall(std::chrono::system_clock::now()), m_steady(std::chrono::steady_clock::now()) {}

    std::chrono::system_clock::time_point wall() const override
    {
        std::lock_guard lock(m_mutex);
        return m_wall;
    }
    std::chrono::steady_clock::time_point steady() const override
    {
        std::lock_guard lock(m_mutex);
        return m_steady;
    }

    void advance(std::chrono::steady_clock::duration by)
    {
        std::lock_guard lock(m_mutex);
        m_wall += std::chrono::duration_cast<std::chrono::system_clock::duration>(by);
        m_steady += by;
    }

private:
    mutable std::mutex m_mutex;
    std::chrono::system_clock::time_point m_wall;
    std::chrono::steady_clock::time_point m_steady;
};

} // namespace tunalo::service::testkit
