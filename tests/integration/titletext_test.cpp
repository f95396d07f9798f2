#include "adapters/x11/titletext.h"

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

TEST(TitleText, DecodesEachPropertyTypeAndStopsAtTheFirstNul)
{
    struct Case {
        QByteArray bytes;
        TitleEncoding encoding;
        QString title;
    };
    const Case cases[] = {
        {"Caf\xc3\xa9 - Winamp", TitleEncoding::Utf8, QStringLiteral("Caf\u00e9 - Winamp")},
        {"A\xff\xfe"
         "B",
         TitleEncoding::Utf8, QStringLiteral("A\uFFFD\uFFFDB")},
        {QByteArray("Song\0 - Winamp", 14), TitleEncoding::Utf8, QStringLiteral("Song")},
        {"Caf\xe9", TitleEncoding::Latin1, QStringLiteral("Caf\u00e9")},
        {"Caf\xe9 \x1b%G\xe2\x99\xaa\x1b%@ x", TitleEncoding::CompoundText,
         QStringLiteral("Caf\u00e9 \u266a x")},
        {"\x1b-A\xe9t\xe9\x9b"
         "1]",
         TitleEncoding::CompoundText, QStringLiteral("\u00e9t\u00e9")},
        {"\x1b%G\xe2\x99\xaa", TitleEncoding::CompoundText, QStringLiteral("\u266a")}, // never switched back
        {"\x1b", TitleEncoding::CompoundText, QString()},
        {{}, TitleEncoding::Utf8, QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeTitle(c.bytes, c.encoding), c.title) << c.bytes.toHex().constData();
}

} // namespace
} // namespace tunalo::test
