#include "web/frmweb.h"


#include <QVBoxLayout>

namespace tunalo {

// The form lives in the main window's panel container from the start, hidden until it is docked,
// so the window never takes in a browser while on screen: were the browser drawn through OpenGL,
// Qt would make the window anew, which flickers and loses its place and focus.
frmWeb::frmWeb(BrowserFactory& browsers, QWidget* container)
    : Panel(container), m_wb(browsers.createBrowser(this))
{
    hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_wb->widget());
}

frmWeb::~frmWeb()
{
    // A browser that closes may still report a change of title; nobody listens any more.
    m_wb->setTitleListener({});
}

} // namespace tunalo
