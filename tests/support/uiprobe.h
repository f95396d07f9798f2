#pragma once

#include "core/mainmodule.h"
#include "support/fakes.h"

#include <QObject>
#include <QStringList>

class QWidget;

namespace tunalo::test {

// The panel that lies in front in the main window's container, or nullptr.
QWidget* frontPanel(mainmodule& app);

// The songs the post browser was sent to post, in order, as the service reads them.
QStringList postedSongs(mainmodule& app);

// Records every balloon the main window shows.
struct BalloonLog {
    explicit BalloonLog(mainmodule& app);
    ~BalloonLog();
    BalloonLog(const BalloonLog&) = delete;
    BalloonLog& operator=(const BalloonLog&) = delete;

    QStringList messages;

private:
    QMetaObject::Connection m_connection;
};

} // namespace tunalo::test
