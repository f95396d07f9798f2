#include "auth.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>

namespace tunalo::service {

namespace {

class SlotGuard {
public:
    explicit SlotGuard(std::counting_semaphore<2>& slots) : m_slots(slots) { m_slots.acquire(); }
    ~SlotGuard() { m_slots.release(); }
    SlotGuard(const SlotGuard&) = delete;
    SlotGuard& operator=(const SlotGuard&) = delete;

private:
    std::counting_semaphore<2>& m_slots;
};

TokenHash hashToken(const unsigned char* token, std::size_t size)
{
    TokenHash hash{};
    crypto_generichash(hash.data(), hash.size(), token, size, nullptr, 0);
    return hash;
}

} // namespace

std::optional<std::string> PasswordHasher::hash(const std::string& password)
{
    SlotGuard slot(m_slots);
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return std::nullopt;
    return std::string(out);
}

bool PasswordHasher::verify(const std::optional<std::string>& stored, const std::string& password)
{
    std::call_once(m_dummyOnce, [this] { m_dummy = hash("no account has this password").value_or(""); });
    const std::string& against = stored ? *stored : m_dummy;
    SlotGuard slot(m_slots);
    const bool match = crypto_pwhash_str_verify(against.c_str(), password.data(), password.size()) == 0;
    return match && stored.has_value();
}

SessionToken newSessionToken()
{
    unsigned char raw[16];
    randombytes_buf(raw, sizeof raw);
    char hex[sizeof raw * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, raw, sizeof raw);
    return {hex, hashToken(raw, sizeof raw)};
}

std::optional<TokenHash> hashCookieValue(const std::string& cookieValue)
{
    unsigned char raw[16];
    std::size_t length = 0;
    const char* end = nullptr;
    if (cookieValue.size() != sizeof raw * 2 ||
        sodium_hex2bin(raw, sizeof raw, cookieValue.c_str(), cookieValue.size(), nullptr, &length, &end) !=
            0 ||
        length != sizeof raw)
        return std::nullopt;
    return hashToken(raw, sizeof raw);
}

bool AttemptLimiter::allow(const std::string& name, Clock::time_point now)
{
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    std::lock_guard lock(m_mutex);
    // Forget names whose window has passed, so the map cannot grow without bound.
    std::erase_if(m_attempts, [&](const auto& entry) { return entry.second.back() <= now - m_window; });
    auto& times = m_attempts[key];
    while (!times.empty() && times.front() <= now - m_window)
        times.pop_front();
    if (times.size() >= m_perWindow)
        return false;
    times.push_back(now);
    return true;
}

} // namespace tunalo::service
