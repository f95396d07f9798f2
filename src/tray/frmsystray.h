#pragma once

#include "platform/notifyshell.h"

#include <QObject>
#include <QString>

#include <cstdint>

namespace tunalo {

// The notification-area icon with its tip, balloon tips and popup menu. Its events are signals.
class frmSysTray : public QObject {
    Q_OBJECT
public:
    explicit frmSysTray(NotifyShell& shell, QObject* parent = nullptr);
    ~frmSysTray() override;

    void ShowBalloonTip(const QString& sMessage, const QString& sTitle, std::int32_t eIcon,
                        std::int32_t lTimeOutMs = 30000);
    QString ToolTip() const;
    void setToolTip(const QString& sTip);
    HICON IconHandle() const;
    void setIconHandle(HICON hIcon);

    std::int32_t AddMenuItem(const QString& sCaption, const QString& sKey, bool bDefault = false);
    void ShowMenu();

signals:
    void SysTrayMouseDown(std::int32_t eButton);
    void SysTrayMouseUp(std::int32_t eButton);
    void SysTrayMouseMove();
    void SysTrayDoubleClick(std::int32_t eButton);
    void MenuClick(std::int32_t lIndex, const QString& sKey);
    void BalloonShow();
    void BalloonHide();
    void BalloonTimeOut();
    void BalloonClicked();

private:
    NotifyShell& m_shell;
};

} // namespace tunalo
