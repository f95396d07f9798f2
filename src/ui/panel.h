#pragma once

#include <QWidget>

namespace tunalo {

// Places and sizes are laid out in twips, fifteen to a pixel at 96 dots per inch; Qt scales the
// resulting logical pixels to the screen.
constexpr int twips(int value)
{
    return value / 15;
}

// The main window's panel container and every panel docked into it have this size.
constexpr int kPanelWidth = twips(7815);
constexpr int kPanelHeight = twips(5535);

// A borderless form of exactly the panel container's size, white unless it says otherwise.
class Panel : public QWidget {
public:
    explicit Panel(QWidget* parent = nullptr);

    // Brings the form into being ready to be shown, as a show followed at once by a hide, without
    // putting a window on the screen.
    void loadShownAndHidden();
};

} // namespace tunalo
