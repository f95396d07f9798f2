#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace tunalo {

class Clock;
class CoverArt;
class NotifyShell;
class PublishCycle;
class Timer;
class frmSysTray;

// Where a window of this frame shows: where it is, when the whole of it lies on one of the screens;
// otherwise moved onto the screen that holds most of it (the first, when none holds any), as far
// as it must.
QPoint placeOnScreens(const QRect& frame, const QList<QRect>& screens);

// The main window: six buttons, the status line and the container the panels are docked into.
// It owns the tray icon and carries the timer that follows the selected player. What its buttons
// and the tray menu ask for that lies beyond the window, it asks for through its signals.
class interface : public QWidget {
    Q_OBJECT
public:
    interface(PublishCycle& cycle, NotifyShell& shell, Clock& clock);
    ~interface() override;

    void Form_Load();
    // Closing only hides the window, on every desktop.
    void Form_Unload();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();

    // The publish cycle's tick: refreshes the status line and follows the song while publishing.
    void update_Timer();

    void m_frmSysTray_MenuClick(std::int32_t lIndex, const QString& sKey);
    void m_frmSysTray_SysTrayDoubleClick(std::int32_t eButton);
    void m_frmSysTray_SysTrayMouseDown(std::int32_t eButton);
    void m_frmSysTray_BalloonClicked();

    // Shows a balloon on the tray icon for 30 seconds; the publish cycle's balloons come through it
    // with their click set in the cycle's BallonMsgs.
    void showBalloon(const QString& sMessage, const QString& sTitle, std::int32_t eIcon);
    // The publish button's look for publishing on or off.
    void setPublishingLook(bool on);
    // Shows the window, brings it in front and gives it the focus.
    void showInFront();
    // The program's end, however it was asked for ("&Exit", a signal from the system, the
    // session's end): what "&Exit" saves is saved and the icon, with its balloon, leaves the
    // notification area. Only the first call counts.
    void endProgram();

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QLabel* sts;
    QLabel* stsArt; // the song's picture, small, at the start of the status line
    QWidget* cp;
    std::unique_ptr<Timer> update;

    std::unique_ptr<frmSysTray> m_frmSysTray;

    // Where the window is on the desktop (the top left of its frame), or where it was when it last
    // left the screen; empty before it was ever shown or placed.
    std::optional<QPoint> place() const;
    // Where the window shows next, as far as the screens there are then allow.
    void setPlace(const QPoint& place);
    // A window shown again comes back where the person left it, not where the window manager puts a
    // new window.
    void setVisible(bool visible) override;

    // The background picture is in memory: only between the first paint on the screen and the
    // window's going off it.
    bool holdsBackground() const;

signals:
    void homeWanted();
    void playerPanelWanted();
    void optionsWanted();
    void aboutWanted();
    void instructionsWanted();
    // The program ends ("&Exit" or another way to end, see endProgram) once the tray icon is gone.
    void exitChosen();
    // The window went off the screen (closed to the tray) or came onto it.
    void shownChanged(bool shown);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Balloon {
        QString sMessage;
        QString sTitle;
        std::int32_t eIcon;
    };

    void connectTray();
    // Starts reading the followed song's picture when it is a new one.
    void followArt(const QString& artUrl);
    void artRead(const QImage& picture, const QString& path);

    PublishCycle& m_cycle;
    NotifyShell& m_shell;
    QPixmap m_background;
    bool m_ending = false;
    std::optional<QPoint> m_place;
    CoverArt* m_art;
    QString m_artPath;                     // the song's picture file, once it read well
    bool m_artReading = false;             // the song's picture is being read
    std::optional<Balloon> m_heldBalloon;  // waits for the song's picture
};

} // namespace tunalo
