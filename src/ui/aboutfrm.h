#pragma once

#include "ui/panel.h"

namespace tunalo {

class mainmodule;

// The about panel.
class aboutfrm : public Panel {
public:
    explicit aboutfrm(mainmodule& app);
};

} // namespace tunalo
