#include "ui/aboutfrm.h"

#include "ui/artwork.h"
#include "ui/paneltext.h"

#include <QLabel>
#include <QPainter>

namespace tunalo {

namespace {
// A label with its own background, so it reads the same over any part of the picture.
QLabel* boxed(QLabel* label, const char* colours)
{
    label->setStyleSheet(QString::fromLatin1(colours));
    label->setContentsMargins(4, 0, 4, 0);
    return label;
}

QColor averageColour(const QPixmap& picture)
{
    return picture.toImage().scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
}
} // namespace

aboutfrm::aboutfrm() : m_picture(artwork::picture(QStringLiteral("flowers")))
{
    // The words stand on the picture, whatever the theme: the form's colours are the picture's own
    // (its average, under the picture where no one sees it) and the design's dark text.
    QPalette onPicture = palette();
    onPicture.setColor(QPalette::Window, averageColour(m_picture));
    onPicture.setColor(QPalette::WindowText, Qt::black);
    setPalette(onPicture);
    using paneltext::label;
    QLabel* title = boxed(label(QStringLiteral("Tunalo FB APP 2.0"), this, 120, 120, 7455, 375),
                          "QLabel { background: black; color: white; }");
    paneltext::setFont(title, 16, true);
    title->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    paneltext::setFont(
        label(QStringLiteral("Made with care by the Tunalo author."), this, 120, 540, 5400, 255), 0, true);
    label(QStringLiteral(
              "Music is better shared. Tunalo lets your friends see what you are listening to, one song at "
              "a time, so that a good song never goes unnoticed."),
          this, 120, 900, 5400, 1095);
    label(QStringLiteral(
              "Have an idea that would make Tunalo better, or a player it should know? Send it to the "
              "author; every idea is read."),
          this, 120, 2400, 5400, 735);
    paneltext::setFont(label(QStringLiteral(" "), this, 120, 3360, 6375, 255, Qt::red), 9, true);
    label(
        QStringLiteral(
            "You can find the Terms And Condition page at the bottom of your TNLO homepage when you log in"),
        this, 120, 3600, 5400, 495, QColor(0, 0, 192));
    paneltext::setFont(label(QStringLiteral("Development:"), this, 120, 4200, 2055, 375), 0, true);
    boxed(label(QStringLiteral(
                    "Built in C++ with Qt for the Linux desktop; the Tunalo service runs as a small C++ "
                    "web server."),
                this, 240, 4560, 5295, 735),
          "QLabel { background: black; color: white; }");
}

void aboutfrm::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_picture);
}

} // namespace tunalo
