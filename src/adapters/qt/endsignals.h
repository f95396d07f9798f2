#pragma once

#include "adapters/qt/filedescriptor.h"

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <memory>

namespace tunalo {

// The system's requests to end (SIGTERM at log-out or from a service manager, SIGINT from a
// terminal's Ctrl+C, SIGHUP when the terminal goes) reach the event loop as one call, so the
// program ends the way "&Exit" ends it rather than being cut off where it stood. The handler only
// writes a byte into a pipe; everything else happens in the loop. While an object lives it owns
// those three signals; afterwards they end the process again at once.
class EndSignals : public QObject {
    Q_OBJECT
public:
    explicit EndSignals(std::function<void()> ended);
    ~EndSignals() override;
    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

    // The signals that end the program.
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

private:
    void received();

    std::function<void()> m_ended;
    FileDescriptor m_read{-1};
    FileDescriptor m_write{-1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace tunalo
