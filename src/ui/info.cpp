#include "ui/info.h"

#include <QLabel>

namespace tunalo {

info::info(mainmodule&)
    : title(new QLabel(QStringLiteral("Options"), this)), msg(new QLabel(this)), Picture1(new QLabel(this)),
      Shape1(new QWidget(this))
{
    title->setGeometry(twips(120), twips(120), twips(7455), twips(495));
    msg->setGeometry(twips(120), twips(1080), twips(7455), twips(4095));
    msg->setWordWrap(true);
    msg->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setGeometry(twips(5280), twips(1080), twips(1695), twips(1695));
    Shape1->setGeometry(0, 0, twips(7695), twips(5415));
    Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
}

} // namespace tunalo
