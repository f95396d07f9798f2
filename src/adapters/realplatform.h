#pragma once

#include "platform/platform.h"

#include <memory>

namespace tunalo {

// The desktop's own adapters. Making them is cheap and touches nothing: each starts its work
// when first used.
std::unique_ptr<Platform> makeRealPlatform();

// Whether an X server can be reached through DISPLAY.
bool xDisplayReachable();

} // namespace tunalo
