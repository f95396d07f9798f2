#include "web/frmloadhome.h"

namespace tunalo {

frmloadhome::frmloadhome(mainmodule& app) : m_app(app) {}

void frmloadhome::resset() {}

} // namespace tunalo
