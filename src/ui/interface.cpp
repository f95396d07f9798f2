#include "ui/interface.h"

#include "core/publishcycle.h"
#include "platform/clock.h"
#include "platform/notifyshell.h"
#include "tray/frmsystray.h"
#include "ui/artwork.h"
#include "ui/coverart.h"
#include "ui/panel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmapCache>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>

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

QPoint placeOnScreens(const QRect& frame, const QList<QRect>& screens)
{
    if (screens.isEmpty())
        return frame.topLeft();
    const QRect* best = &screens.front();
    qint64 bestArea = -1;
    for (const QRect& screen : screens) {
        if (screen.contains(frame))
            return frame.topLeft();
        const QRect common = screen.intersected(frame);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    // Moved in from the right and the bottom first, so that a frame larger than the screen keeps
    // its title bar, at the top left, on it.
    const int x = std::max(best->left(), std::min(frame.left(), best->right() + 1 - frame.width()));
    const int y = std::max(best->top(), std::min(frame.top(), best->bottom() + 1 - frame.height()));
    return {x, y};
}

interface::interface(PublishCycle& cycle, NotifyShell& shell, Clock& clock)
    : Command1(makeButton(kStartPublishing, 1200, 255, this)),
      Command2(makeButton(QStringLiteral("home"), 1560, 1095, this)),
      Command3(makeButton(QStringLiteral("select a media player"), 2760, 1095, this)),
      Command4(makeButton(QStringLiteral("options"), 3960, 1095, this)),
      Command5(makeButton(QStringLiteral("about"), 5160, 1095, this)),
      Command6(makeButton(QStringLiteral("instructions"), 6360, 615, this)),
      sts(new QLabel(QStringLiteral(" you are not listening to any song right now"), this)),
      stsArt(new QLabel(sts)), cp(new QWidget(this)), update(clock.makeTimer([this] { update_Timer(); })),
      m_cycle(cycle), m_shell(shell), m_art(new CoverArt(this))
{
    setWindowTitle(QStringLiteral("TUNALO"));
    setWindowIcon(artwork::programIcon());
    setFixedSize(twips(10470), twips(7080));

    sts->setGeometry(twips(2520), twips(1200), panelWidth(), twips(255));
    sts->setAlignment(Qt::AlignCenter);
    sts->setStyleSheet(
        QStringLiteral("QLabel { background-color: #767676; color: white; font-weight: bold; }"));
    stsArt->setGeometry(0, 0, sts->height(), sts->height());
    stsArt->setScaledContents(true);
    stsArt->hide();
    connect(m_art, &CoverArt::ready, this, &interface::artRead);
    cp->setGeometry(twips(2520), twips(1440), panelWidth(), panelHeight());
    // A palette, not a style sheet: a sheet would also paint the labels of every docked panel.
    paintWhiteUnlessDark(*cp);

    connect(Command1, &QPushButton::clicked, this, &interface::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &interface::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &interface::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &interface::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &interface::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &interface::Command6_Click);

    connect(&m_cycle, &PublishCycle::publishingChanged, this, &interface::setPublishingLook);
    connect(&m_cycle, &PublishCycle::balloon, this, &interface::showBalloon);
    constexpr int kTickMs = 100;
    update->startRepeating(kTickMs);
    Form_Load();
}

interface::~interface() = default;

void interface::Form_Load()
{
    m_frmSysTray = std::make_unique<frmSysTray>(m_shell);
    connectTray();
    m_frmSysTray->AddMenuItem(QStringLiteral("&Open TNLO FB App"), QStringLiteral("open"), true);
    m_frmSysTray->AddMenuItem(QStringLiteral("-"), QString());
    m_frmSysTray->AddMenuItem(QStringLiteral("Login\\Logout"), QStringLiteral("login"));
    m_frmSysTray->AddMenuItem(QStringLiteral("-"), QString());
    m_frmSysTray->AddMenuItem(QStringLiteral("&Exit"), QStringLiteral("Exit"));
    m_frmSysTray->setToolTip(QStringLiteral("TNLO FB App 2.0"));
    m_frmSysTray->setIconHandle(m_shell.registerIcon(windowIcon()));
    m_cycle.BallonMsgs = kClickDoesNothing;
    // The welcome goes out on the next turn of the event loop: asking the desktop for a balloon
    // takes longer than drawing the window, which should not wait for it.
    QTimer::singleShot(0, this, [this] {
        showBalloon(QStringLiteral("You can close the main window and reopen me anytime you want from down here"),
                    QStringLiteral("Tunalo FB App"), static_cast<std::int32_t>(BalloonIcon::Quiet));
    });
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
    // Hidden, not minimised: some window managers (sway's) ignore a minimise, and the window would
    // stay with a blank page. It comes back from the tray icon or, with no notification area, from
    // starting Tunalo again.
    hide();
}

void interface::closeEvent(QCloseEvent* event)
{
    event->ignore();
    Form_Unload();
}

std::optional<QPoint> interface::place() const
{
    if (isVisible())
        return pos();
    return m_place;
}

void interface::setPlace(const QPoint& place)
{
    m_place = place;
}

void interface::setVisible(bool visible)
{
    if (visible && !isVisible() && m_place) {
        QList<QRect> screens;
        for (const QScreen* screen : QGuiApplication::screens())
            screens.append(screen->availableGeometry());
        move(placeOnScreens(QRect(*m_place, frameGeometry().size()), screens));
    }
    QWidget::setVisible(visible);
}

void interface::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    emit shownChanged(true);
}

// A minimized window is still visible; only a hidden one is off the screen. Off the screen the
// window keeps none of its pictures: the background (a window's worth of pixels) and what Qt drew
// and kept for the buttons come again with the next paint. Once Qt is done hiding it, the window
// also gives back its window on the desktop with the image it is drawn into (another window's worth,
// shared with the X server); showing it makes them again.
void interface::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (isVisible())
        return;
    m_place = pos();
    m_background = QPixmap();
    QPixmapCache::clear();
    emit shownChanged(false);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!isVisible())
                destroy();
        },
        Qt::QueuedConnection);
}

bool interface::holdsBackground() const
{
    return !m_background.isNull();
}

void interface::paintEvent(QPaintEvent*)
{
    const qreal ratio = devicePixelRatioF();
    if (m_background.isNull() || m_background.deviceIndependentSize() != QSizeF(size()) ||
        m_background.devicePixelRatio() != ratio)
        m_background = artwork::background(size(), ratio);
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
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
    if (Command1->text() == kStartPublishing)
        m_cycle.startPublishing();
    else if (Command1->text() == kStopPublishing)
        m_cycle.stopPublishing();
}

void interface::Command2_Click()
{
    emit homeWanted();
}

void interface::Command3_Click()
{
    emit playerPanelWanted();
}

void interface::Command4_Click()
{
    emit optionsWanted();
}

void interface::Command5_Click()
{
    emit aboutWanted();
}

void interface::Command6_Click()
{
    emit instructionsWanted();
}

void interface::update_Timer()
{
    if (const std::optional<QString> status = m_cycle.tick())
        sts->setText(*status);
    // A player may give the song's picture a moment after the song.
    followArt(m_cycle.songArt());
}

void interface::followArt(const QString& artUrl)
{
    if (artUrl == m_art->artUrl())
        return;
    // The last song's picture goes at once; the new one shows once it is read.
    m_artPath.clear();
    stsArt->hide();
    m_artReading = true;
    // Read large enough for the balloon's picture too, drawn small in the line.
    constexpr int kArtSide = 64;
    m_art->load(artUrl, kArtSide);
}

void interface::artRead(const QImage& picture, const QString& path)
{
    m_artReading = false;
    m_artPath = path;
    stsArt->setPixmap(QPixmap::fromImage(picture));
    stsArt->setVisible(!picture.isNull());
    if (m_heldBalloon) {
        const Balloon balloon = *std::exchange(m_heldBalloon, std::nullopt);
        showBalloon(balloon.sMessage, balloon.sTitle, balloon.eIcon);
    }
}

void interface::showBalloon(const QString& sMessage, const QString& sTitle, std::int32_t eIcon)
{
    // After "&Exit" has taken the icon away nothing can show a balloon any more.
    if (!m_frmSysTray)
        return;
    // A balloon about a new song waits the moment it takes to read that song's picture, so that it
    // never shows the song before.
    followArt(m_cycle.songArt());
    if (m_artReading) {
        m_heldBalloon = Balloon{sMessage, sTitle, eIcon};
        return;
    }
    m_shell.setBalloonImage(m_artPath);
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
        endProgram();
    } else if (sKey == QStringLiteral("login")) {
        emit homeWanted();
        showNormal();
    } else if (sKey == QStringLiteral("open")) {
        showInFront();
    }
}

void interface::endProgram()
{
    if (m_ending)
        return;
    m_ending = true;
    emit exitChosen();
    update->stop();
    // The component may still be inside its own MenuClick; it goes, taking the icon and its balloon
    // out of the notification area, once that has returned, and the event loop ends right after.
    // When the loop has ended already (the session manager ended it), the window takes the
    // component with it as it goes.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_frmSysTray.reset();
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
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
    m_cycle.BalloonClicked();
}

} // namespace tunalo
