#pragma once

#include <string_view>

namespace tunalo::service {

// The program's picture as a PNG file, built into the service.
std::string_view serviceIcon();

} // namespace tunalo::service
