#include "ui/optionsfrm.h"

#include "core/publishcycle.h"
#include "core/settings.h"
#include "platform/autostart.h"
#include "platform/settingsstore.h"

#include "ui/paneltext.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>

#include <limits>

namespace tunalo {

optionsfrm::optionsfrm(PublishCycle& cycle, SettingsStore& settings, Autostart& autostart)
    : autopublish(new QCheckBox(QStringLiteral("Automatically Publish Posts"), this)),
      Check1(new QCheckBox(QStringLiteral("Automatically Delete Previous Posts"), this)),
      Check2(new QCheckBox(QStringLiteral("Show Alert Window After Every Song Change"), this)),
      Check3(new QCheckBox(
          QStringLiteral("Do Not Post Songs Which Contains The Words: (separate keywordw with \",\")"),
          this)),
      Check4(new QCheckBox(QStringLiteral("Start Tunalo when I log in"), this)), Text1(new QLineEdit(this)),
      Label1(paneltext::heading(QStringLiteral("Options"), this)),
      Frame1(new QGroupBox(QStringLiteral("Facebook And Proxy Settings"), this)),
      Label2(paneltext::label(QString(), Frame1, 360, 480, 6495, 1150)),
      Label3(paneltext::label(QStringLiteral("Service Address:"), Frame1, 360, 1665, 1695, 360)),
      Text2(new QLineEdit(Frame1)), m_cycle(cycle), m_settings(settings), m_autostart(autostart)
{
    Label1->setGeometry(twips(120), twips(120), twips(7335), twips(495));
    Frame1->setGeometry(twips(120), twips(3480), twips(7455), twips(2055));
    Text2->setGeometry(twips(2100), twips(1665), twips(5115), twips(360));
    paneltext::setFont(Label2, 12, false);
    // A refusal is told in the link colour, where a dark theme's stands out from its window.
    QPalette refusal = Label2->palette();
    refusal.setColor(QPalette::Link, textColour(refusal, refusal.color(QPalette::Link), QPalette::Link));
    Label2->setPalette(refusal);
    showAbout({});
    autopublish->setGeometry(twips(120), twips(720), twips(4935), twips(375));
    Check1->setGeometry(twips(120), twips(1200), twips(4935), twips(375));
    Check2->setGeometry(twips(120), twips(1680), twips(4935), twips(375));
    Check3->setGeometry(twips(120), twips(2160), twips(7215), twips(375));
    Text1->setGeometry(twips(360), twips(2520), twips(4095), twips(375));
    Check4->setGeometry(twips(120), twips(3000), twips(4935), twips(375));
    // A long stored list must come back whole, or the next change would save it cut.
    Text1->setMaxLength(std::numeric_limits<int>::max());

    // A value set by the program counts as a click, so it is saved as well.
    connect(autopublish, &QCheckBox::stateChanged, this, &optionsfrm::autopublish_Click);
    connect(Check1, &QCheckBox::stateChanged, this, &optionsfrm::Check1_Click);
    connect(Check2, &QCheckBox::stateChanged, this, &optionsfrm::Check2_Click);
    connect(Check3, &QCheckBox::stateChanged, this, &optionsfrm::Check3_Click);
    connect(Text1, &QLineEdit::textChanged, this, &optionsfrm::Text1_Change);
    // The address is taken once the user is done with it, not at every key.
    connect(Text2, &QLineEdit::editingFinished, this, &optionsfrm::Text2_Change);
    // Only the user's click changes the desktop's autostart entry; filling the box reads it.
    connect(Check4, &QCheckBox::clicked, this, &optionsfrm::Check4_Click);
}

void optionsfrm::updateoptions()
{
    // Filling the boxes stores what they show; a refusal then is told at the user's own change,
    // once the panel is in front.
    const QScopedValueRollback filling(m_filling, true);
    m_cycle.loadsettings(false);
    const AppState& state = m_cycle.state();
    autopublish->setChecked(state.autoPublish != 0);
    Check1->setChecked(state.autoDelete != 0);
    Check2->setChecked(state.autoAlert != 0);
    Check3->setChecked(state.screenWords != 0);
    Check4->setChecked(m_autostart.isEnabled());
}

namespace {

const QString kNotSavedHeading = QStringLiteral("Your Options Could Not Be Saved");
const QString kAutostartHeading = QStringLiteral("Start At Log-in Could Not Be Changed");

} // namespace

void optionsfrm::saveCheckBox(const QCheckBox* box, const QString& key)
{
    const ChangeResult saved = m_settings.save(settings::kApplication, settings::kSection, key,
                                               settings::numberText(box->isChecked() ? 1 : 0));
    if (saved || m_filling)
        return;
    m_cycle.tellRefused(kNotSavedHeading, saved);
    // The boxes show the options in effect, which is what the store still holds; showing them is
    // no change of the user's.
    const QSignalBlocker quiet[] = {QSignalBlocker(autopublish), QSignalBlocker(Check1),
                                    QSignalBlocker(Check2), QSignalBlocker(Check3)};
    updateoptions();
}

void optionsfrm::autopublish_Click()
{
    saveCheckBox(autopublish, settings::kAutoPublish);
}
void optionsfrm::Check1_Click()
{
    saveCheckBox(Check1, settings::kAutoDelete);
}
void optionsfrm::Check2_Click()
{
    saveCheckBox(Check2, settings::kAutoAlert);
}
void optionsfrm::Check3_Click()
{
    saveCheckBox(Check3, settings::kScreenWords);
}

void optionsfrm::Check4_Click()
{
    m_cycle.tellRefused(kAutostartHeading, m_autostart.setEnabled(Check4->isChecked()));
    // The box shows what happens at the next log-in, also when the desktop refused the change.
    Check4->setChecked(m_autostart.isEnabled());
}

namespace {
const QString kAboutTheBrowser = QStringLiteral(
    "\"Tunalo FB App\" Connects To The Internet Through Tunalo's Built-In Browser, Which Uses The "
    "Desktop's Proxy Settings. Your Log-in And Cookies Stay In That Browser.");
} // namespace

void optionsfrm::showAbout(const QString& refusal)
{
    // A refused address is told where the frame's words stand, until an address is taken.
    Label2->setText(refusal.isEmpty()
                        ? kAboutTheBrowser
                        : QStringLiteral("The address was not saved: ") + refusal + QLatin1Char('.'));
    Label2->setForegroundRole(refusal.isEmpty() ? QPalette::WindowText : QPalette::Link);
}

void optionsfrm::showServiceAddress(const QString& base, bool setByEnvironment)
{
    Text2->setText(base);
    Text2->setEnabled(!setByEnvironment);
    Text2->setToolTip(setByEnvironment ? QStringLiteral("Set by TUNALO_SERVICE_URL") : QString());
}

void optionsfrm::Text2_Change()
{
    const settings::ServiceAddress address = settings::serviceAddress(Text2->text());
    if (address.base.isEmpty()) {
        showAbout(address.why);
        return;
    }
    showAbout({});
    Text2->setText(address.base);
    // Taken for this run even when the store refuses it; the refusal is told like any other.
    m_cycle.tellRefused(kNotSavedHeading, m_settings.save(settings::kApplication, settings::kSection,
                                                          settings::kServiceUrl, address.base));
    emit serviceAddressChanged(address.base);
}

void optionsfrm::Text1_Change()
{
    const ChangeResult saved =
        m_settings.save(settings::kApplication, settings::kSection, settings::kScreenWordList, Text1->text());
    // Told when the user typed; the program fills the box from the store at every load.
    if (Text1->isModified())
        m_cycle.tellRefused(kNotSavedHeading, saved);
    m_cycle.setScreenWordList(Text1->text());
}

} // namespace tunalo
