#pragma once

#include "platform/clock.h"

#include <QElapsedTimer>

namespace tunalo {

// Time as the system keeps it, with timers of the Qt event loop.
class SystemClock : public Clock {
public:
    SystemClock();
    qint64 now() const override;
    std::unique_ptr<Timer> makeTimer(std::function<void()> handler) override;

private:
    QElapsedTimer m_started;
};

} // namespace tunalo
