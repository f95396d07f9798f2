#pragma once

#include "store/store.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

namespace tunalo::service {

// Password hashes in libsodium's self-describing string form. Each hash takes 64 MiB and a
// tens of milliseconds of a core, so callers run them on a small pool of their own.
class PasswordHasher {
public:
    std::optional<std::string> hash(const std::string& password);
    // Runs the same work for a name without an account, so the answer time does not tell.
    bool verify(const std::optional<std::string>& stored, const std::string& password);

private:
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

// The wait before a password is checked for a name that has had `failures` wrong ones lately:
// none at first, then a quarter second doubling up to two seconds. The right password still gets
// in; guessing gets slow.
std::chrono::milliseconds loginDelay(int failures);

} // namespace tunalo::service
