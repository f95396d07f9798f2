#include "web/showhome.h"

#include "core/mainmodule.h"
#include "core/protocoltext.h"
#include "ui/cpanel.h"
#include "ui/interface.h"
#include "web/frmloadhome.h"
#include "web/frmweb.h"

namespace tunalo {

void showhome(mainmodule& app)
{
    app.state().loginState = 0;
    Browser& home = app.form<frmWeb>().wb();
    home.Navigate(app.serviceBase() + qtText(protocol::kRootPath));
    frmloadhome& loader = app.form<frmloadhome>();
    loader.resset();
    dockpanel(*app.form<interface>().cp, loader);
    home.Navigate(app.homePageAddress());
}

} // namespace tunalo
