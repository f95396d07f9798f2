#include "adapters/engineprocess/enginechannel.h"

#include <QPointer>
#include <QTimer>

#include <utility>

namespace tunalo {

EngineChannel::EngineChannel(int descriptor, std::function<void(const EngineMessage&)> received,
                             std::function<void()> ended)
    : m_received(std::move(received)), m_ended(std::move(ended))
{
    QObject::connect(&m_socket, &QLocalSocket::readyRead, &m_socket, [this] { readAll(); });
    // The end is told from the event loop, so that whoever gets it may let the channel go.
    QObject::connect(&m_socket, &QLocalSocket::disconnected, &m_socket, [this] { end(); }, Qt::QueuedConnection);
    if (!m_socket.setSocketDescriptor(descriptor, QLocalSocket::ConnectedState, QIODevice::ReadWrite))
        QTimer::singleShot(0, &m_socket, [this] { end(); });
}

EngineChannel::~EngineChannel()
{
    m_socket.disconnect();
}

void EngineChannel::send(const EngineMessage& message)
{
    if (!m_over)
        m_socket.write(engineFrame(message));
}

void EngineChannel::flush(int timeoutMs)
{
    if (!m_over && m_socket.bytesToWrite() > 0)
        m_socket.waitForBytesWritten(timeoutMs);
}

void EngineChannel::readAll()
{
    m_reader.append(m_socket.readAll());
    // received may end the channel, and with it this object.
    const QPointer<QLocalSocket> alive(&m_socket);
    while (alive && !m_over) {
        std::optional<EngineMessage> message = m_reader.next();
        if (!message)
            break;
        m_received(*message);
    }
    if (alive && m_reader.failed())
        QTimer::singleShot(0, &m_socket, [this] { end(); });
}

void EngineChannel::end()
{
    if (std::exchange(m_over, true))
        return;
    m_socket.abort();
    m_ended();
}

} // namespace tunalo
