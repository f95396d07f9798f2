#include "web/frmweb.h"

#include "core/mainmodule.h"

#include <QVBoxLayout>

namespace tunalo {

frmWeb::frmWeb(mainmodule& app) : m_wb(app.platform().browsers->createBrowser(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_wb->widget());
}

frmWeb::~frmWeb() = default;

} // namespace tunalo
