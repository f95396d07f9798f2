#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

namespace tunalo {

// A timer made by a Clock: it calls its handler once the time it was started with has passed,
// once, or again and again when started to repeat. Destroying it stops it.
class Timer {
public:
    virtual ~Timer() = default;

    // Starts (or starts anew) a single wait of ms milliseconds.
    virtual void start(int ms) = 0;
    // Starts (or starts anew) a wait of ms milliseconds that begins again each time it ends.
    virtual void startRepeating(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// The one source of time of the program: the post queue, the log-in watch, the tick that follows
// the player and the players on the session bus all take their time and timers from it, so the
// tests move time forward instead of waiting for it.
class Clock {
public:
    virtual ~Clock() = default;

    // Milliseconds on a clock that never goes back.
    virtual qint64 now() const = 0;
    // A timer, stopped, that calls handler on the thread that made it.
    virtual std::unique_ptr<Timer> makeTimer(std::function<void()> handler) = 0;
};

} // namespace tunalo
