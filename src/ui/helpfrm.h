#pragma once

#include "ui/panel.h"

class QLabel;

namespace tunalo {

class mainmodule;

// The instructions panel, with the link to the program's application page.
class helpfrm : public Panel {
public:
    explicit helpfrm(mainmodule& app);

    // Opens the application page in the user's browser.
    void Label3_Click();

    QLabel* Label3;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    mainmodule& m_app;
};

// The program's application page.
QString applicationPageAddress();

} // namespace tunalo
