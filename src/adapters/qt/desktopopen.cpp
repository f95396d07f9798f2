#include "adapters/qt/desktopopen.h"

#include <QDesktopServices>
#include <QUrl>

namespace tunalo {

void DesktopShellOpen::open(const QString& address)
{
    QDesktopServices::openUrl(QUrl(address));
}

} // namespace tunalo
