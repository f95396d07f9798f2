#include "ui/interface.h"

#include "core/mainmodule.h"
#include "tray/frmsystray.h"
#include "ui/panel.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace tunalo {

namespace {
QPushButton* makeButton(const QString& caption, int top, int height, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(twips(120), twips(top), twips(2175), twips(height));
    return button;
}
} // namespace

interface::interface(mainmodule& app)
    : Command1(makeButton(QStringLiteral("start publishing"), 1200, 255, this)),
      Command2(makeButton(QStringLiteral("home"), 1560, 1095, this)),
      Command3(makeButton(QStringLiteral("select a media player"), 2760, 1095, this)),
      Command4(makeButton(QStringLiteral("options"), 3960, 1095, this)),
      Command5(makeButton(QStringLiteral("about"), 5160, 1095, this)),
      Command6(makeButton(QStringLiteral("instructions"), 6360, 615, this)),
      sts(new QLabel(QStringLiteral(" you are not listening to any song right now"), this)), cp(new QWidget(this)),
      update(new QTimer(this)), m_app(app)
{
    setWindowTitle(QStringLiteral("TUNALO"));
    setFixedSize(twips(10470), twips(7080));
    sts->setGeometry(twips(2520), twips(1200), kPanelWidth, twips(255));
    sts->setAlignment(Qt::AlignCenter);
    cp->setGeometry(twips(2520), twips(1440), kPanelWidth, kPanelHeight);
    update->setInterval(100);
    Form_Load();
}

interface::~interface() = default;

void interface::Form_Load()
{
    m_frmSysTray = std::make_unique<frmSysTray>(*m_app.platform().shell);
    BallonMsgs = 0;
}

} // namespace tunalo
