#include "web/frmweb.h"

#include "core/mainmodule.h"
#include "ui/interface.h"

#include <QVBoxLayout>

namespace tunalo {

// The form lives in the main window's panel container from the start, hidden until it is docked:
// the browser draws through OpenGL, and a window that gains such a child after it is on screen
// is made anew by Qt, which flickers and loses its place and focus.
frmWeb::frmWeb(mainmodule& app)
    : Panel(app.form<interface>().cp), m_wb(app.platform().browsers->createBrowser(this))
{
    hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_wb->widget());
}

frmWeb::~frmWeb() = default;

} // namespace tunalo
