#include "site/icon.h"

namespace tunalo::service {

namespace {

constexpr unsigned char iconBytes[] = {
#include "serviceicon.inc"
};

} // namespace

std::string_view serviceIcon()
{
    return {reinterpret_cast<const char*>(iconBytes), sizeof iconBytes};
}

} // namespace tunalo::service
