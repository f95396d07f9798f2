#pragma once

namespace tunalo {

// "Am I the only running instance of this user?" The first caller that gets true holds the
// lock until the object is destroyed; a lock left behind by a crashed run does not count.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    virtual bool tryLock() = 0;
};

} // namespace tunalo
