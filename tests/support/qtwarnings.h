#pragma once

#include <QString>

#include <vector>

namespace tunalo::test {

// From here on a Qt warning fails the running test unless an ExpectQtWarning allows it.
void failOnUnexpectedQtWarnings();

// Allows Qt warnings containing fragment while it lives.
class ExpectQtWarning {
public:
    explicit ExpectQtWarning(QString fragment);
    ~ExpectQtWarning();
    ExpectQtWarning(const ExpectQtWarning&) = delete;
    ExpectQtWarning& operator=(const ExpectQtWarning&) = delete;
    int seen() const;

private:
    std::size_t m_index;
};

} // namespace tunalo::test
