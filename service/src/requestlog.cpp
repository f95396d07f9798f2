#include "requestlog.h"

#include <cstdio>
#include <ctime>

namespace tunalo::service {

void logRequest(const std::string& client, const std::string& method, const std::string& path, int status,
                std::size_t bytes)
{
    const std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    // One fprintf per line, so lines of concurrent requests do not interleave.
    std::fprintf(stderr, "%s %s %s %s %d %zu\n", when, client.c_str(), method.c_str(), path.c_str(), status,
                 bytes);
}

} // namespace tunalo::service
