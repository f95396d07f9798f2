#pragma once

#include <QString>

namespace tunalo {

// Opens a web address in the user's browser; returns at once and reports nothing.
class ShellOpen {
public:
    virtual ~ShellOpen() = default;
    virtual void open(const QString& address) = 0;
};

} // namespace tunalo
