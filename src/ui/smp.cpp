#include "ui/smp.h"

#include "core/mainmodule.h"
#include "nowplaying/findwondowlike.h"
#include "ui/cpanel.h"
#include "ui/interface.h"
#include "ui/paneltext.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>

namespace tunalo {

namespace {

struct PlayerRow {
    QString caption;  // the option button
    QString panelKey; // what a running player's window title holds
    QString download; // the link's caption
    QString address;  // the maker's download page
};

const std::array<PlayerRow, 4>& playerRows()
{
    static const std::array<PlayerRow, 4> rows = {{
        {QStringLiteral("Winamp"), QStringLiteral("winamp"), QStringLiteral("Download Winamp"),
         QStringLiteral("https://www.winamp.com/")},
        {QStringLiteral("MediaMonkey"), QStringLiteral("mediamonkey"), QStringLiteral("Download MediaMonkey"),
         QStringLiteral("https://www.mediamonkey.com/")},
        {QStringLiteral("VLC Media Player"), QStringLiteral("vlc"),
         QStringLiteral("Download VLC Media Player"), QStringLiteral("https://www.videolan.org/vlc/")},
        {QStringLiteral("RealPlayer"), QStringLiteral("realplayer"), QStringLiteral("Download RealPlayer"),
         QStringLiteral("https://www.real.com/realplayer/")},
    }};
    return rows;
}

constexpr int kRowTop = 840;
constexpr int kRowStep = 480;

} // namespace

smp::smp(mainmodule& app)
    : Label1(paneltext::heading(QStringLiteral("Select A Media Player"), this)),
      Label2(new QLabel(
          QStringLiteral("Select Your Preferred Media Player From The List Of Supported Media Players. "
                         "Only Running Media Players Are Enabled."),
          this)),
      m_app(app)
{
    Label1->setGeometry(twips(120), twips(120), twips(7335), twips(495));
    for (int index = 0; index < 4; ++index) {
        const int top = kRowTop + kRowStep * index;
        mp[index] = new QRadioButton(playerRows()[index].caption, this);
        mp[index]->setGeometry(twips(480), twips(top), twips(2895), twips(375));
        // A button set by the program counts as clicked, like one the user picks.
        connect(mp[index], &QRadioButton::toggled, this, [this, index](bool checked) {
            if (checked)
                mp_Click(index);
        });
        dl[index] = paneltext::link(QStringLiteral("Download Winamp"), this);
        dl[index]->setGeometry(twips(3600), twips(top), twips(3615), twips(375));
        QFont narrow(QStringLiteral("Nimbus Sans Narrow"));
        narrow.setPointSizeF(9.75);
        narrow.setBold(true);
        narrow.setUnderline(true);
        dl[index]->setFont(narrow);
        dl[index]->installEventFilter(this);
    }
    Label2->setGeometry(twips(480), twips(kRowTop + 4 * kRowStep + 240), twips(6735), twips(735));
    Label2->setWordWrap(true);
    QFont hint = Label2->font();
    hint.setPointSizeF(8.25);
    hint.setBold(true);
    Label2->setFont(hint);
}

void smp::checkplayers()
{
    WindowList& windows = *m_app.platform().windows;
    for (int index = 0; index < 4; ++index)
        mp[index]->setEnabled(isrunning(windows, playerRows()[index].panelKey) == kTrue);
    for (int index = 0; index < 4; ++index) {
        const bool running = isrunning(windows, playerRows()[index].panelKey) == kTrue;
        dl[index]->setVisible(!running);
        if (!running)
            dl[index]->setText(playerRows()[index].download);
    }
}

void smp::mp_Click(int Index)
{
    m_app.state().selectedPlayer = static_cast<PlayerId>(Index);
}

void smp::dl_Click(int Index)
{
    if (Index >= 0 && Index < 4)
        m_app.platform().shellOpen->open(playerRows()[Index].address);
}

void smp::paintEvent(QPaintEvent* event)
{
    Panel::paintEvent(event);
    // The decorative frame around the player column.
    QPainter painter(this);
    painter.setPen(QPen(QColor(0, 0, 128), 1));
    painter.drawRoundedRect(QRect(twips(360), twips(kRowTop - 120), twips(7095), twips(4 * kRowStep + 120)),
                            6, 6);
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

bool smp::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int index = 0; index < 4; ++index) {
            if (watched == dl[index]) {
                dl_Click(index);
                return true;
            }
        }
    }
    return Panel::eventFilter(watched, event);
}

void mainmodule::showplayerpanel()
{
    interface& window = form<interface>();
    dockpanel(*window.cp, form<smp>());
    window.activateWindow();
    window.setFocus();
}

} // namespace tunalo
