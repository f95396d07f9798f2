#pragma once

#include <QIcon>
#include <QPixmap>

namespace tunalo::artwork {

// The program's icon in every size it ships, for the main window and the tray.
QIcon programIcon();
// One of the pictures shipped with the program: "background", "warning" or "flowers".
QPixmap picture(const QString& name);

} // namespace tunalo::artwork
