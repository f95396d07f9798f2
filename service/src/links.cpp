#include "links.h"

#include <cctype>

namespace tunalo::service {

namespace {

constexpr std::string_view personPrefix = "/fb/u/";
constexpr std::string_view feedSuffix = ".atom";

} // namespace

std::string percentEncode(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    return out;
}

std::string personPath(std::string_view name)
{
    return std::string(personPrefix) + percentEncode(name);
}

std::string personFeedPath(std::string_view name)
{
    return personPath(name) + std::string(feedSuffix);
}

PersonRequest personRequestFrom(std::string_view decodedTail)
{
    if (decodedTail.ends_with(feedSuffix))
        return {std::string(decodedTail.substr(0, decodedTail.size() - feedSuffix.size())), true};
    return {std::string(decodedTail), false};
}

bool isFeedName(std::string_view nameKey)
{
    return nameKey.ends_with(feedSuffix);
}

} // namespace tunalo::service
