#include "ui/interface.h"

#include "core/mainmodule.h"
#include "core/settings.h"
#include "nowplaying/players.h"
#include "tray/frmsystray.h"
#include "ui/aboutfrm.h"
#include "ui/artwork.h"
#include "ui/cpanel.h"
#include "ui/helpfrm.h"
#include "ui/optionsfrm.h"
#include "ui/panel.h"
#include "web/showhome.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

namespace tunalo {

namespace {

const QString kStartPublishing = QStringLiteral("start publishing");
const QString kStopPublishing = QStringLiteral("stop publishing");

QPushButton* makeButton(const QString& caption, int top, int height, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(twips(120), twips(top), twips(2175), twips(height));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

interface::interface(mainmodule& app)
    : Command1(makeButton(kStartPublishing, 1200, 255, this)),
      Command2(makeButton(QStringLiteral("home"), 1560, 1095, this)),
      Command3(makeButton(QStringLiteral("select a media player"), 2760, 1095, this)),
      Command4(makeButton(QStringLiteral("options"), 3960, 1095, this)),
      Command5(makeButton(QStringLiteral("about"), 5160, 1095, this)),
      Command6(makeButton(QStringLiteral("instructions"), 6360, 615, this)),
      sts(new QLabel(QStringLiteral(" you are not listening to any song right now"), this)),
      cp(new QWidget(this)), update(new QTimer(this)), m_app(app),
      m_background(artwork::picture(QStringLiteral("background")))
{
    setWindowTitle(QStringLiteral("TUNALO"));
    setWindowIcon(artwork::programIcon());
    setFixedSize(twips(10470), twips(7080));

    sts->setGeometry(twips(2520), twips(1200), kPanelWidth, twips(255));
    sts->setAlignment(Qt::AlignCenter);
    sts->setStyleSheet(
        QStringLiteral("QLabel { background-color: #808080; color: white; font-weight: bold; }"));
    cp->setGeometry(twips(2520), twips(1440), kPanelWidth, kPanelHeight);
    // A palette, not a style sheet: a sheet would also paint the labels of every docked panel.
    QPalette white = cp->palette();
    white.setColor(QPalette::Window, Qt::white);
    cp->setPalette(white);
    cp->setAutoFillBackground(true);

    connect(Command1, &QPushButton::clicked, this, &interface::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &interface::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &interface::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &interface::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &interface::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &interface::Command6_Click);

    update->setInterval(100);
    connect(update, &QTimer::timeout, this, &interface::update_Timer);
    update->start();
    Form_Load();
}

interface::~interface() = default;

void interface::Form_Load()
{
    m_frmSysTray = std::make_unique<frmSysTray>(*m_app.platform().shell);
    connectTray();
    m_frmSysTray->AddMenuItem(QStringLiteral("&Open TNLO FB App"), QStringLiteral("open"), true);
    m_frmSysTray->AddMenuItem(QStringLiteral("-"), QString());
    m_frmSysTray->AddMenuItem(QStringLiteral("Login\\Logout"), QStringLiteral("login"));
    m_frmSysTray->AddMenuItem(QStringLiteral("-"), QString());
    m_frmSysTray->AddMenuItem(QStringLiteral("&Exit"), QStringLiteral("Exit"));
    m_frmSysTray->setToolTip(QStringLiteral("TNLO FB App 2.0"));
    m_frmSysTray->setIconHandle(m_app.platform().shell->registerIcon(windowIcon()));
    BallonMsgs = 0;
    showBalloon(QStringLiteral("You can close the main window and reopen me anytime you want from down here"),
                QStringLiteral("Tunalo FB App"), 16);
}

void interface::connectTray()
{
    frmSysTray* tray = m_frmSysTray.get();
    connect(tray, &frmSysTray::MenuClick, this, &interface::m_frmSysTray_MenuClick);
    connect(tray, &frmSysTray::SysTrayDoubleClick, this, &interface::m_frmSysTray_SysTrayDoubleClick);
    connect(tray, &frmSysTray::SysTrayMouseDown, this, &interface::m_frmSysTray_SysTrayMouseDown);
    connect(tray, &frmSysTray::BalloonClicked, this, &interface::m_frmSysTray_BalloonClicked);
}

void interface::Form_Unload()
{
    // Without a notification area a hidden window could never come back, and neither could "&Exit".
    if (m_app.platform().shell->hasNotificationArea())
        hide();
    else
        showMinimized();
}

void interface::closeEvent(QCloseEvent* event)
{
    event->ignore();
    Form_Unload();
}

void interface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_background);
}

void interface::setPublishingLook(bool on)
{
    QFont font = Command1->font();
    font.setBold(on);
    Command1->setFont(font);
    Command1->setText(on ? kStopPublishing : kStartPublishing);
}

void interface::Command1_Click()
{
    AppState& state = m_app.state();
    if (Command1->text() == kStartPublishing) {
        setPublishingLook(true);
        state.publishing = kTrue;
        m_app.checkpublish();
    } else if (Command1->text() == kStopPublishing) {
        setPublishingLook(false);
        state.publishing = kFalse;
    }
}

void interface::Command2_Click()
{
    showhome(m_app);
}

void interface::Command3_Click()
{
    m_app.showplayerpanel();
}

void interface::Command4_Click()
{
    optionsfrm& options = m_app.form<optionsfrm>();
    options.updateoptions();
    dockpanel(*cp, options);
}

void interface::Command5_Click()
{
    dockpanel(*cp, m_app.form<aboutfrm>());
}

void interface::Command6_Click()
{
    dockpanel(*cp, m_app.form<helpfrm>());
}

void interface::update_Timer()
{
    AppState& state = m_app.state();
    const PlayerId player = state.selectedPlayer;
    // Until start-up has chosen a player there is nothing to follow.
    if (player < 0 || player >= kPlayerCount)
        return;
    const PlayerRow& row = playerRow(player);
    if (playerRunning(m_app, player) == kTrue)
        sts->setText(readsong(m_app, player) + QStringLiteral(" - ") + row.source->statusName(m_app, row));
    if (state.publishing != kTrue)
        return;
    state.previousSong = state.currentSong;
    if (playerRunning(m_app, player) == kTrue) {
        state.currentSong = readsong(m_app, player);
        if (state.previousSong != state.currentSong)
            m_app.checkpublish();
    }
}

void interface::showBalloon(const QString& sMessage, const QString& sTitle, std::int32_t eIcon)
{
    // After "&Exit" has taken the icon away nothing can show a balloon any more.
    if (!m_frmSysTray)
        return;
    m_frmSysTray->ShowBalloonTip(sMessage, sTitle, eIcon, 30000);
}

void interface::showInFront()
{
    showNormal();
    raise();
    activateWindow();
}

void interface::m_frmSysTray_MenuClick(std::int32_t, const QString& sKey)
{
    if (sKey == QStringLiteral("Exit")) {
        m_app.platform().settings->save(settings::kApplication, settings::kSection, settings::kLastPlayer,
                                        settings::numberText(m_app.state().selectedPlayer));
        update->stop();
        // The component is still inside its own MenuClick; it goes, taking the icon out of the
        // notification area, once that has returned, and the event loop ends right after.
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_frmSysTray.reset();
                QCoreApplication::quit();
            },
            Qt::QueuedConnection);
    } else if (sKey == QStringLiteral("login")) {
        showhome(m_app);
        showNormal();
    } else if (sKey == QStringLiteral("open")) {
        showNormal();
    }
}

void interface::m_frmSysTray_SysTrayDoubleClick(std::int32_t)
{
    showInFront();
}

void interface::m_frmSysTray_SysTrayMouseDown(std::int32_t eButton)
{
    if (eButton == 2)
        m_frmSysTray->ShowMenu();
    else
        showNormal();
}

void interface::m_frmSysTray_BalloonClicked()
{
    if (BallonMsgs == 1000)
        m_app.postsong();
    if (BallonMsgs == 2000) {
        optionsfrm& options = m_app.form<optionsfrm>();
        options.updateoptions();
        dockpanel(*cp, options);
        showNormal();
    }
}

} // namespace tunalo
