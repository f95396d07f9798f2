#pragma once

#include "http/httpserver.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tunalo::service {

// Gives a response its validators, an ETag made from its body and, when given, a Last-Modified;
// when the request shows the client holds that version already (If-None-Match, or without it
// If-Modified-Since), the response becomes a 304 without a body.
void answerUnlessUnchanged(const Request& request, Response& response, std::optional<std::int64_t> modified);

// A moment in HTTP's date form ("Sun, 06 Nov 1994 08:49:37 GMT"), and back; empty when unreadable.
std::string httpDate(std::int64_t seconds);
std::optional<std::int64_t> parseHttpDate(const std::string& text);

} // namespace tunalo::service
