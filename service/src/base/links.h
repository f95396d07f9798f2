#pragma once

#include <string>
#include <string_view>

namespace tunalo::service {

// Percent-encodes every byte outside the unreserved set of web addresses.
std::string percentEncode(std::string_view text);

// The folder of the people's pages and feeds.
inline constexpr std::string_view personPrefix = "/fb/u/";

// The program's picture, which every person's account shows on the fediverse.
inline constexpr std::string_view iconPath = "/fb/tunalo.png";

// Where a person's page and feed live, from the site's root.
std::string personPath(std::string_view name);
std::string personFeedPath(std::string_view name);

// The person's name in a path below /fb/u/ (decoded): the name, and whether it asks for the feed.
struct PersonRequest {
    std::string name;
    bool feed = false;
};
PersonRequest personRequestFrom(std::string_view decodedTail);
// A name whose page address would read as a feed address; such names are not given out.
bool isFeedName(std::string_view nameKey);

} // namespace tunalo::service
