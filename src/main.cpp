#include "core/mainmodule.h"
#include "platform/realplatform.h"
#include "platform/webengine/webenginebrowsers.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (!tunalo::xDisplayReachable()) {
        std::fprintf(
            stderr, "tunalo: cannot reach an X display (DISPLAY=%s); start it from a desktop session\n",
            qEnvironmentVariableIsSet("DISPLAY") ? qPrintable(qEnvironmentVariable("DISPLAY")) : "unset");
        return 2;
    }
    tunalo::prepareWebEngineApplication();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tunalo"));
    QApplication::setQuitOnLastWindowClosed(false);

    const auto platform = tunalo::makeRealPlatform();
    tunalo::mainmodule app(*platform);
    if (!app.startup()) {
        const tunalo::InstanceLock::Refusal refusal = platform->lock->refusal();
        std::fprintf(stderr, "tunalo: %s\n", qPrintable(refusal.reason));
        return refusal.anotherInstance ? 0 : 1;
    }
    return QApplication::exec();
}
