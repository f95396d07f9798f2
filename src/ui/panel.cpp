#include "ui/panel.h"

#include <QFontInfo>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace tunalo {

namespace {
// How much larger than the design's the desktop's font is, never below 1.
qreal fontScale()
{
    const QFont font = QGuiApplication::font();
    const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
    return std::max<qreal>(1.0, points / kDesignPoints);
}
} // namespace

qreal formScale()
{
    // Text does not grow quite in proportion with its font: glyphs land on whole pixels, so a
    // line of a larger font can be some per cent wider than the design's line scaled. The places
    // grow by that much more than the font once it is larger than the design's.
    const qreal font = fontScale();
    constexpr qreal kHeadroom = 1.06;
    return font > 1.0 ? font * kHeadroom : 1.0;
}

int twips(int value)
{
    // At the design's font this is exactly the whole pixels of the design.
    return static_cast<int>(std::floor(value * formScale() / 15.0));
}

qreal designPoints(qreal points)
{
    return points * fontScale();
}

int panelWidth()
{
    return twips(7815);
}

int panelHeight()
{
    return twips(5535);
}

namespace {
double luminance(const QColor& colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}
} // namespace

double contrastRatio(const QColor& first, const QColor& second)
{
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

bool isLight(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() >= 128;
}

QColor textColour(const QPalette& palette, const QColor& design, QPalette::ColorRole role)
{
    if (isLight(palette))
        return design;
    constexpr double kReadable = 4.5;
    const QColor themed = palette.color(role);
    return contrastRatio(themed, palette.color(QPalette::Window)) >= kReadable ? themed
                                                                                 : palette.color(QPalette::WindowText);
}

void paintWhiteUnlessDark(QWidget& widget)
{
    if (isLight(widget.palette())) {
        QPalette white = widget.palette();
        white.setColor(QPalette::Window, Qt::white);
        widget.setPalette(white);
    }
    widget.setAutoFillBackground(true);
}

Panel::Panel(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint)
{
    setFixedSize(panelWidth(), panelHeight());
    paintWhiteUnlessDark(*this);
}

void Panel::loadShownAndHidden()
{
    setAttribute(Qt::WA_DontShowOnScreen, true);
    show();
    hide();
    setAttribute(Qt::WA_DontShowOnScreen, false);
}

} // namespace tunalo
