// The messages between the program and its browser engine process: whole however the bytes come,
// and nothing but an end from bytes that are no message.
#include "adapters/engineprocess/enginechannel.h"
#include "adapters/engineprocess/enginemessage.h"
#include "support/process.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace tunalo::test {
namespace {

using Kind = EngineMessage::Kind;

std::vector<EngineMessage> someMessages()
{
    return {
        engineMessage(Kind::Navigate, 1, QStringLiteral("http://127.0.0.1:8631/fb/update.php?s=Bj%C3%B6rk"), 7),
        engineMessage(Kind::Embed, 2, {}, 0x1e00003, 640, 480),
        engineMessage(Kind::Title, 2, QStringLiteral("Björk – Jóga ♪ 🎵")),
        engineMessage(Kind::Loaded, 1, QStringLiteral("connection refused"), 0xffffffffffULL, 1, -102),
        engineMessage(Kind::Quit),
    };
}

QByteArray framesOf(const std::vector<EngineMessage>& messages)
{
    QByteArray bytes;
    for (const EngineMessage& message : messages)
        bytes += engineFrame(message);
    return bytes;
}

std::vector<EngineMessage> readAll(EngineFrameReader& reader)
{
    std::vector<EngineMessage> read;
    while (std::optional<EngineMessage> message = reader.next())
        read.push_back(*message);
    return read;
}

TEST(EngineFrames, MessagesComeWholeWhereverTheBytesAreCut)
{
    const std::vector<EngineMessage> messages = someMessages();
    const QByteArray bytes = framesOf(messages);
    // Every frame together, one byte at a time, and every cut into two pieces.
    EngineFrameReader joined;
    joined.append(bytes);
    EXPECT_EQ(readAll(joined), messages);

    EngineFrameReader byteByByte;
    std::vector<EngineMessage> read;
    for (char byte : bytes) {
        byteByByte.append(QByteArray(1, byte));
        for (const EngineMessage& message : readAll(byteByByte))
            read.push_back(message);
    }
    EXPECT_EQ(read, messages);

    for (qsizetype cut = 1; cut < bytes.size(); ++cut) {
        EngineFrameReader reader;
        reader.append(bytes.left(cut));
        std::vector<EngineMessage> pieces = readAll(reader);
        reader.append(bytes.mid(cut));
        for (const EngineMessage& message : readAll(reader))
            pieces.push_back(message);
        ASSERT_EQ(pieces, messages) << "cut at " << cut;
        EXPECT_FALSE(reader.failed());
    }
}

TEST(EngineFrames, ATextTooLongForAFrameIsCutWhereACharacterEnds)
{
    // Three bytes a character: the limit falls inside one.
    const QString title = QString(kLargestEngineFrame, QChar(0x266A));
    const QByteArray frame = engineFrame(engineMessage(Kind::Title, 1, title));
    EXPECT_LE(frame.size(), kEngineFrameHeader + kLargestEngineFrame);
    EngineFrameReader reader;
    reader.append(frame);
    const std::optional<EngineMessage> message = reader.next();
    ASSERT_TRUE(message);
    EXPECT_GT(message->text.size(), 20000);
    EXPECT_TRUE(title.startsWith(message->text));
}

QByteArray frameOfLength(quint32 length, QByteArray body)
{
    char big[4];
    qToBigEndian(length, big);
    return QByteArray(big, 4) + body;
}

TEST(EngineFrames, BytesThatAreNoMessageEndTheConversation)
{
    QByteArray unknownKind = engineFrame(engineMessage(Kind::Wake, 1));
    unknownKind[kEngineFrameHeader] = char(200);
    QByteArray notUtf8 = engineFrame(engineMessage(Kind::Title, 1, QStringLiteral("ab")));
    notUtf8[notUtf8.size() - 1] = char(0xC3);
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"an empty frame", frameOfLength(0, {})},
        {"a frame shorter than a message", frameOfLength(5, "12345")},
        {"a frame longer than any message", frameOfLength(0xFFFFFFFF, QByteArray(100, 'x'))},
        {"just over the limit", frameOfLength(kLargestEngineFrame + 1, {})},
        {"an unknown kind", unknownKind},
        {"a text that is no UTF-8", notUtf8},
    };
    for (const auto& bad : cases) {
        EngineFrameReader reader;
        reader.append(engineFrame(engineMessage(Kind::Quit)) + bad.bytes);
        EXPECT_EQ(reader.next(), engineMessage(Kind::Quit)) << bad.what;
        EXPECT_FALSE(reader.next()) << bad.what;
        EXPECT_TRUE(reader.failed()) << bad.what;
        // Nothing after it counts, not even a good frame.
        reader.append(engineFrame(engineMessage(Kind::Quit)));
        EXPECT_FALSE(reader.next()) << bad.what;
    }
}

// Both ends of a socket pair, as the program and its engine hold them.
struct SocketPair {
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0); }
    int ends[2] = {-1, -1};
};

TEST(EngineChannel, CarriesMessagesBothWaysAndTellsTheOtherEndGoing)
{
    SocketPair pair;
    std::vector<EngineMessage> atEngine;
    std::vector<EngineMessage> atProgram;
    bool programEnded = false;
    EngineChannel program(pair.ends[0], [&](const EngineMessage& message) { atProgram.push_back(message); },
                          [&] { programEnded = true; });
    auto engine = std::make_unique<EngineChannel>(
        pair.ends[1], [&](const EngineMessage& message) { atEngine.push_back(message); }, [] {});
    for (const EngineMessage& message : someMessages())
        program.send(message);
    engine->send(engineMessage(Kind::Title, 1, QStringLiteral("Login Succsesfull")));
    EXPECT_TRUE(runUntil([&] { return atEngine.size() == someMessages().size() && atProgram.size() == 1; }));
    EXPECT_EQ(atEngine, someMessages());
    EXPECT_EQ(atProgram[0].text, QStringLiteral("Login Succsesfull"));

    engine.reset();
    EXPECT_TRUE(runUntil([&] { return programEnded; }));
}

TEST(EngineChannel, AnEndThatSendsGarbageIsEndedWithoutAMessage)
{
    SocketPair pair;
    int messages = 0;
    bool ended = false;
    EngineChannel program(pair.ends[0], [&](const EngineMessage&) { ++messages; }, [&] { ended = true; });
    const QByteArray garbage = frameOfLength(0x7FFFFFFF, "GET / HTTP/1.1\r\n");
    ASSERT_EQ(write(pair.ends[1], garbage.constData(), garbage.size()), garbage.size());
    EXPECT_TRUE(runUntil([&] { return ended; }));
    EXPECT_EQ(messages, 0);
    close(pair.ends[1]);
}

} // namespace
} // namespace tunalo::test
