#include "ui/panel.h"

#include <QPalette>

namespace tunalo {

Panel::Panel(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint)
{
    setFixedSize(kPanelWidth, kPanelHeight);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
}

void Panel::loadShownAndHidden()
{
    setAttribute(Qt::WA_DontShowOnScreen, true);
    show();
    hide();
    setAttribute(Qt::WA_DontShowOnScreen, false);
}

} // namespace tunalo
