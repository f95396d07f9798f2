#pragma once

#include "platform/browser.h"
#include "ui/panel.h"

#include <memory>

namespace tunalo {

class BrowserFactory;

// The home browser's form: the service's pages, docked into the main window once the log-in
// state is known.
class frmWeb : public Panel {
public:
    frmWeb(BrowserFactory& browsers, QWidget* container);
    ~frmWeb() override;

    Browser& wb() { return *m_wb; }

private:
    std::unique_ptr<Browser> m_wb;
};

} // namespace tunalo
