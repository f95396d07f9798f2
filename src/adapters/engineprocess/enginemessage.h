#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace tunalo {

// One message between the program and its browser engine process. Each names the browser it is
// about (the program numbers them as it makes them) and carries a few numbers and one text, whose
// meaning depends on its kind.
struct EngineMessage {
    enum class Kind : std::uint8_t {
        // The program to the engine.
        Navigate = 1, // text: the address; number: its serial, which Loaded names
        Stop,         // the navigation under way ends as not reached
        Sleep,        // text: the origin of the empty page the browser sleeps on
        Wake,
        Embed,        // number: the program's window to show the page in; first, second: its size
        Resize,       // first, second: the size of that window
        Quit,         // the engine writes its cookies and ends
        // The engine to the program.
        Title = 64, // text: the page's title
        Loaded,     // first: LoadResult::Outcome, second: its code, number: the serial, text: the reason
    };
    Kind kind = Kind::Quit;
    std::uint8_t browser = 0;
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::uint64_t number = 0; // a window, or a navigation's serial
    QString text;

    friend bool operator==(const EngineMessage&, const EngineMessage&) = default;
};

// A message whose fields beyond those given are zero or empty.
inline EngineMessage engineMessage(EngineMessage::Kind kind, std::uint8_t browser = 0, QString text = {},
                                   std::uint64_t number = 0, std::int32_t first = 0, std::int32_t second = 0)
{
    EngineMessage message;
    message.kind = kind;
    message.browser = browser;
    message.first = first;
    message.second = second;
    message.number = number;
    message.text = std::move(text);
    return message;
}

// A frame is a 4-byte big-endian length and that many bytes of message: kind, browser, the numbers
// (big-endian) and the text in UTF-8. Nothing in a frame is trusted: a frame of the wrong length,
// an unknown kind or a text that is not UTF-8 ends the conversation.
constexpr qsizetype kEngineFrameHeader = 4;
constexpr qsizetype kEngineMessageFixed = 1 + 1 + 4 + 4 + 8;
// Titles and addresses fit many times over; a text beyond it is cut on a character's boundary.
constexpr qsizetype kLargestEngineFrame = 64 * 1024;

// The message as one frame, ready to write.
QByteArray engineFrame(const EngineMessage& message);

// Takes the bytes as they come, in pieces of any size, and gives back whole messages in order.
class EngineFrameReader {
public:
    void append(const QByteArray& bytes);
    // The next whole message, if one has come in full. After a bad frame, nothing more.
    std::optional<EngineMessage> next();
    // A frame was too large, too small or not a message; the other side cannot be trusted further.
    bool failed() const { return m_failed; }

private:
    QByteArray m_buffer;
    bool m_failed = false;
};

} // namespace tunalo
