#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tunalo::service {

// A few threads of their own for slow work (password hashing), with a bounded queue, so that
// the threads serving pages are never the ones that wait.
class WorkerPool {
public:
    WorkerPool(std::size_t threads, std::size_t queueLimit);
    // Stops as stop() does.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // False, and the job dropped, when queueLimit jobs are already waiting.
    bool submit(std::function<void()> job);
    // Finishes the jobs that are running; jobs still queued are dropped and later ones refused.
    void stop();

private:
    void work();

    std::size_t m_queueLimit;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace tunalo::service
