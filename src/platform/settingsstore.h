#pragma once

#include <QString>

namespace tunalo {

// The per-user settings store: text values under an application, a section and a key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text, or defaultValue when the application, section or key does not exist.
    virtual QString read(const QString& application, const QString& section, const QString& key,
                         const QString& defaultValue) = 0;
    // Stores the text, creating the levels that are missing and replacing an earlier value.
    virtual void save(const QString& application, const QString& section, const QString& key,
                      const QString& text) = 0;
};

} // namespace tunalo
