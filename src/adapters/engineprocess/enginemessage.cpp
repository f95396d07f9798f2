#include "adapters/engineprocess/enginemessage.h"

#include <QStringDecoder>
#include <QtEndian>

namespace tunalo {

namespace {

using Kind = EngineMessage::Kind;

bool knownKind(std::uint8_t kind)
{
    return (kind >= static_cast<std::uint8_t>(Kind::Navigate) && kind <= static_cast<std::uint8_t>(Kind::Quit)) ||
           kind == static_cast<std::uint8_t>(Kind::Title) || kind == static_cast<std::uint8_t>(Kind::Loaded);
}

template <typename Number>
void appendNumber(QByteArray& bytes, Number number)
{
    char big[sizeof(Number)];
    qToBigEndian(number, big);
    bytes.append(big, sizeof(Number));
}

template <typename Number>
Number numberAt(const QByteArray& bytes, qsizetype at)
{
    return qFromBigEndian<Number>(bytes.constData() + at);
}

// The text in UTF-8, cut where a whole character ends so that the frame stays within its limit.
QByteArray fittingText(const QString& text)
{
    constexpr qsizetype kRoom = kLargestEngineFrame - kEngineMessageFixed;
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= kRoom)
        return utf8;
    qsizetype end = kRoom;
    // Back over the continuation bytes of the character that would be cut.
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    utf8.truncate(end);
    return utf8;
}

} // namespace

QByteArray engineFrame(const EngineMessage& message)
{
    const QByteArray text = fittingText(message.text);
    QByteArray frame;
    frame.reserve(kEngineFrameHeader + kEngineMessageFixed + text.size());
    appendNumber(frame, static_cast<std::uint32_t>(kEngineMessageFixed + text.size()));
    frame.append(static_cast<char>(message.kind));
    frame.append(static_cast<char>(message.browser));
    appendNumber(frame, message.first);
    appendNumber(frame, message.second);
    appendNumber(frame, message.number);
    frame.append(text);
    return frame;
}

void EngineFrameReader::append(const QByteArray& bytes)
{
    if (!m_failed)
        m_buffer.append(bytes);
}

std::optional<EngineMessage> EngineFrameReader::next()
{
    if (m_failed || m_buffer.size() < kEngineFrameHeader)
        return std::nullopt;
    const auto length = numberAt<std::uint32_t>(m_buffer, 0);
    if (length < kEngineMessageFixed || length > kLargestEngineFrame) {
        m_failed = true;
        return std::nullopt;
    }
    if (m_buffer.size() < kEngineFrameHeader + static_cast<qsizetype>(length))
        return std::nullopt;
    const QByteArray body = m_buffer.mid(kEngineFrameHeader, length);
    m_buffer.remove(0, kEngineFrameHeader + length);

    const auto kind = static_cast<std::uint8_t>(body[0]);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(body.mid(kEngineMessageFixed));
    if (!knownKind(kind) || utf8.hasError()) {
        m_failed = true;
        m_buffer.clear();
        return std::nullopt;
    }
    EngineMessage message;
    message.kind = static_cast<Kind>(kind);
    message.browser = static_cast<std::uint8_t>(body[1]);
    message.first = numberAt<std::int32_t>(body, 2);
    message.second = numberAt<std::int32_t>(body, 6);
    message.number = numberAt<std::uint64_t>(body, 10);
    message.text = std::move(text);
    return message;
}

} // namespace tunalo
