// The page titles the desktop program reads, with a real service over loopback.
#include "servicefixture.h"

#include <nlohmann/json.hpp>


using namespace tunalo::service::testkit;

namespace {

class Protocol : public ServiceTest {};

// Sends a form and returns the body of the page its redirect leads to.
std::string pageAfter(Visitor& v, const std::string& path, const Fields& form)
{
    const auto result = v.post(path, form);
    if (!result || result->status != 303)
        return "(no redirect)";
    const auto page = v.get(result->header("Location"));
    return page ? page->body : "(request failed)";
}

std::string feedJson(Visitor& v)
{
    const auto result = v.get("/fb/feed.json");
    return result ? result->body : std::string{};
}

TEST_F(Protocol, HomeTitleFollowsTheSession)
{
    auto v = visitor();
    EXPECT_EQ(v.title("/"), "Tunalo service");
    const auto out = v.get("/fb/tnlouserhome.php");
    ASSERT_TRUE(out);
    EXPECT_EQ(titleOf(out->body), "failed");
    EXPECT_NE(out->body.find(R"(name="name" maxlength="40" required autofocus)"), std::string::npos)
        << "the log-in form's name field has the focus";
    EXPECT_NE(out->body.find(R"(action="/fb/register")"), std::string::npos);

    ASSERT_TRUE(v.signUp("Ann", "correct horse"));
    const auto in = v.get("/fb/tnlouserhome.php");
    ASSERT_TRUE(in);
    EXPECT_EQ(titleOf(in->body), "Login Succsesfull");
    EXPECT_NE(in->body.find("Ann"), std::string::npos);
    EXPECT_NE(in->body.find(R"(action="/fb/logout")"), std::string::npos);

    const auto logout = v.post("/fb/logout", {});
    ASSERT_TRUE(logout);
    EXPECT_EQ(logout->status, 303);
    EXPECT_EQ(v.title("/fb/tnlouserhome.php"), "failed");

    ASSERT_TRUE(v.logIn("ann", "correct horse")) << "names compare without letter case";
    EXPECT_EQ(v.title("/fb/tnlouserhome.php"), "Login Succsesfull");
}

TEST_F(Protocol, WrongPasswordOrUnknownNameGivesFailedWithAMessage)
{
    member("Ann");
    // The last name would log in if the query were pieced together from strings.
    for (const auto& [name, password] :
         {std::pair{"Ann", "wrong password"}, std::pair{"Nobody", "correct horse"},
          std::pair{"Ann' --", "correct horse"}}) {
        auto v = visitor();
        const auto page = pageAfter(v, "/fb/login", {{"name", name}, {"password", password}});
        EXPECT_TRUE(v.cookie().empty()) << name;
        EXPECT_EQ(titleOf(page), "failed") << name;
        EXPECT_NE(page.find("Wrong name or password"), std::string::npos) << name;
    }
}

TEST_F(Protocol, AccountCreationRefusesBadNamesPasswordsAndTakenNames)
{
    member("Ann");
    const struct {
        const char* name;
        const char* password;
        const char* message;
    } cases[] = {
        {"ANN", "another password", "That name is taken"},
        {"", "long enough", "choose a name of 1 to 40"},
        {"   ", "long enough", "choose a name of 1 to 40"},
        {"a name that is much longer than forty characters", "long enough", "choose a name of 1 to 40"},
        {"Bob", "short", "at least 8 characters"},
    };
    for (const auto& c : cases) {
        auto v = visitor();
        EXPECT_NE(pageAfter(v, "/fb/register", {{"name", c.name}, {"password", c.password}}).find(c.message),
                  std::string::npos)
            << c.name;
        EXPECT_TRUE(v.cookie().empty()) << c.name;
    }
}

TEST_F(Protocol, PostAnswersWithTheNewIdAndWithoutSessionStoresNothing)
{
    auto stranger = visitor();
    EXPECT_EQ(stranger.postSong("Artist - Title"), "failed");

    auto ann = member("Ann");
    const auto first = postedId(ann.postSong("Artist - Title"));
    const auto second = postedId(ann.postSong("Other - Song"));
    ASSERT_GT(first, 0);
    EXPECT_GT(second, first);

    for (const auto* target : {"/fb/update.php", "/fb/update.php?s=", "/fb/update.php?d=1"}) {
        const auto title = ann.title(target);
        EXPECT_EQ(title.find("ID:"), std::string::npos) << target;
        EXPECT_NE(title, "(request failed)");
    }
    const auto json = feedJson(ann);
    EXPECT_EQ(json.find("Artist - Title"), json.rfind("Artist - Title")) << "posted once";
    EXPECT_NE(json.find("\"id\":" + std::to_string(first)), std::string::npos)
        << "the empty posts deleted nothing";
    EXPECT_LT(json.find("Other - Song"), json.find("Artist - Title")) << "newest first";
}

TEST_F(Protocol, DeletesTheOwnPreviousPostButNeverSomeoneElses)
{
    auto ann = member("Ann");
    auto bob = member("Bob");
    const auto annFirst = std::to_string(postedId(ann.postSong("Ann One")));
    const auto bobFirst = std::to_string(postedId(bob.postSong("Bob One")));

    // The desktop program may send the id with a trailing blank.
    EXPECT_GT(postedId(ann.postSong("Ann Two", annFirst + " ")), 0);
    EXPECT_GT(postedId(ann.postSong("Ann Three", bobFirst)), 0) << "a foreign id still posts";
    EXPECT_GT(postedId(ann.postSong("Ann Four", "not a number")), 0);

    const auto json = feedJson(ann);
    EXPECT_EQ(json.find("Ann One"), std::string::npos);
    for (const auto* song : {"Bob One", "Ann Two", "Ann Three", "Ann Four"})
        EXPECT_NE(json.find(song), std::string::npos) << song;
}

TEST_F(Protocol, SongsAreStoredWholeAndShownEscaped)
{
    auto ann = member("Ann");
    const std::string song = "<script>alert(1)</script> Rock & Roll #1 + 50% ? Bj\xC3\xB6rk \xE2\x99\xAB";
    ASSERT_GT(postedId(ann.postSong(song)), 0);

    const auto feed = ann.get("/fb/feed");
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->body.find("<script>"), std::string::npos);
    EXPECT_NE(
        feed->body.find(
            "&lt;script&gt;alert(1)&lt;/script&gt; Rock &amp; Roll #1 + 50% ? Bj\xC3\xB6rk \xE2\x99\xAB"),
        std::string::npos);
    EXPECT_NE(ann.get("/fb/tnlouserhome.php")->body.find("Rock &amp; Roll #1"), std::string::npos);
    const auto json = nlohmann::json::parse(feedJson(ann));
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["song"], song);
    EXPECT_EQ(json[0]["user"], "Ann");
}

TEST_F(Protocol, LongSongsAreCutToAThousandCharacters)
{
    auto ann = member("Ann");
    std::string song;
    for (int i = 0; i < 1200; ++i)
        song += "\xC3\xA9"; // two bytes each: the cut counts characters
    ASSERT_GT(postedId(ann.postSong(song)), 0);
    const auto json = feedJson(ann);
    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += "\xC3\xA9";
    EXPECT_NE(json.find("\"" + thousand + "\""), std::string::npos);
}

TEST_F(Protocol, SessionCookieIsHttpOnlyStrictAndLastsThirtyDays)
{
    auto v = visitor();
    const auto result = v.post("/fb/register", {{"name", "Ann"}, {"password", "correct horse"}});
    ASSERT_TRUE(result);
    const auto cookie = result->header("Set-Cookie");
    const std::string token = cookie.substr(std::min<std::size_t>(cookie.size(), 15), 32);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << cookie;
    EXPECT_EQ(cookie, "tunalo_session=" + token + "; Max-Age=2592000; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_EQ(token.size(), 32u);

    EXPECT_EQ(sql("SELECT (expires_at - " + sqlNow() + " + 60) / 3600 FROM sessions"),
              std::vector<std::string>{"720"})
        << "the stored session ends in 30 days as well";
    EXPECT_EQ(sql("SELECT count(*) FROM sessions WHERE " + sqlHex("token_hash") + " LIKE '%" +
                  cookie.substr(15, 32) + "%'"),
              std::vector<std::string>{"0"})
        << "the token itself is not stored";
    sql("UPDATE sessions SET expires_at = " + sqlNow() + " - 1");
    v.cookie() = cookie.substr(0, cookie.find(';'));
    EXPECT_EQ(v.title("/fb/tnlouserhome.php"), "failed") << "an expired session";

    // A forged or malformed token is no session.
    for (const auto* forged :
         {"tunalo_session=00000000000000000000000000000000", "tunalo_session=zz", "tunalo_session="}) {
        v.cookie() = forged;
        EXPECT_EQ(v.title("/fb/tnlouserhome.php"), "failed") << forged;
    }
}

TEST_F(Protocol, AccountsSessionsAndPostsSurviveARestart)
{
    auto ann = member("Ann");
    const auto id = postedId(ann.postSong("Kept - Song"));
    ASSERT_GT(id, 0);
    const auto cookie = ann.cookie();

    restart();
    Visitor again(port());
    again.cookie() = cookie;
    EXPECT_EQ(again.title("/fb/tnlouserhome.php"), "Login Succsesfull");
    EXPECT_NE(feedJson(again).find("Kept - Song"), std::string::npos);
    EXPECT_GT(postedId(again.postSong("Next - Song", std::to_string(id))), id);
    EXPECT_EQ(feedJson(again).find("Kept - Song"), std::string::npos);
}

} // namespace
