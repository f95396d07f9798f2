#pragma once

#include <QString>

#include <utility>

namespace tunalo {

// What became of a change the user asked for (a setting saved, start at log-in switched): done, or
// refused, with the cause in the user's words ("the file ... is read-only").
class ChangeResult {
public:
    ChangeResult() = default;
    static ChangeResult refused(QString cause) { return ChangeResult(std::move(cause)); }

    bool done() const { return m_cause.isEmpty(); }
    explicit operator bool() const { return done(); }
    // Why the change was refused; empty when it was made.
    const QString& cause() const { return m_cause; }

private:
    explicit ChangeResult(QString cause) : m_cause(std::move(cause))
    {
        if (m_cause.isEmpty())
            m_cause = QStringLiteral("the change could not be made");
    }

    QString m_cause;
};

} // namespace tunalo
