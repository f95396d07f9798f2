#include "adapters/qt/systemclock.h"

#include <QTimer>

namespace tunalo {

namespace {

class QtTimer : public Timer {
public:
    explicit QtTimer(std::function<void()> handler)
    {
        QObject::connect(&m_timer, &QTimer::timeout, [handler = std::move(handler)] { handler(); });
    }

    void start(int ms) override { begin(ms, true); }
    void startRepeating(int ms) override { begin(ms, false); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    void begin(int ms, bool once)
    {
        // A coarse timer may fire 5% early, half a second on a ten-second wait; the short waits may
        // be coarse and let the system bundle wake-ups.
        constexpr int kPreciseFromMs = 1000;
        m_timer.setTimerType(ms >= kPreciseFromMs ? Qt::PreciseTimer : Qt::CoarseTimer);
        m_timer.setSingleShot(once);
        m_timer.start(ms);
    }

    QTimer m_timer;
};

} // namespace

SystemClock::SystemClock()
{
    m_started.start();
}

qint64 SystemClock::now() const
{
    return m_started.elapsed();
}

std::unique_ptr<Timer> SystemClock::makeTimer(std::function<void()> handler)
{
    return std::make_unique<QtTimer>(std::move(handler));
}

} // namespace tunalo
