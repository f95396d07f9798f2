#include "base/text.h"

#include <gtest/gtest.h>

using namespace tunalo::service;

TEST(PercentDecode, DecodesEscapesAndKeepsPlusAndMalformedEscapes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Artist%20-%20Title", "Artist - Title"},
        {"C%2B%2B%20a+b", "C++ a+b"}, // a bare + is a plus
        {"AC%2FDC%26Co", "AC/DC&Co"},
        {"100%", "100%"},
        {"%zz%4", "%zz%4"},
        {"caf%C3%A9", "caf\xC3\xA9"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(percentDecode(in), out) << in;
}

TEST(ParseQuery, SplitsOnlyOnRawAmpersandsAndFirstKeyWins)
{
    auto query = parseQuery("/fb/update.php?s=Rock%20%26%20Roll&d=12&s=second&empty");
    EXPECT_EQ(query["s"], "Rock & Roll");
    EXPECT_EQ(query["d"], "12");
    EXPECT_EQ(query.count("empty"), 1u);
    EXPECT_TRUE(parseQuery("/fb/update.php").empty());
    EXPECT_EQ(parseForm("name=Ann+Lee&password=a%2Bb")["name"], "Ann Lee");
    EXPECT_EQ(parseForm("name=Ann+Lee&password=a%2Bb")["password"], "a+b");
}

TEST(CleanText, RepairsInvalidUtf8AndCutsOnCharacters)
{
    const std::string e = "\xC3\xA9"; // é
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(cleanText("ok " + e, 10), "ok " + e);
    EXPECT_EQ(cleanText(e + e + e, 2), e + e) << "the cut falls between characters, not bytes";
    EXPECT_EQ(cleanText("a\xC3", 10), "a" + replacement) << "a truncated sequence";
    EXPECT_EQ(cleanText("\xC0\xAF", 10), replacement + replacement) << "an overlong slash";
    EXPECT_EQ(cleanText("\xED\xA0\x80", 10), replacement + replacement + replacement) << "a surrogate";
    EXPECT_EQ(cleanText("tab\there\n", 20), "tab here ");
    EXPECT_EQ(cleanText(std::string("a\0b", 3), 20), "a b");
    EXPECT_EQ(countChars(cleanText(std::string(1500, 'x'), 1000)), 1000u);
}

TEST(Escaping, HtmlLeavesNoMarkup)
{
    EXPECT_EQ(htmlEscape(R"(<script>"a" & 'b'</script>)"),
              "&lt;script&gt;&quot;a&quot; &amp; &#39;b&#39;&lt;/script&gt;");
}

TEST(IsBlank, NothingButBlanksControlsAndInvisibleCharacters)
{
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"   ", true},
        {std::string("\0\0", 2), true},
        {" \t\r\n\x7F", true},
        {"\xE2\x80\x8B\xC2\xA0\xE3\x80\x80", true}, // zero-width space, no-break and ideographic blanks
        {"\xE2\x80\xAE ", true},                    // a right-to-left override alone
        {" a ", false},
        {" Artist - Song", false},
        {"\xE2\x99\xAB", false}, // a note sign is something to show
    };
    for (const auto& [text, blank] : cases)
        EXPECT_EQ(isBlank(text), blank) << text;
}

TEST(Names, LettersAndDigitsOfOneScriptWithDotUnderscoreAndDash)
{
    const std::pair<std::string, bool> cases[] = {
        {"Ann", true},
        {"ann.lee_2-b", true},
        {"\xC3\x89lodie", true},                        // Élodie
        {"\xD0\x9C\xD0\xB0\xD1\x88\xD0\xB0", true},     // Маша
        {"\xE5\xB1\xB1\xE7\x94\xB0", true},             // 山田
        {"\xE0\xA4\xB0\xE0\xA4\xBE\xE0\xA4\xAE", true}, // राम: a vowel sign is a mark
        {std::string(40, 'a'), true},
        {std::string(41, 'a'), false},
        {"", false},
        {"Ann Lee", false},
        {".ann", false},
        {"ann!", false},
        {"\xE2\x80\x8B", false},    // a zero-width space alone
        {"a\xE2\x80\x8Bnn", false}, // hidden inside
        {"\xE2\x80\xAEnna", false}, // a right-to-left override
        {"ann\x01", false},
        {"\xD0\x90nn", false}, // Cyrillic А before Latin "nn"
        {"\xC3", false},       // ill-formed UTF-8
    };
    for (const auto& [name, valid] : cases)
        EXPECT_EQ(validName(name, 40), valid) << name;
}

TEST(Names, KeysIgnoreCaseCompositionAndCompatibilityForms)
{
    const std::string key = nameKey("\xC3\xA9lodie"); // élodie
    EXPECT_EQ(nameKey("\xC3\x89lodie"), key) << "Élodie";
    EXPECT_EQ(nameKey("E\xCC\x81LODIE"), key) << "É as E and a combining accent";
    EXPECT_EQ(nameKey("\xEF\xBC\xA1nn"), nameKey("ann")) << "a fullwidth A";
    EXPECT_EQ(nameKey("Stra\xC3\x9F"
                      "e"),
              nameKey("STRASSE"));
    EXPECT_NE(nameKey("ann"), nameKey("anna"));
    EXPECT_EQ(nameKey("\xC3"), "");
}
