#pragma once

#include "serviceprotocol.h"

#include <QLatin1String>

#include <string_view>

namespace tunalo {

// A text of the service's protocol as Qt takes it.
constexpr QLatin1String qtText(std::string_view text)
{
    return QLatin1String(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace tunalo
