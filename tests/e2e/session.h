#pragma once

#include "serviceprocess.h"
#include "support/playerwindow.h"
#include "support/process.h"
#include "support/standinservice.h"

#include <QPoint>
#include <QRect>
#include <QString>

#include <memory>

namespace tunalo::test {

// A user's desktop session: the reference service on loopback with an account, a player window,
// and Tunalo, driven from outside with xdotool as a person would.
class Session {
public:
    static constexpr const char* kName = "alice";
    // No blanks: a blank typed while a button has the focus would press it.
    static constexpr const char* kPassword = "correct-horse-battery";

    // serviceOptions go to the reference service's command line.
    explicit Session(const QString& playerTitle, const std::vector<std::string>& serviceOptions = {});

    // Starts Tunalo and waits for its main window.
    bool startProgram();
    QProcess& program() { return *m_program; }
    ProgramUnderTest& programFiles() { return m_files; }
    PlayerWindow& player() { return m_player; }
    service::testkit::ServiceProcess& service() { return *m_service; }
    // A front before the service that can hold posts back or go down; once asked for before
    // startProgram, Tunalo talks to the service through it.
    StandInProxy& front();

    // Logs in through the service's page in Tunalo's home browser; true once the service has
    // answered the log-in.
    bool logIn();
    // Clicks the middle of a control placed at (left, top, width, height) twips in the main window.
    void click(int left, int top, int width, int height, int button = 1);
    // Clicks a control of a panel docked in the main window's container.
    void clickInPanel(int left, int top, int width, int height);
    void pressStartPublishing();

    // The songs in the service's feed, newest first.
    QStringList feed();
    // Waits until the feed is exactly songs.
    bool waitForFeed(const QStringList& songs);
    // Lines of the service's request log.
    QStringList requests();
    // Waits until the service's log holds count requests for the post page; true when it holds
    // exactly that many.
    bool waitForPosts(qsizetype count);
    QString settingsValue(const QString& key);

    // Tunalo's balloon and tray icon as they are on the screen now; an empty rectangle when not shown.
    QRect balloon();
    QRect trayIcon();
    // Clicks the middle of a place on the screen.
    void clickOnScreen(const QRect& place, int button = 1);

    // A picture of the whole desktop, for a failure's message; says where it went.
    std::string screenshot(const QString& name);

private:
    quint32 findMainWindow();
    // Tunalo's own windows that are on the screen, other than its main window.
    QList<QRect> programWindows();

    service::testkit::TempDir m_dir;
    std::unique_ptr<service::testkit::ServiceProcess> m_service;
    std::unique_ptr<StandInProxy> m_front;
    PlayerWindow m_player;
    ProgramUnderTest m_files;
    QProcess* m_program = nullptr;
    quint32 m_mainWindow = 0;
};

} // namespace tunalo::test
