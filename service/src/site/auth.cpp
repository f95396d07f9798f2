#include "site/auth.h"

#include <sodium.h>

#include <algorithm>

namespace tunalo::service {

namespace {

TokenHash hashToken(const unsigned char* token, std::size_t size)
{
    TokenHash hash{};
    crypto_generichash(hash.data(), hash.size(), token, size, nullptr, 0);
    return hash;
}

} // namespace

std::optional<std::string> PasswordHasher::hash(const std::string& password)
{
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

std::chrono::milliseconds loginDelay(int failures)
{
    constexpr std::chrono::milliseconds first(250);
    constexpr std::chrono::milliseconds most(2000);
    if (failures <= 0)
        return std::chrono::milliseconds(0);
    return failures > 4 ? most : std::min(most, first * (1 << (failures - 1)));
}

} // namespace tunalo::service
