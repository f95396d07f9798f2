#include "store/databasegate.h"

#include "store/store.h"

namespace tunalo::service {

DatabaseGate::DatabaseGate(std::size_t threads, std::size_t queueLimit, std::chrono::milliseconds late,
                           std::chrono::milliseconds retry, std::function<void()> probe)
    : m_late(late), m_retry(retry), m_probe(std::move(probe)), m_pool(threads, queueLimit)
{
}

bool DatabaseGate::down()
{
    std::lock_guard lock(m_mutex);
    return m_down;
}

// While the database is down, the first job refused after `retry` sends the probe.
void DatabaseGate::tryAgain()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_probing || Clock::now() < m_retryAt)
            return;
        m_probing = true;
    }
    const bool queued = m_pool.submit([this] {
        bool answered = true;
        try {
            m_probe();
        } catch (const DatabaseUnavailable&) {
            answered = false;
        } catch (const std::exception&) {
            // Any other answer comes from a database that answers.
        }
        reached(answered);
        std::lock_guard lock(m_mutex);
        m_probing = false;
    });
    if (!queued) {
        std::lock_guard lock(m_mutex);
        m_probing = false;
    }
}

bool DatabaseGate::submit(std::function<void(bool admitted)> job)
{
    if (down()) {
        tryAgain();
        return false;
    }
    const auto queued = Clock::now();
    return m_pool.submit([this, job = std::move(job), queued] {
        // Refused when it waited too long, or the database went down while it waited.
        job(Clock::now() - queued <= m_late && !down());
    });
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
