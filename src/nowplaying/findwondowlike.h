#pragma once

#include "platform/windowlist.h"

#include <QString>

#include <cstdint>

namespace tunalo {

// The first window, walking down from the foreground window, whose title contains text (letter
// case ignored); 0 when there is none.
HWND findbytitle(WindowList& windows, const QString& text);

// Whether a handle names a window: only when it is greater than 0 read as a signed 32-bit number.
bool isWindowHandle(HWND handle);

// -1 when a window whose title contains key (letter case ignored) can be found, else 0.
std::int16_t isrunning(WindowList& windows, const QString& key);

} // namespace tunalo
