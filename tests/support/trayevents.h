#pragma once

#include "tray/frmsystray.h"

#include <QStringList>

namespace tunalo::test {

// Records each event the component raises, as text.
struct TrayEventLog {
    explicit TrayEventLog(frmSysTray& tray)
    {
        const auto add = [this](QString entry) { entries.append(entry); };
        QObject::connect(&tray, &frmSysTray::SysTrayMouseDown,
                         [add](int b) { add(QStringLiteral("down %1").arg(b)); });
        QObject::connect(&tray, &frmSysTray::SysTrayMouseUp,
                         [add](int b) { add(QStringLiteral("up %1").arg(b)); });
        QObject::connect(&tray, &frmSysTray::SysTrayMouseMove, [add] { add(QStringLiteral("move")); });
        QObject::connect(&tray, &frmSysTray::SysTrayDoubleClick,
                         [add](int b) { add(QStringLiteral("double %1").arg(b)); });
        QObject::connect(&tray, &frmSysTray::MenuClick,
                         [add](int i, const QString& k) { add(QStringLiteral("menu %1 %2").arg(i).arg(k)); });
        QObject::connect(&tray, &frmSysTray::BalloonShow, [add] { add(QStringLiteral("show")); });
        QObject::connect(&tray, &frmSysTray::BalloonHide, [add] { add(QStringLiteral("hide")); });
        QObject::connect(&tray, &frmSysTray::BalloonTimeOut, [add] { add(QStringLiteral("timeout")); });
        QObject::connect(&tray, &frmSysTray::BalloonClicked, [add] { add(QStringLiteral("clicked")); });
    }
    QStringList entries;
};

} // namespace tunalo::test
