#pragma once

#include "ui/panel.h"

namespace tunalo {

class mainmodule;

// The instructions panel.
class helpfrm : public Panel {
public:
    explicit helpfrm(mainmodule& app);
};

} // namespace tunalo
