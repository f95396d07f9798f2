#pragma once

#include "platform/settingsstore.h"

#include <QString>

namespace tunalo {

// The settings store as INI files a person can read and edit: one file per application in the
// user's configuration folder, one [section] per section, key="value" lines; section and key names
// match without regard to letter case. Every read of a section reads and parses the file once,
// afresh; every save replaces the file atomically under a file lock, keeping what else it holds.
// A file that is a symbolic link is replaced where the link points, and the link stays; a file
// without write permission is not replaced. A failure is told on stderr with its cause, once per
// cause, and returned with it.
class IniSettingsStore : public SettingsStore {
public:
    // folder: where the files live; by default ${XDG_CONFIG_HOME:-~/.config}.
    explicit IniSettingsStore(QString folder = defaultFolder());

    SettingsSection readSection(const QString& application, const QString& section) override;
    ChangeResult save(const QString& application, const QString& section, const QString& key,
                      const QString& text) override;

    static QString defaultFolder();
    QString filePath(const QString& application) const;

private:
    void warn(QString& lastWarning, const QString& message);

    QString m_folder;
    QString m_readWarning;
    QString m_writeWarning;
};

} // namespace tunalo
