#pragma once

#include "platform/settingsstore.h"

#include <QString>

namespace tunalo {

// The settings store as INI files a person can read and edit: one file per application in the
// user's configuration folder, one [section] per section, key="value" lines. Every read reads the
// file afresh; every save replaces the file atomically under a file lock, keeping what else it holds.
class IniSettingsStore : public SettingsStore {
public:
    // folder: where the files live; by default ${XDG_CONFIG_HOME:-~/.config}.
    explicit IniSettingsStore(QString folder = defaultFolder());

    QString read(const QString& application, const QString& section, const QString& key,
                 const QString& defaultValue) override;
    void save(const QString& application, const QString& section, const QString& key,
              const QString& text) override;

    static QString defaultFolder();
    QString filePath(const QString& application) const;

private:
    void warnOnce(bool& warned, const QString& message);

    QString m_folder;
    bool m_warnedRead = false;
    bool m_warnedWrite = false;
};

} // namespace tunalo
