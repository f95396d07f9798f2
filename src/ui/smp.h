#pragma once

#include "core/appstate.h"
#include "nowplaying/playerchoice.h"
#include "nowplaying/players.h"
#include "ui/panel.h"

#include <QStringList>

#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QRadioButton;
class QScrollArea;
class QTimer;

namespace tunalo {

class ChangeResult;
class SettingsStore;
class ShellOpen;

// The player selection panel: one option button for each player, enabled while that player runs,
// and a download link beside each player that does not run. With the players on the session bus
// chosen, it lists them as they come and go, each with a tick that lets its songs count.
class smp : public Panel {
public:
    // refused tells the user when the store would not keep the choice.
    smp(AppState& state, PlayerDesktop desktop, ShellOpen& shellOpen, SettingsStore& settings,
        std::function<void(const ChangeResult&)> refused);

    void mp_Click(int Index);
    void dl_Click(int Index);
    // A tick of the bus's list changed: the choice is stored and followed at once.
    void postFrom_Click(int Index);
    // Looks again which players are on the bus; the panel's own timer calls it while it is shown.
    void checkBusPlayers();

    QScrollArea* busList = nullptr;     // shown while the players on the bus are chosen
    std::vector<QLabel*> busPlayer;     // each player's own name for itself
    std::vector<QCheckBox*> postFrom;   // "Post songs from this player", beside it

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
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void checkplayers();
    void fillBusList(const std::vector<BusPlayer>& onBus);

    AppState& m_state;
    PlayerDesktop m_desktop;
    ShellOpen& m_shellOpen;
    SettingsStore& m_settings;
    std::function<void(const ChangeResult&)> m_refused;
    QTimer* m_busTimer = nullptr;
    PlayerChoice m_choice; // as stored when the list was last filled or a tick changed
    std::vector<BusPlayer> m_listed; // the players the list shows, one for each name
};

} // namespace tunalo
