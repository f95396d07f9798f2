#pragma once

#include "platform/changeresult.h"

#include <QHash>
#include <QString>

namespace tunalo {

// The values of one section as the store held them at one moment. Keys match without regard to
// letter case, as people write them by hand; of two keys that match, the first one counts.
class SettingsSection {
public:
    // Adds a value unless the section already holds the key.
    void insert(const QString& key, const QString& text)
    {
        const QString name = folded(key);
        if (!m_values.contains(name))
            m_values.insert(name, text);
    }
    // The stored text, or defaultValue when the section does not hold the key.
    QString value(const QString& key, const QString& defaultValue) const
    {
        return m_values.value(folded(key), defaultValue);
    }

private:
    static QString folded(const QString& key) { return key.toCaseFolded(); }

    QHash<QString, QString> m_values;
};

// The per-user settings store: text values under an application, a section and a key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Every value of the section in one read of the store; empty when the application or the
    // section does not exist.
    virtual SettingsSection readSection(const QString& application, const QString& section) = 0;
    // Stores the text, creating the levels that are missing and replacing an earlier value; when
    // the store refuses, nothing changed and the result says why.
    virtual ChangeResult save(const QString& application, const QString& section, const QString& key,
                      const QString& text) = 0;

    // The stored text, or defaultValue when the application, section or key does not exist.
    QString read(const QString& application, const QString& section, const QString& key,
                 const QString& defaultValue)
    {
        return readSection(application, section).value(key, defaultValue);
    }
};

} // namespace tunalo
