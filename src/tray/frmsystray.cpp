#include "tray/frmsystray.h"

namespace tunalo {

frmSysTray::frmSysTray(NotifyShell& shell, QObject* parent) : QObject(parent), m_shell(shell) {}

frmSysTray::~frmSysTray() = default;

void frmSysTray::ShowBalloonTip(const QString&, const QString&, std::int32_t, std::int32_t) {}

QString frmSysTray::ToolTip() const { return {}; }

void frmSysTray::setToolTip(const QString&) {}

HICON frmSysTray::IconHandle() const { return 0; }

void frmSysTray::setIconHandle(HICON) {}

std::int32_t frmSysTray::AddMenuItem(const QString&, const QString&, bool) { return 0; }

void frmSysTray::ShowMenu() {}

} // namespace tunalo
