#include "text.h"

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
    EXPECT_EQ(countChars(cleanText(std::string(1500, 'x'), 1000)), 1000u);
}

TEST(Escaping, HtmlAndJsonLeaveNoMarkupOrBrokenStrings)
{
    EXPECT_EQ(htmlEscape(R"(<script>"a" & 'b'</script>)"),
              "&lt;script&gt;&quot;a&quot; &amp; &#39;b&#39;&lt;/script&gt;");
    EXPECT_EQ(jsonEscape("say \"hi\"\\\n<b>"), R"(say \"hi\"\\\u000a\u003cb>)");
}
