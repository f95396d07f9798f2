#include "ui/smp.h"

#include "core/mainmodule.h"

#include <QLabel>
#include <QRadioButton>

namespace tunalo {

namespace {
const std::array<QString, 4> kCaptions = {QStringLiteral("Winamp"), QStringLiteral("MediaMonkey"),
                                          QStringLiteral("VLC Media Player"), QStringLiteral("RealPlayer")};
}

smp::smp(mainmodule& app) : m_app(app)
{
    for (int index = 0; index < 4; ++index) {
        mp[index] = new QRadioButton(kCaptions[index], this);
        mp[index]->setGeometry(twips(480), twips(960 + 480 * index), twips(2895), twips(375));
        // A button set by the program counts as clicked, like one the user picks.
        connect(mp[index], &QRadioButton::toggled, this, [this, index](bool checked) {
            if (checked)
                mp_Click(index);
        });
        dl[index] = new QLabel(QStringLiteral("Download Winamp"), this);
        dl[index]->setGeometry(twips(3600), twips(960 + 480 * index), twips(3015), twips(375));
    }
}

void smp::mp_Click(int Index)
{
    m_app.state().selectedPlayer = static_cast<PlayerId>(Index);
}

} // namespace tunalo
