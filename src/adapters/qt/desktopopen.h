#pragma once

#include "platform/shellopen.h"

namespace tunalo {

// Opens web addresses in the user's default browser.
class DesktopShellOpen : public ShellOpen {
public:
    void open(const QString& address) override;
};

} // namespace tunalo
