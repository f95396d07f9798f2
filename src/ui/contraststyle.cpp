#include "ui/contraststyle.h"

#include "ui/panel.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOption>

namespace tunalo {

namespace {

constexpr double kEdgeContrast = 3.0;

QColor mixed(const QColor& from, const QColor& to, double share)
{
    const auto channel = [share](double a, double b) { return a + (b - a) * share; };
    return QColor::fromRgbF(static_cast<float>(channel(from.redF(), to.redF())),
                            static_cast<float>(channel(from.greenF(), to.greenF())),
                            static_cast<float>(channel(from.blueF(), to.blueF())));
}

} // namespace

QColor edgeColour(const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(QPalette::WindowText);
    // Half-way is softer than the text itself; further only where the window needs it.
    for (int tenths = 5; tenths < 10; ++tenths) {
        const QColor edge = mixed(window, text, tenths / 10.0);
        if (contrastRatio(edge, window) >= kEdgeContrast)
            return edge;
    }
    return text;
}

void ContrastStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const
{
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const bool round = element == PE_IndicatorRadioButton;
    if (!round && element != PE_IndicatorCheckBox && element != PE_FrameLineEdit &&
        element != PE_PanelButtonCommand)
        return;
    // A greyed-out control need not be found.
    if (!(option->state & State_Enabled))
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, round);
    painter->setPen(QPen(edgeColour(option->palette), 1));
    painter->setBrush(Qt::NoBrush);
    const QRectF edge = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    if (round)
        painter->drawEllipse(edge);
    else
        painter->drawRect(edge);
    painter->restore();
}

void useContrastStyle()
{
    if (qobject_cast<ContrastStyle*>(QApplication::style()))
        return;
    QApplication::setStyle(new ContrastStyle(QApplication::style()->name()));
}

} // namespace tunalo
