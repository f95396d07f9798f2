#include "ui/paneltext.h"

#include <QEvent>
#include <QMouseEvent>

#include "ui/panel.h"

#include <QLabel>

namespace tunalo::paneltext {

void setColour(QLabel* label, const QColor& colour, QPalette::ColorRole role)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, textColour(palette, colour, role));
    label->setPalette(palette);
}

void setFont(QLabel* label, qreal points, bool bold)
{
    QFont font = label->font();
    if (points > 0)
        font.setPointSizeF(designPoints(points));
    font.setBold(bold);
    label->setFont(font);
}

QLabel* heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    setColour(label, kNavy);
    setFont(label, 13.5, true);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    return label;
}

QLabel* link(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    setColour(label, QColor(0, 0, 192), QPalette::Link);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

QLabel* label(const QString& text, QWidget* parent, int left, int top, int width, int height,
              const QColor& colour)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(twips(left), twips(top), twips(width), twips(height));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setColour(label, colour);
    return label;
}

namespace {

// Turns a left click on the label it watches into a call.
class ClickFilter : public QObject {
public:
    ClickFilter(QLabel* label, std::function<void()> clicked)
        : QObject(label), m_clicked(std::move(clicked))
    {
        label->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_clicked();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_clicked;
};

} // namespace

void onClick(QLabel* label, std::function<void()> clicked)
{
    new ClickFilter(label, std::move(clicked));
}

} // namespace tunalo::paneltext
