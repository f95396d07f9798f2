// A page and an Atom feed per person, and the home page that tells the user their address.
#include "servicefixture.h"

using namespace tunalo::service::testkit;

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

} // namespace
