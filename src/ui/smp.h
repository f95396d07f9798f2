#pragma once

#include "ui/panel.h"

#include <array>

class QLabel;
class QRadioButton;

namespace tunalo {

class mainmodule;

// The player selection panel: one option button for each player, enabled while that player runs.
class smp : public Panel {
public:
    explicit smp(mainmodule& app);

    void mp_Click(int Index);

    std::array<QRadioButton*, 4> mp{};
    std::array<QLabel*, 4> dl{};

private:
    mainmodule& m_app;
};

} // namespace tunalo
