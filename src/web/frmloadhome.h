#pragma once

#include "ui/panel.h"

namespace tunalo {

class mainmodule;

// The home page loader: a loading animation shown until the home page tells the log-in state.
class frmloadhome : public Panel {
public:
    explicit frmloadhome(mainmodule& app);

    void resset();

private:
    mainmodule& m_app;
};

} // namespace tunalo
