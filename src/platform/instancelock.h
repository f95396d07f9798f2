#pragma once

#include <QString>

#include <functional>

namespace tunalo {

// "Am I the only running instance of this user?" The first caller that gets true holds the
// lock until the object is destroyed; a lock left behind by a crashed run does not count. The
// instance that holds it can be asked by a later start to show its main window.
class InstanceLock {
public:
    // Why the last tryLock gave false, for the one line the program prints before it ends.
    struct Refusal {
        bool anotherInstance = false; // a live instance holds the lock: ending is no failure
        QString reason;
    };

    virtual ~InstanceLock() = default;
    virtual bool tryLock() = 0;
    virtual Refusal refusal() const = 0;

    // While this instance holds the lock, every later start that asks calls show; a start that
    // asked before the program was ready to show anything is answered now.
    virtual void onShowAsked(std::function<void()> show) = 0;
    // After another live instance refused the lock: asks it to show its main window; true once it
    // has heard the request.
    virtual bool askToShow() = 0;
};

} // namespace tunalo
