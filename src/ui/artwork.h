#pragma once

#include <QIcon>
#include <QPixmap>

class QPainter;

namespace tunalo::artwork {

// The program's icon in every size it ships, for the main window and the tray.
QIcon programIcon();
// One of the pictures shipped with the program: "warning" or "flowers".
QPixmap picture(const QString& name);

// Two beamed eighth notes, the program's mark, drawn into a square of the given side.
void drawNotes(QPainter& painter, qreal side, const QColor& colour);
// The main window's background: the header band with the program's name over dark sound rings,
// drawn for a window of this size on a screen of this pixel ratio. It is drawn in lines and
// letters, not scaled from a picture, so it is sharp at every size the window takes.
QPixmap background(const QSize& size, qreal devicePixelRatio);

} // namespace tunalo::artwork
