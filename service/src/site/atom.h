#pragma once

#include "store/store.h"

#include <string>
#include <string_view>
#include <vector>

namespace tunalo::service {

// Text for XML character data and attribute values: the five special characters escaped, and
// characters XML cannot carry (controls other than tab and line ends, U+FFFE, U+FFFF) replaced
// by U+FFFD. Expects valid UTF-8.
std::string xmlEscape(std::string_view text);

// A person's recent songs as an Atom feed, newest first (the order of posts). site is the
// service's public address without a trailing slash; every link in the feed is absolute.
std::string personAtom(const User& person, const std::vector<Post>& posts, std::string_view site);

} // namespace tunalo::service
