// Interoperability judged by an ActivityPub implementation nobody here wrote: a friend's server made
// with Fedify (tests/fediverse/follower.mjs on Node 22) finds a person by WebFinger, follows them,
// verifies what the service signs and sends, and signs what the service's inbox must take or refuse.
#include "elsewhere.h"
#include "servicefixture.h"

#include <nlohmann/json.hpp>

#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tunalo::service::testkit;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const fs::path fediverseDir = TUNALO_FEDIVERSE_DIR;

// Why the follower cannot run here, or "" when Node 22 and Fedify are installed.
std::string whyNoFedify()
{
    if (fs::exists(fediverseDir / "node_modules/.bin/node") && fs::exists(fediverseDir / "node_modules/@fedify/fedify"))
        return {};
    const auto npm = fileText(fediverseDir / "unavailable");
    return "Node 22 and Fedify are not installed in " + fediverseDir.string() + " (scripts/setup installs them)" +
           (npm.empty() ? "" : ": " + npm);
}

// The follower on Node 22, its stdout and stderr (Fedify's log) in a file; killed when destroyed.
// Its switches make it another kind of server (follower.mjs says which).
class Follower {
public:
    explicit Follower(fs::path log, std::vector<std::string> switches = {}) : m_log(std::move(log))
    {
        const auto node = (fediverseDir / "node_modules/.bin/node").string();
        const auto script = (fediverseDir / "follower.mjs").string();
        m_pid = ::fork();
        if (m_pid < 0)
            throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            const int fd = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
            std::vector<char*> argv = {const_cast<char*>(node.c_str()), const_cast<char*>(script.c_str())};
            for (auto& each : switches)
                argv.push_back(each.data());
            argv.push_back(nullptr);
            ::execv(node.c_str(), argv.data());
            ::_exit(127);
        }
        // Its first line names its port ("follower listening on http://127.0.0.1:PORT").
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (m_port == 0 && std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                throw std::runtime_error("the follower ended at start:\n" + fileText(m_log));
            }
            std::this_thread::sleep_for(50ms);
            m_port = listeningPort(fileText(m_log));
        }
        if (m_port == 0)
            throw std::runtime_error("the follower did not start:\n" + fileText(m_log));
    }

    ~Follower()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // Runs a command; its JSON answer, or {"error": ...} when it failed.
    Json command(const std::string& name, const Json& arguments = Json::object())
    {
        const auto answer = Visitor(m_port).send("POST", "/control/" + name, {{"Content-Type", "application/json"}},
                                                 arguments.dump());
        if (!answer)
            return {{"error", "no answer from the follower"}};
        auto result = Json::parse(answer->body, nullptr, false);
        return result.is_discarded() ? Json{{"error", answer->body}} : result;
    }

    // Every activity the follower's inboxes took, once there are at least `count` or after 20 seconds.
    Json received(std::size_t count = 0)
    {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        auto all = command("received");
        while ((!all.is_array() || all.size() < count) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
            all = command("received");
        }
        return all;
    }

    const fs::path& log() const { return m_log; }

private:
    fs::path m_log;
    pid_t m_pid = -1;
    int m_port = 0;
};

// The service with a public address of its own, allowed to reach the follower on loopback, and the
// follower. A failing test shows both logs: what the service did and what Fedify said of it.
class Fediverse : public ServiceTest {
protected:
    void SetUp() override
    {
        if (const auto why = whyNoFedify(); !why.empty())
            GTEST_SKIP() << why;
        ServiceTest::SetUp();
        if (IsSkipped())
            return;
        // The fixture's own instance does not federate.
        service().stop(SIGTERM);
        m_port = freePort();
        m_federating = std::make_unique<ServiceProcess>(
            database(), folder() / "federating.log",
            std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(m_port), "--public-url", site(),
                                     "--allow-private-peers"});
        m_follower = std::make_unique<Follower>(folder() / "follower.log");
    }

    void TearDown() override
    {
        if (HasFailure() && m_follower) {
            std::cout << "--- the follower's log (Fedify):\n" << fileText(m_follower->log())
                      << "--- the service's log:\n" << fileText(folder() / "federating.log");
        }
        m_follower.reset();
        m_federating.reset();
        ServiceTest::TearDown();
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string site() const { return "http://" + host(); }
    std::string actorOf(const std::string& name) const { return site() + "/fb/u/" + name; }

    Visitor person(const std::string& name)
    {
        Visitor v(m_port);
        EXPECT_TRUE(v.signUp(name, "correct horse")) << name;
        return v;
    }

    // A person whose songs everyone may see, whose follows are accepted at once.
    Visitor personForEveryone(const std::string& name)
    {
        auto v = person(name);
        const auto saved = v.post("/fb/destinations", {{"audience", "public"}});
        EXPECT_TRUE(saved && saved->status == 303) << name;
        return v;
    }

    // The requests to the service's inboxes that it refused for their signature, by its log.
    int inboxRefusals() const
    {
        std::istringstream log(fileText(folder() / "federating.log"));
        int refused = 0;
        for (std::string line; std::getline(log, line);)
            if (line.find(" POST ") != std::string::npos && line.find("inbox 401 ") != std::string::npos)
                ++refused;
        return refused;
    }

    // The number of followers the person's followers collection tells, once it is `count` or after
    // ten seconds; -1 when it cannot be read.
    long long followersOnceThey(const std::string& name, long long count)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        for (;;) {
            const auto answer = Visitor(m_port).get("/fb/u/" + name + "/followers",
                                                    {{"Accept", "application/activity+json"}});
            const auto collection = answer ? Json::parse(answer->body, nullptr, false) : Json();
            const auto total = collection.is_object() ? collection.value("totalItems", -1LL) : -1;
            if (total == count || std::chrono::steady_clock::now() > deadline)
                return total;
            std::this_thread::sleep_for(100ms);
        }
    }

    int m_port = 0;
    std::unique_ptr<ServiceProcess> m_federating;
    std::unique_ptr<Follower> m_follower;
};

// The activities of that type, in the order they arrived.
std::vector<Json> ofType(const Json& received, const std::string& type)
{
    std::vector<Json> found;
    for (const auto& activity : received)
        if (activity.value("type", "") == type)
            found.push_back(activity);
    return found;
}

bool addressedTo(const Json& activity, const std::string& audience)
{
    for (const auto* field : {"to", "cc"})
        for (const auto& each : activity[field])
            if (each == audience)
                return true;
    return false;
}

TEST_F(Fediverse, AFollowerMadeWithFedifySeesEachSongAndThePreviousOneDeletedUntilItUnfollows)
{
    auto ann = personForEveryone("Ann");
    const auto followed = m_follower->command("follow", {{"handle", "@Ann@" + host()}});
    ASSERT_EQ(followed.value("actor", ""), actorOf("Ann")) << followed.dump(1);
    EXPECT_EQ(followed.value("preferredUsername", ""), "Ann");
    EXPECT_EQ(followed.value("inbox", ""), actorOf("Ann") + "/inbox");
    EXPECT_EQ(followed.value("sharedInbox", ""), site() + "/fb/inbox");
    EXPECT_EQ(followed.value("keyOwner", ""), actorOf("Ann")) << "Fedify finds the key of the actor";

    const auto accepted = m_follower->received(1);
    ASSERT_EQ(ofType(accepted, "Accept").size(), 1u) << accepted.dump(1);
    EXPECT_EQ(accepted[0].value("actor", ""), actorOf("Ann"));
    EXPECT_EQ(accepted[0].value("object", ""), followed.value("follow", "")) << "the Accept names the Follow";
    EXPECT_EQ(followersOnceThey("Ann", 1), 1);

    const auto first = postedId(ann.postSong("First Song - An Artist"));
    ASSERT_GT(first, 0);
    ASSERT_GT(postedId(ann.postSong("Second & <Song>", std::to_string(first))), 0);
    const auto received = m_follower->received(4);
    const auto creates = ofType(received, "Create");
    const auto deletes = ofType(received, "Delete");
    ASSERT_EQ(creates.size(), 2u) << received.dump(1);
    ASSERT_EQ(deletes.size(), 1u) << received.dump(1);
    EXPECT_EQ(received.size(), 4u) << received.dump(1);
    const auto firstNote = std::find_if(creates.begin(), creates.end(), [](const Json& create) {
        return create.value("content", "").find("First Song - An Artist") != std::string::npos;
    });
    const auto secondNote = std::find_if(creates.begin(), creates.end(), [](const Json& create) {
        return create.value("content", "").find("Second &amp; &lt;Song&gt;") != std::string::npos;
    });
    ASSERT_NE(firstNote, creates.end()) << received.dump(1);
    ASSERT_NE(secondNote, creates.end()) << "the song as plain text in the note's HTML: " << received.dump(1);
    for (const auto& create : creates) {
        EXPECT_EQ(create.value("actor", ""), actorOf("Ann"));
        EXPECT_EQ(create.value("objectType", ""), "Note");
        EXPECT_TRUE(addressedTo(create, followed.value("followers", ""))) << create.dump(1);
    }
    EXPECT_EQ(deletes[0].value("object", ""), firstNote->value("object", "")) << "the first song's note is deleted";
    EXPECT_EQ(deletes[0].value("actor", ""), actorOf("Ann"));

    const auto undone = m_follower->command("unfollow");
    ASSERT_FALSE(undone.contains("error")) << undone.dump(1);
    EXPECT_EQ(followersOnceThey("Ann", 0), 0);
    ASSERT_GT(postedId(ann.postSong("Third Song")), 0);
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(m_follower->received().size(), 4u) << "nothing after the Undo: " << m_follower->received().dump(1);
}

// Servers that fetch nothing unsigned: one whose actor (and so its key) answers only signed GETs,
// and knocks with RFC 9421 first; one that signs with a key of its own document, without an inbox,
// whose actor answers only signed GETs. The service fetches both signed, as its instance actor,
// and follows the key to its owner; each follower sees a song and its deletion.
TEST_F(Fediverse, FollowersThatAnswerOnlySignedFetchesFollowAndSeeEachSongAndItsDeletion)
{
    auto ann = personForEveryone("Ann");
    const struct {
        const char* name;
        std::vector<std::string> switches;
    } shapes[] = {
        {"secure", {"--shape", "secure", "--knock", "rfc9421"}},
        {"stub-key", {"--shape", "stub-key"}},
    };
    std::vector<std::unique_ptr<Follower>> followers;
    for (const auto& shape : shapes) {
        followers.push_back(
            std::make_unique<Follower>(folder() / (std::string(shape.name) + ".log"), shape.switches));
        auto& follower = *followers.back();
        const auto followed = follower.command("follow", {{"handle", "@Ann@" + host()}});
        ASSERT_EQ(followed.value("actor", ""), actorOf("Ann"))
            << shape.name << ": " << followed.dump(1) << "\n" << fileText(follower.log());
        const auto accepted = follower.received(1);
        ASSERT_EQ(ofType(accepted, "Accept").size(), 1u)
            << shape.name << ": " << accepted.dump(1) << "\n" << fileText(follower.log());
        EXPECT_EQ(accepted[0].value("object", ""), followed.value("follow", "")) << shape.name;
    }
    EXPECT_EQ(followersOnceThey("Ann", 2), 2);

    const auto first = postedId(ann.postSong("Secure Song - The Fetchers"));
    ASSERT_GT(first, 0);
    ASSERT_GT(postedId(ann.postSong("Next Song", std::to_string(first))), 0);
    for (std::size_t i = 0; i < followers.size(); ++i) {
        const auto received = followers[i]->received(4);
        const auto creates = ofType(received, "Create");
        const auto deletes = ofType(received, "Delete");
        ASSERT_EQ(creates.size(), 2u) << shapes[i].name << ": " << received.dump(1);
        ASSERT_EQ(deletes.size(), 1u) << shapes[i].name << ": " << received.dump(1);
        for (const auto& create : creates)
            EXPECT_EQ(create.value("objectType", ""), "Note") << shapes[i].name;
        const auto firstNote = actorOf("Ann") + "/posts/" + std::to_string(first);
        EXPECT_EQ(deletes[0].value("object", ""), firstNote) << shapes[i].name;
    }
    // The RFC 9421 knock was taken at once: Fedify knocks again with draft-cavage only after a 401.
    EXPECT_EQ(inboxRefusals(), 0) << fileText(folder() / "federating.log");
}

// Each document the service serves alone reads as what it is to a JSON-LD reader, with its
// contexts: a note that lacks them reads as a bare Object.
TEST_F(Fediverse, EveryDocumentReadsAsWhatItIsToAJsonLdReader)
{
    auto ann = personForEveryone("Ann");
    const auto first = postedId(ann.postSong("Read Me - The Documents"));
    ASSERT_GT(first, 0);
    const auto second = postedId(ann.postSong("Still Here", std::to_string(first)));
    ASSERT_GT(second, 0);
    const auto instance = site() + "/fb/actor";
    const struct {
        std::string url;
        int status;
        const char* type;
    } documents[] = {
        {actorOf("Ann"), 200, "Person"},
        {instance, 200, "Application"},
        {actorOf("Ann") + "/posts/" + std::to_string(second), 200, "Note"},
        {actorOf("Ann") + "/posts/" + std::to_string(first), 410, "Tombstone"},
        {actorOf("Ann") + "/outbox", 200, "OrderedCollection"},
        {actorOf("Ann") + "/followers", 200, "OrderedCollection"},
    };
    for (const auto& document : documents) {
        const auto read = m_follower->command("lookup", {{"url", document.url}});
        EXPECT_EQ(read.value("status", 0), document.status) << document.url << ": " << read.dump(1);
        EXPECT_EQ(read.value("type", ""), document.type) << document.url << ": " << read.dump(1);
        EXPECT_EQ(read.value("id", ""), document.url) << read.dump(1);
        EXPECT_TRUE(read.value("contentType", "").starts_with("application/activity+json")) << read.dump(1);
    }
    const auto note = m_follower->command("lookup", {{"url", actorOf("Ann") + "/posts/" + std::to_string(second)}});
    EXPECT_NE(note.value("content", "").find("Still Here"), std::string::npos) << note.dump(1);
    const auto outbox = m_follower->command("lookup", {{"url", actorOf("Ann") + "/outbox"}});
    EXPECT_EQ(outbox.value("totalItems", -1), 1) << "the song still standing: " << outbox.dump(1);

    // The keys as Fedify reads them, and the instance's actor found by its handle, HOST@HOST.
    const auto person = m_follower->command("lookup", {{"url", actorOf("Ann")}});
    EXPECT_EQ(person.value("key", ""), actorOf("Ann") + "#main-key") << person.dump(1);
    EXPECT_EQ(person.value("keyOwner", ""), actorOf("Ann")) << person.dump(1);
    const auto application = m_follower->command("lookup", {{"url", "@" + host() + "@" + host()}});
    EXPECT_EQ(application.value("type", ""), "Application") << application.dump(1);
    EXPECT_EQ(application.value("id", ""), instance) << application.dump(1);
    EXPECT_EQ(application.value("key", ""), instance + "#main-key") << application.dump(1);
    EXPECT_EQ(application.value("keyOwner", ""), instance) << application.dump(1);
    EXPECT_EQ(application.value("publicKeyType", ""), "RSASSA-PKCS1-v1_5") << application.dump(1);
}

// Fedify signs as draft-cavage describes; the inbox takes that, and refuses it once anything the
// signature covers has changed.
TEST_F(Fediverse, TheInboxTakesWhatFedifySignedAndRefusesItAltered)
{
    person("Ann");
    const auto result = m_follower->command("tamper", {{"actor", actorOf("Ann")}});
    ASSERT_FALSE(result.contains("error")) << result.dump(1);
    const struct {
        const char* request;
        bool taken;
    } cases[] = {
        {"signed", true},       {"signedToSharedInbox", true},   {"dateAltered", false},
        {"bodyAltered", false}, {"bodyAndDigestAltered", false},
    };
    for (const auto& c : cases) {
        const auto status = result[c.request].value("status", 0);
        if (c.taken)
            EXPECT_TRUE(status == 202 || status == 200) << c.request << ": " << result[c.request].dump();
        else
            EXPECT_EQ(status, 401) << c.request << ": " << result[c.request].dump();
    }
}

} // namespace
