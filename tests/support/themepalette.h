#pragma once

#include <QPalette>

namespace tunalo::test {

// A desktop theme's own dark colours, as Plasma's Breeze Dark sets them: blue-grey window, light
// text, a darker field, bright blue for links and selections.
inline QPalette themeDarkPalette()
{
    const QColor window(0x31, 0x36, 0x3b);
    const QColor base(0x23, 0x26, 0x29);
    const QColor text(0xef, 0xf0, 0xf1);
    QPalette palette(text, window, window.lighter(130), base.darker(130), base, text, text, base, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Link, QColor(0x1d, 0x99, 0xf3));
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    palette.setColor(QPalette::HighlightedText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0xa1, 0xa9, 0xb1));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(0x6e, 0x71, 0x75));
    return palette;
}

} // namespace tunalo::test
