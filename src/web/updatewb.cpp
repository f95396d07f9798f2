#include "web/updatewb.h"


namespace tunalo {

updatewb::updatewb(BrowserFactory& browsers) : m_wb(browsers.createBrowser(this))
{
    resize(281, 185);
}

updatewb::~updatewb() = default;

} // namespace tunalo
