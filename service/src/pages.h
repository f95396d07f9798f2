#pragma once

#include "serviceprotocol.h"
#include "store.h"

#include <string>
#include <string_view>
#include <vector>

namespace tunalo::service {

// The page titles the desktop program reads; it compares the first two exactly.
inline constexpr std::string_view loggedInTitle = protocol::kLoggedInTitle;
inline constexpr std::string_view failedTitle = protocol::kFailedTitle;
inline constexpr std::string_view postedTitlePrefix = protocol::kPostedTitlePrefix;

std::string aboutPage();
std::string loggedInPage(const User& user, const std::vector<Post>& posts);
std::string loggedOutPage(std::string_view message);
std::string postedPage(std::int64_t id);
std::string notPostedPage(std::string_view title, std::string_view message);
std::string feedPage(const std::vector<Post>& posts);
std::string feedJson(const std::vector<Post>& posts);
std::string errorPage(int status);

} // namespace tunalo::service
