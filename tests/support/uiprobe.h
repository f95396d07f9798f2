#pragma once

#include "app/mainmodule.h"
#include "support/fakes.h"

#include <QObject>
#include <QStringList>

class QWidget;

namespace tunalo::test {

// The panel that lies in front in the main window's container, or nullptr.
QWidget* frontPanel(mainmodule& app);

// The songs the post browser was sent to post, in order, as the service reads them.
QStringList postedSongs(mainmodule& app);

// From now on the post browser confirms every post at once, as a quick service does, with the ids
// 1, 2, 3 ...
void answerEveryPost(mainmodule& app);

// The balloons the tray component hands to the shell from the moment the log is made.
class BalloonLog {
public:
    explicit BalloonLog(const FakeNotifyShell& shell) : m_shell(shell), m_from(shell.calls.size()) {}

    QStringList messages() const;

private:
    const FakeNotifyShell& m_shell;
    std::size_t m_from;
};

} // namespace tunalo::test
