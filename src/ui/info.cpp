#include "ui/info.h"

#include "ui/artwork.h"
#include "ui/paneltext.h"

#include <QFrame>
#include <QLabel>

namespace tunalo {

info::info()
    : title(paneltext::heading(QStringLiteral("Options"), this)),
      // The text stops short of the warning sign, so the sign never hides a word.
      msg(paneltext::label(QString(), this, 120, 1080, 5040, 4095, QColor(128, 0, 0))),
      Picture1(new QLabel(this)), Shape1(new QFrame(this))
{
    title->setGeometry(twips(120), twips(120), twips(7455), twips(495));
    QFont message(QStringLiteral("Nimbus Sans"));
    message.setPointSizeF(designPoints(13));
    msg->setFont(message);
    msg->setAttribute(Qt::WA_TranslucentBackground);
    Picture1->setGeometry(twips(5280), twips(1080), twips(1695), twips(1695));
    Picture1->setPixmap(artwork::picture(QStringLiteral("warning")));
    Picture1->setAlignment(Qt::AlignCenter);
    Shape1->setGeometry(0, 0, twips(7695), twips(5415));
    Shape1->setStyleSheet(QStringLiteral("QFrame { border: 2px solid red; background: transparent; }"));
    Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
    Shape1->lower();
}

} // namespace tunalo
