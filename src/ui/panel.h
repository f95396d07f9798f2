#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace tunalo {

// The forms were designed for this size of the desktop's font.
constexpr qreal kDesignPoints = 9.0;

// How much larger than designed the forms are drawn: the desktop's font size against the design's,
// never below 1, so a larger font keeps the design's proportions and a smaller one its sizes.
qreal formScale();

// Places and sizes are laid out in twips, fifteen to a pixel at 96 dots per inch and the design's
// font, grown by formScale(); Qt scales the resulting logical pixels to the screen.
int twips(int value);
// A font size of the design, grown by formScale() like the places.
qreal designPoints(qreal points);

// The main window's panel container and every panel docked into it have this size.
int panelWidth();
int panelHeight();

// WCAG's contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double contrastRatio(const QColor& first, const QColor& second);
// A palette whose window is light; the design's colours are made for those.
bool isLight(const QPalette& palette);
// The colour for text drawn on the palette's window: the design's own on a light window; on a dark
// one the palette's role, or its window text where the role would not stand out enough.
QColor textColour(const QPalette& palette, const QColor& design, QPalette::ColorRole role = QPalette::WindowText);

// A borderless form of exactly the panel container's size, white unless it says otherwise; under a
// dark theme it takes the theme's window colour.
class Panel : public QWidget {
public:
    explicit Panel(QWidget* parent = nullptr);

    // Brings the form into being ready to be shown, as a show followed at once by a hide, without
    // putting a window on the screen.
    void loadShownAndHidden();
};

// Paints the widget's background white, the design's, unless the theme is dark.
void paintWhiteUnlessDark(QWidget& widget);

} // namespace tunalo
