#pragma once

#include "store.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>

namespace tunalo::service {

// Password hashes in libsodium's self-describing string form. At most two hashes run at once:
// each takes 64 MiB, and a burst of log-ins must not exhaust memory.
class PasswordHasher {
public:
    std::optional<std::string> hash(const std::string& password);
    // Runs the same work for a name without an account, so the answer time does not tell.
    bool verify(const std::optional<std::string>& stored, const std::string& password);

private:
    std::counting_semaphore<2> m_slots{2};
    std::string m_dummy;
    std::once_flag m_dummyOnce;
};

// A session token as the browser holds it (32 hex digits for 128 random bits) and its stored hash.
struct SessionToken {
    std::string cookieValue;
    TokenHash hash;
};

SessionToken newSessionToken();
std::optional<TokenHash> hashCookieValue(const std::string& cookieValue);

// Sliding-window count of log-in attempts per name (letter case ignored).
class AttemptLimiter {
public:
    using Clock = std::chrono::steady_clock;
    AttemptLimiter(std::size_t perWindow, Clock::duration window) : m_perWindow(perWindow), m_window(window)
    {
    }

    // Counts the attempt; false when the name has used up its attempts in the window.
    bool allow(const std::string& name, Clock::time_point now = Clock::now());

private:
    std::size_t m_perWindow;
    Clock::duration m_window;
    std::mutex m_mutex;
    std::map<std::string, std::deque<Clock::time_point>> m_attempts;
};

} // namespace tunalo::service
