#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace tunalo::service {

// Decodes %XX escapes; a '+' stays a '+' because the program percent-encodes blanks as %20.
// A malformed escape is kept as it stands.
std::string percentDecode(std::string_view text);

// The query keys of a raw request target, decoded; the first occurrence of a key wins.
std::map<std::string, std::string> parseQuery(std::string_view target);

// The fields of a form post (application/x-www-form-urlencoded, where '+' is a blank).
std::map<std::string, std::string> parseForm(std::string_view body);

// Code points in valid UTF-8.
std::size_t countChars(std::string_view text);

// Valid UTF-8 of at most maxChars code points: invalid bytes become U+FFFD, control
// characters become blanks.
std::string cleanText(std::string_view text, std::size_t maxChars);

std::string htmlEscape(std::string_view text);
std::string jsonEscape(std::string_view text);

} // namespace tunalo::service
