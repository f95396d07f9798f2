#include "ui/cpanel.h"

#include "ui/info.h"

#include <QLabel>
#include <QStringList>
#include <QWidget>

namespace tunalo {

bool dockpanel(QWidget& container, QWidget& panel)
{
    if (panel.parentWidget() != &container)
        panel.setParent(&container, Qt::Widget);
    panel.move(0, 0);
    panel.resize(container.size());
    panel.show();
    panel.raise();
    return panel.parentWidget() == &container && panel.isVisibleTo(&container);
}

QString wrapMessage(const QString& body)
{
    constexpr int kLineLength = 30;
    constexpr int kMostBreaks = 4;
    QString text;
    if (body.isEmpty())
        return text;
    int lineLength = 0;
    int breaks = 0;
    for (const QString& word : body.split(QLatin1Char(' '))) {
        if (word.size() + lineLength > kLineLength && breaks < kMostBreaks) {
            text += QStringLiteral("\r\n ");
            lineLength = 0;
            ++breaks;
        }
        text += word + QLatin1Char(' ');
        lineLength += word.size() + 1;
    }
    return text;
}

void showmessage(info& panel, QWidget& container, const QString& heading, const QString& body)
{
    panel.title->setText(heading);
    // The label breaks lines at the line feed alone; a carriage return would show as a stray glyph.
    panel.msg->setText(wrapMessage(body).remove(QLatin1Char('\r')));
    dockpanel(container, panel);
}

} // namespace tunalo
