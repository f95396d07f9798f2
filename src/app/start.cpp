#include "app/start.h"

#include "app/mainmodule.h"
#include "adapters/dbus/appearance.h"
#include "adapters/qt/endsignals.h"
#include "adapters/realplatform.h"

#include <QApplication>

#include <cstdio>

namespace tunalo {

int start(int argc, char* argv[])
{
    if (!xDisplayReachable()) {
        std::fprintf(
            stderr, "tunalo: cannot reach an X display (DISPLAY=%s); start it from a desktop session\n",
            qEnvironmentVariableIsSet("DISPLAY") ? qPrintable(qEnvironmentVariable("DISPLAY")) : "unset");
        return 2;
    }
    // Window titles need X11, so Tunalo runs on it (XWayland on a Wayland desktop) unless the user
    // chose another platform; asked for at once, Qt tries no Wayland first and prints no error.
    // The choice is not passed on to the programs Tunalo opens, such as the user's browser.
    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformChosen)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    if (!platformChosen)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("tunalo"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt's themes tell it the desktop's fonts and colours where they can; GNOME's dark style only
    // the portal tells.
    if (desktopColourScheme() == ColourScheme::PreferDark)
        preferDarkColours();

    const std::unique_ptr<Platform> platform = makeRealPlatform();
    mainmodule app(*platform);
    const bool atLogIn = QApplication::arguments().contains(QLatin1String(kAutostartArgument));
    if (!app.startup(atLogIn ? StartShown::InTray : StartShown::Window)) {
        const InstanceLock::Refusal refusal = platform->lock->refusal();
        if (!refusal.anotherInstance) {
            std::fprintf(stderr, "tunalo: %s\n", qPrintable(refusal.reason));
            return 1;
        }
        // A start from the menu while Tunalo runs is how a person gets its window back; the
        // desktop's start at log-in leaves the running one as it is.
        if (atLogIn)
            std::fprintf(stderr, "tunalo: %s\n", qPrintable(refusal.reason));
        else if (platform->lock->askToShow())
            std::fprintf(stderr, "tunalo: %s; its window is shown\n", qPrintable(refusal.reason));
        else
            std::fprintf(stderr, "tunalo: %s; it did not answer the request to show its window\n",
                         qPrintable(refusal.reason));
        return 0;
    }
    // Log-out ends the program by a signal, or through the session manager, which ends the event
    // loop; either way it ends as "&Exit" does: the balloon closed, the icon gone, the player
    // saved, and the browsers' cookies written as the profile goes.
    const EndSignals endSignals([&app] { app.end(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&app] { app.end(); });
    return QApplication::exec();
}

} // namespace tunalo
