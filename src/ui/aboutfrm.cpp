#include "ui/aboutfrm.h"

namespace tunalo {

aboutfrm::aboutfrm(mainmodule&) {}

} // namespace tunalo
