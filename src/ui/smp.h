#pragma once

#include "core/appstate.h"
#include "nowplaying/players.h"
#include "ui/panel.h"

#include <vector>

class QLabel;
class QRadioButton;

namespace tunalo {

class ShellOpen;

// The player selection panel: one option button for each player, enabled while that player runs,
// and a download link beside each player that does not run.
class smp : public Panel {
public:
    smp(AppState& state, PlayerDesktop desktop, ShellOpen& shellOpen);

    void mp_Click(int Index);
    void dl_Click(int Index);

    std::vector<QRadioButton*> mp; // one for each row of the player table
    std::vector<QLabel*> dl;
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

private:
    void checkplayers();

    AppState& m_state;
    PlayerDesktop m_desktop;
    ShellOpen& m_shellOpen;
};

} // namespace tunalo
