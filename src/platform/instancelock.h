#pragma once

#include <QString>

namespace tunalo {

// "Am I the only running instance of this user?" The first caller that gets true holds the
// lock until the object is destroyed; a lock left behind by a crashed run does not count.
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
};

} // namespace tunalo
