#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

#include <functional>

class QLabel;
class QWidget;

namespace tunalo::paneltext {

inline const QColor kNavy(0, 0, 128);

// Colours are the design's on a light form and the theme's on a dark one; sizes in points are the
// design's, grown with the desktop's font.

// A panel's heading: bold, underlined, navy, 13.5 point.
QLabel* heading(const QString& text, QWidget* parent);
// A label that reads as a link: blue (the theme's link colour), underlined, with the hand pointer.
QLabel* link(const QString& text, QWidget* parent);
// A label at a place given in twips, word-wrapped, in the given colour.
QLabel* label(const QString& text, QWidget* parent, int left, int top, int width, int height,
              const QColor& colour = Qt::black);
// Colours the label's text: the design's colour on a light form, the role's on a dark one.
void setColour(QLabel* label, const QColor& colour, QPalette::ColorRole role = QPalette::WindowText);
// Changes a label's font: size in the design's points (0 keeps it), bold.
void setFont(QLabel* label, qreal points, bool bold);
// Runs clicked when the label is clicked with the left button.
void onClick(QLabel* label, std::function<void()> clicked);

} // namespace tunalo::paneltext
