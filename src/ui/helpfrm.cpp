#include "ui/helpfrm.h"

namespace tunalo {

helpfrm::helpfrm(mainmodule&) {}

} // namespace tunalo
