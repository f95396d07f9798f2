// A page and an Atom feed per person, the home page that tells the user their address, and the
// validators of every feed.
#include "servicefixture.h"

using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

class PersonPages : public ServiceTest {};

// Where needle first appears in the body, or npos when the request failed.
std::size_t at(const Result& result, const std::string& needle)
{
    return result ? result->body.find(needle) : std::string::npos;
}

TEST_F(PersonPages, PageAndFeedShowOnePersonsSongsNewestFirst)
{
    auto ann = member("Ann");
    auto bob = member("Bob");
    ASSERT_GT(postedId(ann.postSong("Old <Song>")), 0);
    ASSERT_GT(postedId(bob.postSong("Bob's tune")), 0);
    ASSERT_GT(postedId(ann.postSong("New & Song")), 0);

    auto v = visitor();
    const auto page = v.get("/fb/u/ann");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(titleOf(page->body), "Ann on Tunalo") << "found without letter case, shown as written";
    EXPECT_LT(at(page, "New &amp; Song"), at(page, "Old &lt;Song&gt;"));
    EXPECT_EQ(at(page, "Bob"), std::string::npos);
    EXPECT_NE(at(page, R"(type="application/atom+xml" href="/fb/u/Ann.atom")"), std::string::npos);

    const auto feed = v.get("/fb/u/Ann.atom");
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->status, 200);
    EXPECT_EQ(feed->header("Content-Type"), "application/atom+xml; charset=utf-8");
    EXPECT_LT(at(feed, "<title>New &amp; Song</title>"), at(feed, "<title>Old &lt;Song&gt;</title>"));
    EXPECT_NE(at(feed, "href=\"http://127.0.0.1:" + std::to_string(port()) + "/fb/u/Ann.atom\""),
              std::string::npos)
        << "links are absolute, for feed readers";
    EXPECT_EQ(at(feed, "Bob"), std::string::npos);

    EXPECT_FALSE(visitor().signUp("Ann.ATOM", "correct horse")) << "its page would read as Ann's feed";
    for (const auto* missing : {"/fb/u/Nobody", "/fb/u/Nobody.atom", "/fb/u/", "/fb/u/Ann/x"}) {
        const auto result = v.get(missing);
        ASSERT_TRUE(result) << missing;
        EXPECT_EQ(result->status, 404) << missing;
    }
}

// The home page's list follows new posts by itself: its script fetches the list alone, which
// costs a 304 while nothing changed, and only the owner of a session gets it.
TEST_F(PersonPages, TheHomePagesRecentSongsCanBeFetchedAloneAndFollowNewPosts)
{
    auto ann = member("Ann");
    const auto home = ann.get("/fb/tnlouserhome.php");
    ASSERT_TRUE(home);
    EXPECT_NE(at(home, R"(<div id="recent" data-src="/fb/recent")"), std::string::npos);
    EXPECT_NE(at(home, R"(<script src="/fb/recent.js" defer></script>)"), std::string::npos);
    EXPECT_NE(home->header("Content-Security-Policy").find("script-src 'self'; connect-src 'self'"),
              std::string::npos)
        << "the script and its fetch come from the service itself, and nothing else may run";

    const auto empty = ann.get("/fb/recent");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 200);
    EXPECT_EQ(empty->body, "<p>No songs yet.</p>");
    ASSERT_GT(postedId(ann.postSong("Fresh & New")), 0);
    const auto fresh = ann.get("/fb/recent");
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->status, 200);
    EXPECT_NE(at(fresh, "<q><bdi>Fresh &amp; New</bdi></q>"), std::string::npos) << fresh->body;
    EXPECT_EQ(at(fresh, "<html"), std::string::npos) << "the list alone";
    // The same list as the page's own.
    const auto again = ann.get("/fb/tnlouserhome.php");
    ASSERT_TRUE(again);
    EXPECT_NE(at(again, fresh->body), std::string::npos);

    const auto unchanged = ann.get("/fb/recent", {{"If-None-Match", fresh->header("ETag")}});
    ASSERT_TRUE(unchanged);
    EXPECT_EQ(unchanged->status, 304);
    EXPECT_NE(fresh->header("Cache-Control").find("private"), std::string::npos);

    // Another person's list is nobody else's.
    const auto stranger = visitor().get("/fb/recent");
    ASSERT_TRUE(stranger);
    EXPECT_EQ(stranger->status, 403);

    const auto script = visitor().get("/fb/recent.js");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->status, 200);
    EXPECT_EQ(script->header("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_NE(at(script, "fetch("), std::string::npos);
}

TEST_F(PersonPages, HomeShowsTheUserTheirOwnAddress)
{
    auto ann = member("Ann");
    const auto home = ann.get("/fb/tnlouserhome.php");
    ASSERT_TRUE(home);
    EXPECT_EQ(titleOf(home->body), "Login Succsesfull");
    const auto own = "http://127.0.0.1:" + std::to_string(port()) + "/fb/u/Ann";
    EXPECT_NE(at(home, ">" + own + "</a>"), std::string::npos);
    EXPECT_NE(at(home, ">" + own + ".atom</a>"), std::string::npos);
}

TEST_F(PersonPages, BehindAProxyTheAddressesAreThePublicOnes)
{
    member("Ann");
    ServiceProcess behind(database(), folder() / "public.log",
                          {"--public-url", "https://tunalo.example.org"});
    Visitor ann(behind.port());
    ASSERT_TRUE(ann.logIn("Ann", "correct horse"));
    const auto home = ann.get("/fb/tnlouserhome.php", {{"Host", "attacker.example"}});
    EXPECT_NE(at(home, ">https://tunalo.example.org/fb/u/Ann</a>"), std::string::npos);
    EXPECT_EQ(at(home, "attacker.example"), std::string::npos);
    const auto feed = ann.get("/fb/u/Ann.atom");
    EXPECT_NE(at(feed, "<id>https://tunalo.example.org/fb/u/Ann</id>"), std::string::npos);
}

// Ids and links must not follow the Host a reader sends: one entry would get other ids from other
// readers, a request without Host a relative id, and any host a visitor names would be written into
// the links that caches keep. A Host long enough once overflowed the stack of the check on it.
TEST_F(PersonPages, FeedLinksComeFromTheServiceWhateverHostARequestNames)
{
    auto ann = member("Ann");
    ASSERT_GT(postedId(ann.postSong("Song")), 0);
    const auto own = visitor().get("/fb/u/Ann.atom");
    ASSERT_TRUE(own);
    const auto site = "http://127.0.0.1:" + std::to_string(port());
    EXPECT_NE(at(own, "<id>" + site + "/fb/u/Ann</id>"), std::string::npos) << own->body;

    const struct {
        const char* what;
        std::string head;
    } cases[] = {
        {"another host", "HTTP/1.1\r\nHost: evil.example"},
        {"a host of 16,200 characters", "HTTP/1.1\r\nHost: " + std::string(16200, 'a')},
        {"no host", "HTTP/1.0"},
    };
    for (const auto& c : cases) {
        RawConnection connection(port());
        ASSERT_TRUE(connection.send("GET /fb/u/Ann.atom " + c.head + "\r\nConnection: close\r\n\r\n"));
        const auto answer = connection.receive(10s);
        EXPECT_TRUE(answer.starts_with("HTTP/1.")) << c.what;
        EXPECT_NE(answer.find(" 200 OK\r\n"), std::string::npos) << c.what;
        EXPECT_TRUE(answer.ends_with("\r\n\r\n" + own->body)) << c.what << ": the same feed for every reader";
    }
    EXPECT_EQ(visitor().title("/"), "Tunalo service") << "the service goes on";
}

TEST_F(PersonPages, AFeedReaderThatHoldsTheCurrentVersionGets304)
{
    auto ann = member("Ann");
    ASSERT_GT(postedId(ann.postSong("First")), 0);
    auto reader = visitor();
    for (const auto* feed : {"/fb/feed", "/fb/feed.json", "/fb/u/Ann.atom"}) {
        const auto first = reader.get(feed);
        ASSERT_TRUE(first) << feed;
        const auto etag = first->header("ETag");
        EXPECT_FALSE(etag.empty()) << feed;
        EXPECT_FALSE(first->header("Last-Modified").empty()) << feed;

        const auto again = reader.get(feed, {{"If-None-Match", etag}});
        ASSERT_TRUE(again) << feed;
        EXPECT_EQ(again->status, 304) << feed;
        EXPECT_TRUE(again->body.empty()) << feed;
        const auto since = reader.get(feed, {{"If-Modified-Since", first->header("Last-Modified")}});
        ASSERT_TRUE(since) << feed;
        EXPECT_EQ(since->status, 304) << feed;

        ASSERT_GT(postedId(ann.postSong(std::string("After ") + feed)), 0);
        const auto changed = reader.get(feed, {{"If-None-Match", etag}});
        ASSERT_TRUE(changed) << feed;
        EXPECT_EQ(changed->status, 200) << feed;
        EXPECT_NE(changed->header("ETag"), etag) << feed;
        EXPECT_NE(changed->body.find(std::string("After ") + feed), std::string::npos) << feed;
    }
}

} // namespace
