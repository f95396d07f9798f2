#include "ui/smp.h"

#include "platform/shellopen.h"
#include "ui/paneltext.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>

namespace tunalo {

namespace {

constexpr int kRowTop = 840;
constexpr int kRowStep = 480;

bool panelRunning(PlayerDesktop& desktop, const PlayerRow& row)
{
    return row.source->running(desktop, row.panelKey) == kTrue;
}

} // namespace

smp::smp(AppState& state, PlayerDesktop desktop, ShellOpen& shellOpen)
    : Label1(paneltext::heading(QStringLiteral("Select A Media Player"), this)),
      Label2(new QLabel(
          QStringLiteral("Select Your Preferred Media Player From The List Of Supported Media Players. "
                         "Only Running Media Players Are Enabled."),
          this)),
      m_state(state), m_desktop(desktop), m_shellOpen(shellOpen)
{
    Label1->setGeometry(twips(120), twips(120), twips(7335), twips(495));
    mp.resize(players().size());
    dl.resize(players().size());
    for (int index = 0; index < playerCount(); ++index) {
        const int top = kRowTop + kRowStep * index;
        mp[index] = new QRadioButton(players()[index].name, this);
        mp[index]->setGeometry(twips(480), twips(top), twips(2895), twips(375));
        // A button set by the program counts as clicked, like one the user picks.
        connect(mp[index], &QRadioButton::toggled, this, [this, index](bool checked) {
            if (checked)
                mp_Click(index);
        });
        dl[index] = paneltext::link(QStringLiteral("Download Winamp"), this);
        dl[index]->setGeometry(twips(3600), twips(top), twips(3615), twips(375));
        QFont narrow(QStringLiteral("Nimbus Sans Narrow"));
        narrow.setPointSizeF(designPoints(9.75));
        narrow.setBold(true);
        narrow.setUnderline(true);
        dl[index]->setFont(narrow);
        paneltext::onClick(dl[index], [this, index] { dl_Click(index); });
    }
    Label2->setGeometry(twips(480), twips(kRowTop + playerCount() * kRowStep + 240), twips(6735), twips(735));
    Label2->setWordWrap(true);
    QFont hint = Label2->font();
    hint.setPointSizeF(designPoints(8.25));
    hint.setBold(true);
    Label2->setFont(hint);
}

void smp::checkplayers()
{
    for (int index = 0; index < playerCount(); ++index)
        mp[index]->setEnabled(panelRunning(m_desktop, players()[index]));
    for (int index = 0; index < playerCount(); ++index) {
        const PlayerRow& row = players()[index];
        // A player without a download page has no link to show.
        const bool linked = !panelRunning(m_desktop, row) && !row.downloadPage.isEmpty();
        dl[index]->setVisible(linked);
        if (linked)
            dl[index]->setText(QStringLiteral("Download ") + row.name);
    }
}

void smp::mp_Click(int Index)
{
    m_state.selectedPlayer = static_cast<PlayerId>(Index);
}

void smp::dl_Click(int Index)
{
    if (Index >= 0 && Index < playerCount() && !players()[Index].downloadPage.isEmpty())
        m_shellOpen.open(players()[Index].downloadPage);
}

void smp::paintEvent(QPaintEvent* event)
{
    Panel::paintEvent(event);
    // The decorative frame around the player column.
    QPainter painter(this);
    painter.setPen(QPen(textColour(palette(), paneltext::kNavy), 1));
    painter.drawRoundedRect(
        QRect(twips(360), twips(kRowTop - 120), twips(7095), twips(playerCount() * kRowStep + 120)), 6, 6);
    checkplayers();
}

void smp::resizeEvent(QResizeEvent* event)
{
    Panel::resizeEvent(event);
    checkplayers();
}

void smp::focusInEvent(QFocusEvent* event)
{
    Panel::focusInEvent(event);
    checkplayers();
}

void smp::focusOutEvent(QFocusEvent* event)
{
    Panel::focusOutEvent(event);
    checkplayers();
}

void smp::changeEvent(QEvent* event)
{
    Panel::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        checkplayers();
}

} // namespace tunalo
