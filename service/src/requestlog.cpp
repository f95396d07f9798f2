#include "requestlog.h"

#include <cstdio>
#include <ctime>

namespace tunalo::service {

namespace {

std::string utcNow()
{
    const std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return when;
}

} // namespace

std::string escapeForLog(std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x20 && u < 0x7F && c != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    return out;
}

void logRequest(std::string_view client, std::string_view method, std::string_view path, int status,
                std::size_t bytes)
{
    // One fprintf per line, so lines of concurrent requests do not interleave.
    std::fprintf(stderr, "%s %s %s %s %d %zu\n", utcNow().c_str(), escapeForLog(client).c_str(),
                 escapeForLog(method).c_str(), escapeForLog(path).c_str(), status, bytes);
}

void logFailure(std::string_view method, std::string_view path, std::string_view what)
{
    std::fprintf(stderr, "%s tunalo-service: %s %s failed: %s\n", utcNow().c_str(),
                 escapeForLog(method).c_str(), escapeForLog(path).c_str(), escapeForLog(what).c_str());
}

} // namespace tunalo::service
