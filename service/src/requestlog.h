#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tunalo::service {

// One line per request on stderr: time, client, method, path, status, body bytes. Only the path:
// the query carries songs, which do not belong in a log. Every byte outside printable ASCII is
// written as \xNN, so nothing a client sends can start a line or steer the terminal.
void logRequest(std::string_view client, std::string_view method, std::string_view path, int status,
                std::size_t bytes);
// A request that failed inside the service, on one line of its own.
void logFailure(std::string_view method, std::string_view path, std::string_view what);

std::string escapeForLog(std::string_view text);

} // namespace tunalo::service
