// The pages as a browser lays them out, and the validators that spare feed readers a download.
#include "site/pages.h"
#include "site/validators.h"

#include <gtest/gtest.h>

using namespace tunalo::service;

namespace {

// A right-to-left override with no end of its own reverses everything after it on its line unless
// the song sits in an isolate.
TEST(Pages, EverySongAndNameStandsInAnIsolateOfItsOwn)
{
    const std::string song = "\xE2\x80\xAE" "evil song";
    const std::vector<Post> posts = {{7, "Ann", song, 1700000000}};
    const User ann{1, "Ann"};
    for (const auto& [what, html] : {std::pair{"feed", feedPage(posts)},
                                     std::pair{"home", loggedInPage(ann, posts, "http://127.0.0.1:8631")},
                                     std::pair{"person", personPage(ann, posts)}}) {
        const auto at = html.find(song);
        ASSERT_NE(at, std::string::npos) << what;
        EXPECT_EQ(html.rfind("<bdi>", at), at - 5) << what << ": the song opens an isolate";
        EXPECT_EQ(html.find("</bdi>", at), at + song.size()) << what << ": and closes it before the date";
        EXPECT_LT(html.find("</bdi>", at), html.find("UTC", at)) << what;
        // A song without a break would otherwise push the page out sideways.
        EXPECT_NE(html.find("overflow-wrap:anywhere"), std::string::npos) << what;
    }
    EXPECT_NE(feedPage(posts).find("<bdi>Ann</bdi>"), std::string::npos) << "names are isolated too";
}

// Followers' addresses come from other servers: one that names its account with markup gets
// text on the home page, inside the form field and the link alike.
TEST(Pages, AFollowersAddressIsTextOnTheHomePage)
{
    const std::string hostile = "https://evil.example/u/\"><script>alert(1)</script>";
    Reach reach;
    reach.handle = "@ann@tunalo.example";
    reach.requests = {{hostile, hostile + "/inbox", "", "{}", false}};
    reach.following = {{"https://good.example/u/bo", "https://good.example/u/bo/inbox", "", "{}", true}};
    const auto html = loggedInPage({1, "ann"}, {}, "http://127.0.0.1:8631", reach);
    EXPECT_EQ(html.find("<script>alert"), std::string::npos);
    EXPECT_NE(html.find("value=\"https://evil.example/u/&quot;&gt;&lt;script&gt;"), std::string::npos);
    const auto requests = html.find("Asking to follow you");
    const auto followers = html.find("Your followers");
    ASSERT_NE(requests, std::string::npos);
    ASSERT_NE(followers, std::string::npos);
    EXPECT_NE(html.find("value=\"approve\"", requests), std::string::npos);
    EXPECT_LT(html.find("value=\"refuse\"", requests), followers);
    EXPECT_GT(html.find("value=\"remove\"", requests), followers) << "a follower is removed, not refused";
    EXPECT_EQ(html.find("value=\"approve\"", followers), std::string::npos);
}

Response feedResponse()
{
    Response response{http::status::ok, 11};
    response.set(http::field::content_type, "application/json");
    response.body() = "[]\n";
    return response;
}

TEST(Validators, AClientHoldingTheCurrentVersionGets304)
{
    const std::int64_t modified = 1700000000;
    auto first = feedResponse();
    answerUnlessUnchanged(Request{}, first, modified);
    const std::string etag(first[http::field::etag]);
    ASSERT_EQ(first.result(), http::status::ok);
    ASSERT_EQ(etag.size(), 34u) << etag;
    EXPECT_EQ(first[http::field::last_modified], "Tue, 14 Nov 2023 22:13:20 GMT");

    const struct {
        http::field field;
        std::string value;
        bool unchanged;
    } cases[] = {
        {http::field::if_none_match, etag, true},
        {http::field::if_none_match, "\"other\", W/" + etag, true},
        {http::field::if_none_match, "*", true},
        {http::field::if_none_match, "\"other\"", false},
        {http::field::if_none_match, etag.substr(0, 20), false},
        {http::field::if_modified_since, "Tue, 14 Nov 2023 22:13:20 GMT", true},
        {http::field::if_modified_since, "Wed, 15 Nov 2023 00:00:00 GMT", true},
        {http::field::if_modified_since, "Tue, 14 Nov 2023 22:13:19 GMT", false},
        {http::field::if_modified_since, "yesterday", false},
    };
    for (const auto& c : cases) {
        Request request;
        request.set(c.field, c.value);
        auto response = feedResponse();
        answerUnlessUnchanged(request, response, modified);
        EXPECT_EQ(response.result() == http::status::not_modified, c.unchanged) << c.value;
        EXPECT_EQ(response.body().empty(), c.unchanged) << c.value;
        EXPECT_EQ(response[http::field::etag], etag) << c.value;
    }

    Request both; // If-None-Match decides when both are there
    both.set(http::field::if_none_match, "\"other\"");
    both.set(http::field::if_modified_since, "Wed, 15 Nov 2023 00:00:00 GMT");
    auto response = feedResponse();
    answerUnlessUnchanged(both, response, modified);
    EXPECT_EQ(response.result(), http::status::ok);
}

} // namespace
