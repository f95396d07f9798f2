#include "ui/helpfrm.h"

#include "platform/shellopen.h"
#include "ui/paneltext.h"

#include <QLabel>

namespace tunalo {

QString applicationPageAddress()
{
    return QStringLiteral("https://www.facebook.com/apps/application.php?id=126439790721473");
}

helpfrm::helpfrm(ShellOpen& shellOpen)
    : Label3(paneltext::link(QStringLiteral("TNLO FB APP Facebook Page"), this)), m_shellOpen(shellOpen)
{
    using paneltext::label;
    // A narrow face keeps every step on its line at the panel's width.
    QFont body(QStringLiteral("Nimbus Sans"));
    body.setPointSizeF(designPoints(8.5));
    setFont(body);
    QLabel* heading = paneltext::heading(QStringLiteral("General Instructions"), this);
    heading->setGeometry(twips(120), twips(120), twips(7335), twips(495));
    heading->setAlignment(Qt::AlignCenter);
    paneltext::setFont(
        label(QStringLiteral("For smooth functioning make sure you do/have done the followings:"), this, 120,
              720, 7335, 255),
        0, true);
    label(QStringLiteral("1. Add The APP In Your Facebook Profile Page By Visiting the"), this, 480, 960,
          6855, 255);
    // The link starts the next line, so a wide font can never push it off the panel.
    QFont linkFont = body;
    linkFont.setUnderline(true);
    Label3->setFont(linkFont);
    const int linkWidth = Label3->fontMetrics().horizontalAdvance(Label3->text()) + 2;
    Label3->setGeometry(twips(600), twips(1200), linkWidth, twips(255));
    QLabel* clickingAdd = label(QStringLiteral(" and clicking add"), this, 600, 1200, 6615, 255);
    clickingAdd->move(Label3->geometry().right() + 1, clickingAdd->y());
    label(QStringLiteral(
              "2. Click On Home -> Login With Your FB Id and Allow This Application Rights To Publish."),
          this, 480, 1560, 6855, 375);
    label(QStringLiteral("3. Play Some Music On Any Of The Supported Application. Click On Select A Media"),
          this, 480, 1920, 6855, 255);
    label(QStringLiteral(" Player And Select Your Music Player."), this, 600, 2160, 6375, 255);
    label(QStringLiteral("4. Then Click On \"Start Publishing\" And You Are Done!."), this, 480, 2520, 6495,
          255);
    paneltext::setFont(label(QStringLiteral("Supported Players:"), this, 480, 3000, 2415, 255), 0, true);
    label(QStringLiteral(
              "The program was developed keeping following vesions in mind: Winamp 5.622 ,VLC Media Player "
              "0.9.4, RealPlayer 11 and MediaMonkey 3.0.2.1134"),
          this, 600, 3240, 6735, 735, QColor(0x60, 0x60, 0x60));
    paneltext::setFont(
        label(QStringLiteral(
                  "Trouble? If Tunalo stops with an error or says a library is missing, install it again "
                  "together with the packages it needs. If the problem stays, report it in the problem "
                  "report section of the Tunalo site or write to the author."),
              this, 240, 4080, 7095, 1095, QColor(128, 0, 0)),
        9.75, false);
    paneltext::onClick(Label3, [this] { Label3_Click(); });
}

void helpfrm::Label3_Click()
{
    m_shellOpen.open(applicationPageAddress());
}

} // namespace tunalo
