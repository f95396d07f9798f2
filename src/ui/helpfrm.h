#pragma once

#include "ui/panel.h"

class QLabel;

namespace tunalo {

class ShellOpen;

// The instructions panel, with the link to the program's application page.
class helpfrm : public Panel {
public:
    explicit helpfrm(ShellOpen& shellOpen);

    // Opens the application page in the user's browser.
    void Label3_Click();

    QLabel* Label3;

protected:

private:
    ShellOpen& m_shellOpen;
};

// The program's application page.
QString applicationPageAddress();

} // namespace tunalo
