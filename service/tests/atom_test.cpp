// The person's feed is read back with an XML parser, as a feed reader would.
#include "site/atom.h"
#include "base/links.h"

#include <QXmlStreamReader>
#include <gtest/gtest.h>

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

ParsedFeed parse(const std::string& xml)
{
    ParsedFeed feed;
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    Entry* entry = nullptr;
    const auto text = [&] { return reader.readElementText().toStdString(); };
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == u"entry")
            entry = nullptr;
        if (!reader.isStartElement())
            continue;
        const auto name = reader.name();
        if (reader.namespaceUri() != u"http://www.w3.org/2005/Atom")
            feed.error = "element outside the Atom namespace";
        if (name == u"entry") {
            feed.entries.emplace_back();
            entry = &feed.entries.back();
        } else if (name == u"title") {
            (entry ? entry->title : feed.title) = text();
        } else if (name == u"id" && entry) {
            entry->id = text();
        } else if (name == u"updated" && entry) {
            entry->updated = text();
        } else if (name == u"link") {
            const auto href = reader.attributes().value("href").toString().toStdString();
            if (entry)
                entry->link = href;
            else if (reader.attributes().value("rel") == u"self")
                feed.self = href;
        }
    }
    if (reader.hasError())
        feed.error = reader.errorString().toStdString();
    return feed;
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
