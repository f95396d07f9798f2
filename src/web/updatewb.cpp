#include "web/updatewb.h"

#include "core/mainmodule.h"

namespace tunalo {

updatewb::updatewb(mainmodule& app) : m_wb(app.platform().browsers->createBrowser(this))
{
    resize(281, 185);
}

updatewb::~updatewb() = default;

} // namespace tunalo
