#include "base/links.h"

#include "base/text.h"

#include <cctype>

namespace tunalo::service {

namespace {

constexpr std::string_view feedSuffix = ".atom";

} // namespace

std::string percentEncode(std::string_view text)
{
    return hexEscape(
        text, [](unsigned char u) { return std::isalnum(u) || u == '-' || u == '.' || u == '_' || u == '~'; },
        "%", "0123456789ABCDEF");
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
