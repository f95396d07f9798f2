#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
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

// Makes what the Unicode functions below share, before the threads that use them start.
void prepareText();

// Valid UTF-8 of at most maxChars code points: ill-formed bytes become U+FFFD, control
// characters become blanks.
std::string cleanText(std::string_view text, std::size_t maxChars);

// True when nothing but blanks, control and invisible characters is left of the text.
bool isBlank(std::string_view text);

// An account name: 1 to maxChars letters, marks and digits of any script plus ".", "_" and "-",
// starting with a letter or digit, in one script (no look-alike letters of another script mixed in).
bool validName(std::string_view name, std::size_t maxChars);

// The form two names are compared in: NFKC with case folding, so "Élodie", "ÉLODIE" and
// "élodie" (composed or not) are one name. Empty for ill-formed UTF-8.
std::string nameKey(std::string_view name);

std::string htmlEscape(std::string_view text);

// The text with A-Z as a-z and every other byte as it stands: for the parts of addresses and
// headers that compare without case (names go through nameKey instead).
std::string asciiLower(std::string_view text);

// The whole text as a decimal integer (a leading minus allowed, nothing around it); none for
// anything else or a number past 64 bits.
std::optional<std::int64_t> integerIn(std::string_view text);

// A moment (seconds since the epoch) in UTC, written by strftime's format; rfc3339 is the form of
// Atom feeds and of the log.
inline constexpr const char* rfc3339 = "%Y-%m-%dT%H:%M:%SZ";
std::string utcTime(std::int64_t seconds, const char* format);

// The text with every byte that keep refuses written as prefix and two digits of the sixteen in
// digits ("0123456789ABCDEF" or lower case).
std::string hexEscape(std::string_view text, bool (*keep)(unsigned char), std::string_view prefix,
                      std::string_view digits);

} // namespace tunalo::service
