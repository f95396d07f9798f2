// The person's feed is read back with an XML parser, as a feed reader would.
#include "base/links.h"
#include "site/atom.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string_view>

using namespace tunalo::service;

namespace {

struct Entry {
    std::string id;
    std::string title;
    std::string updated;
    std::string link;
};

struct ParsedFeed {
    std::string error; // empty when the document is well-formed
    std::string title;
    std::string self;
    std::vector<Entry> entries;
};

// Reads the feed as a feed reader would: Expat checks that it is well-formed XML, and with
// namespaces on it gives each element's name as "NAMESPACE local".
class FeedReader {
public:
    ParsedFeed read(const std::string& xml)
    {
        const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreateNS(nullptr, ' '),
                                                                                  XML_ParserFree);
        XML_SetUserData(parser.get(), this);
        XML_SetElementHandler(parser.get(), &FeedReader::started, &FeedReader::ended);
        XML_SetCharacterDataHandler(parser.get(), &FeedReader::characters);
        if (XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_ERROR)
            m_feed.error = XML_ErrorString(XML_GetErrorCode(parser.get()));
        return m_feed;
    }

private:
    static constexpr std::string_view atom = "http://www.w3.org/2005/Atom ";

    static void started(void* data, const XML_Char* element, const XML_Char** attributes)
    {
        auto& reader = *static_cast<FeedReader*>(data);
        auto& feed = reader.m_feed;
        std::string_view name = element;
        if (!name.starts_with(atom))
            feed.error = "element outside the Atom namespace";
        name.remove_prefix(std::min(name.size(), atom.size()));
        std::map<std::string_view, std::string> attribute;
        for (auto at = attributes; *at; at += 2)
            attribute[at[0]] = at[1];
        auto* entry = reader.m_entry;
        reader.m_text = nullptr;
        if (name == "entry") {
            feed.entries.emplace_back();
            reader.m_entry = &feed.entries.back();
        } else if (name == "title") {
            reader.m_text = entry ? &entry->title : &feed.title;
        } else if (name == "id" && entry) {
            reader.m_text = &entry->id;
        } else if (name == "updated" && entry) {
            reader.m_text = &entry->updated;
        } else if (name == "link") {
            if (entry)
                entry->link = attribute["href"];
            else if (attribute["rel"] == "self")
                feed.self = attribute["href"];
        }
        if (reader.m_text)
            reader.m_text->clear();
    }

    static void ended(void* data, const XML_Char* element)
    {
        auto& reader = *static_cast<FeedReader*>(data);
        reader.m_text = nullptr;
        if (std::string_view(element).ends_with(" entry"))
            reader.m_entry = nullptr;
    }

    static void characters(void* data, const XML_Char* text, int length)
    {
        auto& reader = *static_cast<FeedReader*>(data);
        if (reader.m_text)
            reader.m_text->append(text, static_cast<std::size_t>(length));
    }

    ParsedFeed m_feed;
    Entry* m_entry = nullptr;
    std::string* m_text = nullptr; // the element whose text is being read
};

ParsedFeed parse(const std::string& xml)
{
    return FeedReader().read(xml);
}

TEST(PersonAtom, ParsesWithEntriesNewestFirstAndTextIntact)
{
    const std::string site = "https://tunalo.example.org";
    const User person{7, "Élodie"};
    const std::vector<Post> posts = {
        {30, "Élodie", "Tom & Jerry <Live> \"Best\" 'of'", 1700000300},
        {20, "Élodie", "]]> <![CDATA[ &amp; </title>", 1700000200},
        {10, "Élodie", std::string("bell\x07 nul\x01 \xEF\xBF\xBF end"), 1700000100},
    };
    const auto feed = parse(personAtom(person, posts, site));
    ASSERT_EQ(feed.error, "");
    EXPECT_EQ(feed.title, "Élodie on Tunalo");
    EXPECT_EQ(feed.self, site + "/fb/u/%C3%89lodie.atom");
    ASSERT_EQ(feed.entries.size(), 3u);
    EXPECT_EQ(feed.entries[0].title, posts[0].song);
    EXPECT_EQ(feed.entries[1].title, posts[1].song);
    EXPECT_EQ(feed.entries[2].title, "bell\xEF\xBF\xBD nul\xEF\xBF\xBD \xEF\xBF\xBD end")
        << "characters XML cannot carry become U+FFFD";
    EXPECT_EQ(feed.entries[0].updated, "2023-11-14T22:18:20Z");
    EXPECT_GT(feed.entries[0].updated, feed.entries[1].updated);
    EXPECT_EQ(feed.entries[0].link, site + "/fb/u/%C3%89lodie#post-30");
    EXPECT_NE(feed.entries[0].id, feed.entries[1].id);
}

TEST(PersonAtom, AFeedWithoutSongsIsStillAFeed)
{
    const auto feed = parse(personAtom(User{1, "ann"}, {}, "http://127.0.0.1:8631"));
    EXPECT_EQ(feed.error, "");
    EXPECT_EQ(feed.title, "ann on Tunalo");
    EXPECT_TRUE(feed.entries.empty());
}

TEST(PersonLinks, TheFeedSuffixAsksForTheFeed)
{
    const struct {
        std::string tail;
        std::string name;
        bool feed;
    } cases[] = {
        {"ann", "ann", false}, {"ann.atom", "ann", true},           {"a.b.atom", "a.b", true},
        {".atom", "", true},   {"ann.atom.x", "ann.atom.x", false},
    };
    for (const auto& c : cases) {
        const auto request = personRequestFrom(c.tail);
        EXPECT_EQ(request.name, c.name) << c.tail;
        EXPECT_EQ(request.feed, c.feed) << c.tail;
    }
    EXPECT_EQ(personPath("a b/c"), "/fb/u/a%20b%2Fc");
}

} // namespace
