// A program that holds one tray icon on the real shell and says on stdout when the icon is
// docked, so a test can start a notification area after it.
#include "adapters/qt/trayshell.h"
#include "tray/frmsystray.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    tunalo::QtTrayShell shell;
    std::printf("notification area: %s\n", shell.hasNotificationArea() ? "yes" : "no");
    std::fflush(stdout);
    tunalo::frmSysTray tray(shell);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String("QSystemTrayIconSys") && widget->isVisible()) {
                std::printf("docked %llu\n", static_cast<unsigned long long>(widget->winId()));
                std::fflush(stdout);
                poll.stop();
            }
    });
    poll.start(100);
    return application.exec();
}
