#include "elsewhere.h"
#include "mastodonserver.h"
#include "servicefixture.h"

#include "base/text.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

using namespace tunalo::service::testkit;
using namespace std::chrono_literals;

namespace {

// The service on a port of its own that stays across restarts (the server keeps the callback
// address it was registered with), allowed to reach the test's Mastodon server on loopback.
class MastodonAccount : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        if (IsSkipped())
            return;
        service().stop(SIGTERM);
        m_port = freePort();
        restartPosting();
    }

    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "the service's log:\n" << allLogs();
        ServiceTest::TearDown();
    }

    void restartPosting()
    {
        m_posting.reset();
        m_posting = std::make_unique<ServiceProcess>(
            database(), folder() / ("posting" + std::to_string(++m_starts) + ".log"),
            std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(m_port), "--allow-private-peers"});
    }

    std::string allLogs() const
    {
        std::string text;
        for (int start = 1; start <= m_starts; ++start)
            text += fileText(folder() / ("posting" + std::to_string(start) + ".log"));
        return text;
    }

    Visitor person(const std::string& name, const std::string& audience = "public")
    {
        return memberAt(m_port, name, audience);
    }

    // What a person does on the home page, and what their browser does after: the form, the
    // server's page (which approves at once), and back to the service.
    void connect(Visitor& person, MastodonServer& server, std::string typed = {})
    {
        if (typed.empty())
            typed = server.origin();
        const auto toServer = person.post("/fb/mastodon/connect", {{"server", typed}});
        ASSERT_TRUE(toServer);
        ASSERT_EQ(toServer->status, 303) << toServer->body;
        const auto authorize = toServer->header("Location");
        ASSERT_TRUE(authorize.starts_with(server.origin() + "/oauth/authorize?")) << authorize;
        Visitor browser(server.port());
        const auto approved = browser.get(authorize.substr(server.origin().size()));
        ASSERT_TRUE(approved);
        ASSERT_EQ(approved->status, 302) << approved->body;
        const auto callback = approved->header("Location");
        const auto site = "http://127.0.0.1:" + std::to_string(m_port);
        ASSERT_TRUE(callback.starts_with(site + "/fb/mastodon/callback?")) << callback;
        const auto target = callback.substr(site.size());
        // From another site the browser brings no session cookie: the page asks again from ours.
        const auto cookieless = Visitor(m_port).get(target);
        ASSERT_TRUE(cookieless);
        EXPECT_NE(cookieless->body.find("http-equiv=\"refresh\" content=\"0;url=/fb/mastodon/callback?"),
                  std::string::npos)
            << cookieless->body;
        EXPECT_NE(cookieless->body.find("&amp;again=1"), std::string::npos);
        if (m_interloper) {
            const auto refused = m_interloper->get(target);
            ASSERT_TRUE(refused);
            EXPECT_EQ(refused->header("Location"), "/fb/tnlouserhome.php?m=mastodonfailed")
                << "a sign-in is finished only by the person who started it";
        }
        const auto back = person.get(target);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->status, 303);
        EXPECT_EQ(back->header("Location"), "/fb/tnlouserhome.php?m=mastodon");
    }

    std::string home(Visitor& person, const std::string& query = {})
    {
        return person.get("/fb/tnlouserhome.php" + query)->body;
    }

    // Each song deleting the one before, as the program posts them; the last post's id.
    std::string postInTurn(Visitor& person, const std::vector<std::string>& songs, std::string previous = {})
    {
        for (const auto& song : songs) {
            const auto title = person.postSong(song, previous);
            EXPECT_TRUE(title.starts_with("Posted ID:")) << title;
            previous = std::to_string(postedId(title));
        }
        return previous;
    }

    int m_port = 0;
    int m_starts = 0;
    Visitor* m_interloper = nullptr; // someone else who opens the person's way back
    std::unique_ptr<ServiceProcess> m_posting;
    MastodonServer m_server;
};

TEST_F(MastodonAccount, ConnectsFromTheHomePageAndEachSongBecomesAStatusOnce)
{
    auto ann = person("ann");
    EXPECT_NE(home(ann).find("Post my songs on my Mastodon account"), std::string::npos);
    connect(ann, m_server, m_server.origin() + "/");
    const auto page = home(ann);
    EXPECT_NE(page.find("Posting as <strong>@ann@127.0.0.1:" + std::to_string(m_server.port()) + "</strong>"),
              std::string::npos)
        << page;

    postInTurn(ann, {"Nina Simone - Feeling Good"});
    const auto standing = m_server.standingOnce([](const auto& statuses) { return statuses.size() == 1; });
    ASSERT_EQ(standing.size(), 1u);
    EXPECT_EQ(standing[0].text, "listening to Nina Simone - Feeling Good");
    EXPECT_EQ(standing[0].visibility, "unlisted");
    const auto requests = m_server.requests();
    const auto posted = std::find_if(requests.begin(), requests.end(), [](const auto& request) {
        return request.target() == "/api/v1/statuses";
    });
    ASSERT_NE(posted, requests.end());
    EXPECT_FALSE(std::string((*posted)["Idempotency-Key"]).empty());

    // A second person on the same server uses the service's one registration there, and their
    // state is theirs: ann's browser cannot finish bob's sign-in.
    auto bob = person("bob", "followers");
    m_server.signInAs("bob");
    m_interloper = &ann;
    connect(bob, m_server);
    m_interloper = nullptr;
    EXPECT_NE(home(ann).find("Posting as <strong>@ann@"), std::string::npos) << "ann's own account stays";
    const auto all = m_server.requests();
    const auto apps = std::count_if(all.begin(), all.end(), [](const auto& r) { return r.target() == "/api/v1/apps"; });
    EXPECT_EQ(apps, 1);
    ASSERT_EQ(ann.post("/fb/mastodon/style", {{"words", "now playing: SONG #np"}, {"visibility", "public"}})->status,
              303);
    postInTurn(bob, {"Bob - Song"});
    postInTurn(ann, {"Ann - Song"});
    const auto three = m_server.standingOnce([](const auto& statuses) { return statuses.size() == 3; });
    std::map<std::string, std::string> visibility;
    for (const auto& status : three)
        visibility[status.text] = status.visibility;
    EXPECT_EQ(visibility["listening to Bob - Song"], "private") << "bob's songs are for his followers";
    EXPECT_EQ(visibility["now playing: Ann - Song #np"], "public");
}

// A run of skipped songs: each new song deletes the one before. Statuses replaced before they
// went out never go, so one status stands at the end, and the deletions stay well inside the
// server's 30 in 30 minutes.
TEST_F(MastodonAccount, ABurstOfSkippedSongsLeavesOneStatusWithinTheDeletionLimit)
{
    auto ann = person("ann");
    connect(ann, m_server);
    std::vector<std::string> songs;
    for (int i = 1; i <= 40; ++i)
        songs.push_back("Band - Song " + std::to_string(i));
    postInTurn(ann, songs);
    const auto standing = m_server.standingOnce([&](const auto& statuses) {
        return statuses.size() == 1 && statuses[0].text == "listening to Band - Song 40";
    });
    ASSERT_EQ(standing.size(), 1u);
    EXPECT_EQ(standing[0].text, "listening to Band - Song 40");
    EXPECT_LT(m_server.deletions(), 30);
    EXPECT_EQ(m_server.statusesPosted(), m_server.deletions() + 1) << "every status but the last was deleted";
    // The service remembers only the status that stands, once its jobs are done.
    std::vector<std::string> kept;
    for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(100ms))
        if ((kept = sql("SELECT count(*) FROM mastodon_statuses")) == std::vector<std::string>{"1"} &&
            sql("SELECT count(*) FROM jobs") == std::vector<std::string>{"0"})
            break;
    EXPECT_EQ(kept, std::vector<std::string>{"1"});
}

// Deletions beyond the server's limit wait until its window starts again, then go: none fails,
// and a song longer than a status may be is cut rather than refused.
TEST_F(MastodonAccount, DeletionsWaitForTheirTurnUnderTheServersLimit)
{
    MastodonServer tight(2, 3s);
    auto ann = person("ann");
    connect(ann, tight);
    std::string previous;
    for (int i = 1; i <= 4; ++i) {
        previous = postInTurn(ann, {"Band - Song " + std::to_string(i)}, previous);
        // Each song is made before the next replaces it, so each one needs its deletion.
        tight.statusRequestsOnce(i);
    }
    postInTurn(ann, {"Band - " + std::string(600, 'x')}, previous);
    const auto standing = tight.standingOnce(
        [](const auto& statuses) { return statuses.size() == 1 && statuses[0].text.size() > 400; }, 30s);
    ASSERT_EQ(standing.size(), 1u);
    EXPECT_EQ(tunalo::service::countChars(standing[0].text), 500u);
    EXPECT_EQ(tight.deletions(), 4);
    const auto requests = tight.requests();
    const auto refused = std::count_if(requests.begin(), requests.end(), [](const auto& r) {
        return r.method() == tunalo::service::http::verb::delete_;
    });
    EXPECT_LE(refused, 5) << "a deletion waits for the window rather than knock again and again";
}

// The service is killed after the server made the status but before its answer came back: the
// job goes again once its lease has run out, under the same Idempotency-Key, and makes no second
// status.
TEST_F(MastodonAccount, AKillBetweenThePostAndItsAnswerStillMakesOneStatus)
{
    auto ann = person("ann");
    connect(ann, m_server);
    m_server.holdStatusAnswers(true);
    postInTurn(ann, {"Band - Kept"});
    ASSERT_EQ(m_server.standingOnce([](const auto& statuses) { return !statuses.empty(); }).size(), 1u);
    m_posting->stop(SIGKILL);
    m_server.holdStatusAnswers(false);
    ASSERT_EQ(m_server.statusRequestsOnce(1), 1);
    restartPosting();
    // Once the lease (45 s) has run out the status is asked for again, and its answer names the
    // status made before, which the next song then deletes.
    ASSERT_EQ(m_server.statusRequestsOnce(2, 70s), 2);
    EXPECT_EQ(m_server.statusesPosted(), 1);
    Visitor afterRestart(m_port);
    afterRestart.cookie() = ann.cookie();
    const auto kept = sql("SELECT id FROM posts ORDER BY id DESC LIMIT 1");
    ASSERT_EQ(kept.size(), 1u);
    postInTurn(afterRestart, {"Band - Next"}, kept[0]);
    const auto standing = m_server.standingOnce([](const auto& statuses) {
        return statuses.size() == 1 && statuses[0].text == "listening to Band - Next";
    });
    ASSERT_EQ(standing.size(), 1u);
    EXPECT_EQ(standing[0].text, "listening to Band - Next");
    EXPECT_EQ(m_server.statusesPosted(), 2);
}

// The person revokes the token on their server: the home page says so and nothing more is sent
// there; stopping revokes the token there. No token ever shows in a page or the log.
TEST_F(MastodonAccount, ARevokedTokenStopsTheStatusesAndSaysSo)
{
    auto ann = person("ann");
    connect(ann, m_server);
    const auto tokens = m_server.liveTokens();
    ASSERT_EQ(tokens.size(), 1u);
    m_server.revokeTokensOf("ann");
    postInTurn(ann, {"Band - Refused"});
    std::string page;
    for (int i = 0; i < 100 && page.find("refused Tunalo (401)") == std::string::npos; ++i) {
        std::this_thread::sleep_for(100ms);
        page = home(ann);
    }
    EXPECT_NE(page.find("refused Tunalo (401)"), std::string::npos) << page;
    const auto tried = m_server.requests().size();
    postInTurn(ann, {"Band - Held"});
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(m_server.requests().size(), tried) << "no request with a token the server refused";
    EXPECT_TRUE(m_server.standing().empty());

    connect(ann, m_server);
    ASSERT_EQ(m_server.liveTokens().size(), 1u);
    const auto all = {tokens[0], m_server.liveTokens()[0]};
    EXPECT_EQ(ann.post("/fb/mastodon/disconnect", {})->status, 303);
    for (int i = 0; i < 50 && !m_server.liveTokens().empty(); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(m_server.liveTokens().empty()) << "stopping revokes the token at the server";
    const auto logs = allLogs();
    page += home(ann);
    for (const auto& token : all) {
        EXPECT_EQ(logs.find(token), std::string::npos);
        EXPECT_EQ(page.find(token), std::string::npos);
    }
}

// What the person types is a server's address and nothing else; anything else is refused before
// any request leaves.
TEST_F(MastodonAccount, OnlyAServersAddressIsTaken)
{
    auto ann = person("ann");
    for (const auto* typed : {"", "  ", "mastodon.social/@ann", "ann@mastodon.social", "https://x.example/?a=b",
                              "java script:alert(1)"}) {
        const auto answer = ann.post("/fb/mastodon/connect", {{"server", typed}});
        ASSERT_TRUE(answer) << typed;
        EXPECT_EQ(answer->header("Location"), "/fb/tnlouserhome.php?m=mastodonserver") << typed;
    }
    EXPECT_TRUE(m_server.requests().empty());
    const auto told = home(ann, "?m=mastodonserver");
    EXPECT_NE(told.find("Please give your Mastodon server"), std::string::npos) << told;

    // A server that cannot be reached: the person hears so on the home page, and nothing is kept.
    const auto nobodyThere = ann.post("/fb/mastodon/connect",
                                      {{"server", "http://127.0.0.1:" + std::to_string(freePort())}});
    ASSERT_TRUE(nobodyThere);
    EXPECT_EQ(nobodyThere->header("Location"), "/fb/tnlouserhome.php?m=mastodonfailed");
    EXPECT_NE(home(ann).find("Post my songs on my Mastodon account"), std::string::npos);
}

} // namespace
