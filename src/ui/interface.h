#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace tunalo {

class mainmodule;
class frmSysTray;

// The main window: six buttons, the status line and the container the panels are docked into.
// It owns the tray icon and carries the timer that follows the selected player.
class interface : public QWidget {
    Q_OBJECT
public:
    explicit interface(mainmodule& app);
    ~interface() override;

    void Form_Load();
    // Closing only hides the window (or minimizes it where nothing could bring it back).
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

    // The title of the publish cycle's and the posts' balloons, and their eIcon: no icon, no sound.
    static constexpr QLatin1String kBalloonTitle{"Tunalo"};
    static constexpr std::int32_t kNoIconNoSound = 16;

    // Shows a balloon on the tray icon for 30 seconds; callers set BallonMsgs first.
    void showBalloon(const QString& sMessage, const QString& sTitle, std::int32_t eIcon);
    // The publish button's look for publishing on or off.
    void setPublishingLook(bool on);
    // Shows the window, brings it in front and gives it the focus.
    void showInFront();

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QLabel* sts;
    QWidget* cp;
    QTimer* update;

    // What a click on the balloon now shown does: 0 nothing, 1000 post the song, 2000 open the options.
    std::int32_t BallonMsgs = 0;
    std::unique_ptr<frmSysTray> m_frmSysTray;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void connectTray();

    mainmodule& m_app;
    QPixmap m_background;
};

} // namespace tunalo
