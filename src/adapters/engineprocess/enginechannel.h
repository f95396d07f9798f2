#pragma once

#include "adapters/engineprocess/enginemessage.h"

#include <QLocalSocket>

#include <functional>

namespace tunalo {

// One end of the socket between the program and its browser engine process: messages go out as
// frames and come in whole, however the bytes were cut on the way.
class EngineChannel {
public:
    // descriptor: a connected Unix socket, which the channel owns from now on. received runs for
    // each whole message; ended once, after the other end went away or sent what is no message,
    // never from within send or the constructor.
    EngineChannel(int descriptor, std::function<void(const EngineMessage&)> received, std::function<void()> ended);
    ~EngineChannel();
    EngineChannel(const EngineChannel&) = delete;
    EngineChannel& operator=(const EngineChannel&) = delete;

    void send(const EngineMessage& message);
    // Waits at most timeoutMs for what was sent to be written.
    void flush(int timeoutMs);

private:
    void readAll();
    void end();

    QLocalSocket m_socket;
    EngineFrameReader m_reader;
    std::function<void(const EngineMessage&)> m_received;
    std::function<void()> m_ended;
    bool m_over = false;
};

} // namespace tunalo
