#include "base/workerpool.h"

namespace tunalo::service {

WorkerPool::WorkerPool(std::size_t threads, std::size_t queueLimit) : m_queueLimit(queueLimit)
{
    for (std::size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool()
{
    stop();
}

void WorkerPool::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (auto& thread : m_threads)
        if (thread.joinable())
            thread.join();
}

bool WorkerPool::submit(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_queue.size() >= m_queueLimit)
            return false;
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

void WorkerPool::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        job();
    }
}

} // namespace tunalo::service
