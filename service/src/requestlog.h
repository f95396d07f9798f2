#pragma once

#include <cstddef>
#include <string>

namespace tunalo::service {

// One line per request on stderr: time, client, method, path, status, body bytes. Only the path:
// the query carries songs, which do not belong in a log.
void logRequest(const std::string& client, const std::string& method, const std::string& path, int status,
                std::size_t bytes);

} // namespace tunalo::service
