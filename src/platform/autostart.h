#pragma once

namespace tunalo {

// The argument the desktop starts the program with at log-in: such a start stays in the
// notification area and shows no window.
inline constexpr char kAutostartArgument[] = "--autostart";

// Whether the desktop starts the program when the user logs in.
class Autostart {
public:
    virtual ~Autostart() = default;
    virtual bool isEnabled() const = 0;
    // Switches it on or off; false when the change could not be made, and then nothing changed.
    virtual bool setEnabled(bool on) = 0;
};

} // namespace tunalo
