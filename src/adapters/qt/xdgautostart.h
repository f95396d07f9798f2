#pragma once

#include "platform/autostart.h"

#include <QString>

namespace tunalo {

// Start at log-in through the desktop's autostart folder: an entry
// ${XDG_CONFIG_HOME:-~/.config}/autostart/tunalo.desktop whose Exec line starts the program with
// kAutostartArgument.
// The entry is the only record of the choice, so the user's desktop settings and the options
// panel can never disagree. An entry that is a symbolic link is written where it points; a change
// the folder or a protected entry refuses says why.
class XdgAutostart : public Autostart {
public:
    // program: the executable the entry starts, as an absolute path.
    explicit XdgAutostart(QString program, QString entryPath = defaultEntryPath());
    bool isEnabled() const override;
    ChangeResult setEnabled(bool on) override;

    static QString defaultEntryPath();
    // The program as an Exec value: quoted where the desktop entry format needs it.
    static QString execValue(const QString& program);

private:
    QString m_program;
    QString m_entryPath;
};

} // namespace tunalo
