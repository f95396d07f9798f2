#include "ui/smp.h"

#include "core/settings.h"
#include "platform/settingsstore.h"
#include "platform/shellopen.h"
#include "ui/paneltext.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace tunalo {

namespace {

constexpr int kRowTop = 840;
constexpr int kRowStep = 480;
constexpr int kBusListTop = 4260;
// While the panel is shown, players that come and go on the bus show within this time.
constexpr int kBusLookMs = 1000;

bool panelRunning(PlayerDesktop& desktop, const PlayerRow& row)
{
    return row.source->running(desktop, row.panelKey) == kTrue;
}

} // namespace

smp::smp(AppState& state, PlayerDesktop desktop, ShellOpen& shellOpen, SettingsStore& settings,
         std::function<void(const ChangeResult&)> refused)
    : Label1(paneltext::heading(QStringLiteral("Select A Media Player"), this)),
      Label2(new QLabel(
          QStringLiteral("Select Your Preferred Media Player From The List Of Supported Media Players. "
                         "Only Running Media Players Are Enabled."),
          this)),
      m_state(state), m_desktop(desktop), m_shellOpen(shellOpen), m_settings(settings),
      m_refused(std::move(refused))
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

    busList = new QScrollArea(this);
    busList->setGeometry(twips(480), twips(kBusListTop), twips(6735), panelHeight() - twips(kBusListTop + 120));
    busList->setFrameShape(QFrame::NoFrame);
    busList->setWidgetResizable(true);
    busList->setWidget(new QWidget);
    new QGridLayout(busList->widget());
    busList->hide();
    m_busTimer = new QTimer(this);
    m_busTimer->setInterval(kBusLookMs);
    connect(m_busTimer, &QTimer::timeout, this, &smp::checkBusPlayers);
}

void smp::checkBusPlayers()
{
    const bool chosen = m_state.selectedPlayer >= 0 && m_state.selectedPlayer < playerCount() &&
                        followsSessionBus(playerRow(m_state.selectedPlayer));
    busList->setVisible(chosen);
    if (!chosen)
        return;
    // One line for each name: a browser's windows are one player to choose.
    std::vector<BusPlayer> onBus;
    for (const BusPlayer& player : m_desktop.players.busPlayers()) {
        if (std::none_of(onBus.begin(), onBus.end(), [&](const BusPlayer& seen) { return seen.name == player.name; }))
            onBus.push_back(player);
    }
    if (onBus != m_listed)
        fillBusList(onBus);
}

void smp::fillBusList(const std::vector<BusPlayer>& onBus)
{
    m_listed = onBus;
    // A person may have edited the choice by hand since the list was last filled.
    m_choice = PlayerChoice::fromText(
        m_settings.read(settings::kApplication, settings::kSection, settings::kMprisPlayers, QString()));
    m_desktop.players.choosePlayers(m_choice.text());
    for (QLabel* label : busPlayer)
        delete label;
    for (QCheckBox* box : postFrom)
        delete box;
    busPlayer.clear();
    postFrom.clear();
    auto* grid = static_cast<QGridLayout*>(busList->widget()->layout());
    for (int index = 0; index < static_cast<int>(m_listed.size()); ++index) {
        const BusPlayer& player = m_listed[static_cast<std::size_t>(index)];
        auto* name = new QLabel(player.identity.isEmpty() ? player.name : player.identity, busList->widget());
        auto* tick = new QCheckBox(QStringLiteral("Post songs from this player"), busList->widget());
        tick->setChecked(m_choice.counts(player.name));
        connect(tick, &QCheckBox::toggled, this, [this, index] { postFrom_Click(index); });
        grid->addWidget(name, index, 0);
        grid->addWidget(tick, index, 1);
        busPlayer.push_back(name);
        postFrom.push_back(tick);
    }
    grid->setRowStretch(static_cast<int>(m_listed.size()), 1);
}

void smp::postFrom_Click(int Index)
{
    if (Index < 0 || Index >= static_cast<int>(postFrom.size()))
        return;
    // A player chosen by name that is not on the bus now stays chosen for when it comes back.
    QStringList names;
    for (const QString& name : m_choice.names()) {
        const bool listed = std::any_of(m_listed.begin(), m_listed.end(),
                                        [&](const BusPlayer& player) { return player.name == name; });
        if (!listed && name != PlayerChoice::kNoPlayer)
            names.append(name);
    }
    for (std::size_t index = 0; index < postFrom.size(); ++index) {
        if (postFrom[index]->isChecked())
            names.append(m_listed[index].name);
    }
    m_choice = PlayerChoice::only(names);
    // Followed at once, even when the store refuses to keep it for the next start.
    m_desktop.players.choosePlayers(m_choice.text());
    const ChangeResult saved =
        m_settings.save(settings::kApplication, settings::kSection, settings::kMprisPlayers, m_choice.text());
    if (!saved)
        m_refused(saved);
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
    checkBusPlayers();
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

void smp::showEvent(QShowEvent* event)
{
    Panel::showEvent(event);
    m_listed.clear(); // filled afresh, with the choice as stored now
    checkBusPlayers();
    m_busTimer->start();
}

void smp::hideEvent(QHideEvent* event)
{
    Panel::hideEvent(event);
    m_busTimer->stop();
}

void smp::changeEvent(QEvent* event)
{
    Panel::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        checkplayers();
}

} // namespace tunalo
