#pragma once

#include <QProxyStyle>

namespace tunalo {

// The desktop's style with the edges of the controls made to stand out, 3:1 against the window
// behind them, in light colours and dark: the box of a check box, the ring of an option button, the
// frame of a text field and of a button. Styles draw some of them too faint: Fusion a button's edge
// pale grey on a white panel, Breeze Dark an unticked box dark on dark.
class ContrastStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

// The colour of a control's edge on the palette's window: the window's text colour as far toward
// the window as still stands out 3:1 from it.
QColor edgeColour(const QPalette& palette);

// Wraps the application's style in the contrasting one, once.
void useContrastStyle();

} // namespace tunalo
