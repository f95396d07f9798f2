#pragma once

#include "ui/panel.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace tunalo {

class Autostart;
class PublishCycle;
class SettingsStore;

// The options panel: four switches of the publish cycle and the word list, each change saved at once,
// the switch that has the desktop start the program at log-in, and the service's address.
class optionsfrm : public Panel {
    Q_OBJECT
public:
    optionsfrm(PublishCycle& cycle, SettingsStore& settings, Autostart& autostart);

    // Fills the check boxes from the store.
    void updateoptions();

    void autopublish_Click();
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Check4_Click();
    void Text1_Change();
    // The address was edited: saved and taken when it is one, refused with the reason otherwise.
    void Text2_Change();

    // Shows the address in effect; one set by the environment cannot be changed here.
    void showServiceAddress(const QString& base, bool setByEnvironment);

    QCheckBox* autopublish;
    QCheckBox* Check1;
    QCheckBox* Check2;
    QCheckBox* Check3;
    QCheckBox* Check4; // start at log-in: kept by the desktop, not in the settings store
    QLineEdit* Text1;  // the live word list of the word filter
    QLabel* Label1;
    QGroupBox* Frame1;
    QLabel* Label2;
    QLabel* Label3;   // "Service Address:"
    QLineEdit* Text2; // the service's address

signals:
    void serviceAddressChanged(const QString& base);

private:
    void saveCheckBox(const QCheckBox* box, const QString& key);

    void showAbout(const QString& refusal);

    PublishCycle& m_cycle;
    SettingsStore& m_settings;
    Autostart& m_autostart;
};

} // namespace tunalo
