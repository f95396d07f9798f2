#include "requestlog.h"

#include "text.h"

#include <cstdio>
#include <ctime>

namespace tunalo::service {

namespace {

std::string utcNow()
{
    return utcTime(std::time(nullptr), rfc3339);
}

} // namespace

std::string escapeForLog(std::string_view text)
{
    // Printable ASCII but the backslash stands as it is; blanks, controls, escapes and every byte
    // of another script are written out, so a line cannot be forged or colour the terminal.
    return hexEscape(
        text, [](unsigned char u) { return u > 0x20 && u < 0x7F && u != '\\'; }, "\\x", "0123456789abcdef");
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
