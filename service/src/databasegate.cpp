#include "databasegate.h"

namespace tunalo::service {

DatabaseGate::DatabaseGate(std::size_t threads, std::size_t queueLimit, std::chrono::milliseconds late,
                           std::chrono::milliseconds retry)
    : m_late(late), m_retry(retry), m_pool(threads, queueLimit)
{
}

bool DatabaseGate::admit(bool& probe)
{
    std::lock_guard lock(m_mutex);
    probe = false;
    if (!m_down)
        return true;
    if (m_probing || Clock::now() < m_retryAt)
        return false;
    m_probing = probe = true;
    return true;
}

bool DatabaseGate::submit(std::function<void(bool admitted)> job)
{
    bool probe = false;
    if (!admit(probe))
        return false;
    const auto queued = Clock::now();
    const bool accepted = m_pool.submit([this, job = std::move(job), probe, queued] {
        bool admitted = Clock::now() - queued <= m_late;
        if (admitted && !probe) {
            std::lock_guard lock(m_mutex);
            admitted = !m_down; // it went down while this job waited
        }
        job(admitted);
        if (probe) {
            std::lock_guard lock(m_mutex);
            m_probing = false;
        }
    });
    if (!accepted && probe) {
        std::lock_guard lock(m_mutex);
        m_probing = false;
    }
    return accepted;
}

void DatabaseGate::reached(bool answered)
{
    std::lock_guard lock(m_mutex);
    if (answered) {
        m_down = false;
    } else {
        m_down = true;
        m_retryAt = Clock::now() + m_retry;
    }
}

} // namespace tunalo::service
