#pragma once

#include "core/appstate.h"
#include "ui/panel.h"

#include <array>

class QLabel;
class QRadioButton;

namespace tunalo {

class mainmodule;

// The player selection panel: one option button for each player, enabled while that player runs,
// and a download link beside each player that does not run.
class smp : public Panel {
public:
    explicit smp(mainmodule& app);

    void mp_Click(int Index);
    void dl_Click(int Index);

    std::array<QRadioButton*, kPlayerCount> mp{};
    std::array<QLabel*, kPlayerCount> dl{};
    QLabel* Label1;
    QLabel* Label2;

protected:
    // Every time the panel is drawn, resized or gains or loses the focus or activation, it looks
    // again which players run.
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void checkplayers();

    mainmodule& m_app;
};

} // namespace tunalo
