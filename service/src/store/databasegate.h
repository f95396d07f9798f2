#pragma once

#include "base/workerpool.h"

#include <chrono>
#include <functional>
#include <mutex>

namespace tunalo::service {

// The database's own threads: pages hand their database work here, so the threads that serve
// requests never wait for the database. Work is admitted, or refused at once so that its request
// can be answered 503: refused when the queue is full, when it waited longer than `late` (the
// database is late), and while the database is known to be down. Then, at most every `retry`,
// `probe` runs on a database thread of its own accord (it throws DatabaseUnavailable while the
// database is still down), and work is admitted again once it has gone through.
class DatabaseGate {
public:
    DatabaseGate(std::size_t threads, std::size_t queueLimit, std::chrono::milliseconds late,
                 std::chrono::milliseconds retry, std::function<void()> probe);

    // Queues job, which runs on a database thread and learns whether it was admitted; false, and
    // the job dropped, when it is refused before queueing.
    bool submit(std::function<void(bool admitted)> job);
    // What an admitted job found: the database answered, or it is down or late.
    void reached(bool answered);
    // Finishes the jobs that are running and refuses any more.
    void stop() { m_pool.stop(); }

private:
    using Clock = std::chrono::steady_clock;
    bool down();
    void tryAgain();

    const std::chrono::milliseconds m_late;
    const std::chrono::milliseconds m_retry;
    const std::function<void()> m_probe;
    std::mutex m_mutex;
    bool m_down = false;
    bool m_probing = false;
    Clock::time_point m_retryAt;
    // Last, so that it goes first: its jobs use everything above until its threads have ended.
    WorkerPool m_pool;
};

} // namespace tunalo::service
