#include "app/start.h"

#include "app/mainmodule.h"
#include "platform/realplatform.h"
#include "platform/webengine/webenginebrowsers.h"

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
    prepareWebEngineApplication();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tunalo"));
    QApplication::setQuitOnLastWindowClosed(false);

    const std::unique_ptr<Platform> platform = makeRealPlatform();
    mainmodule app(*platform);
    if (!app.startup()) {
        const InstanceLock::Refusal refusal = platform->lock->refusal();
        std::fprintf(stderr, "tunalo: %s\n", qPrintable(refusal.reason));
        return refusal.anotherInstance ? 0 : 1;
    }
    return QApplication::exec();
}

} // namespace tunalo
