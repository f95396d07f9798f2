// Two instances of the service on one database serve one user in turn: nothing a request needs
// lives in only one of them.
#include "servicefixture.h"

using namespace tunalo::service::testkit;

namespace {

class Instances : public ServiceTest {};

TEST_F(Instances, SessionsAndDeletionsCrossBetweenInstances)
{
    const auto other = startAnother();
    member("Ann");

    Visitor first(port());
    ASSERT_TRUE(first.logIn("Ann", "correct horse"));
    Visitor second(other->port());
    second.cookie() = first.cookie();
    EXPECT_EQ(second.title("/fb/tnlouserhome.php"), "Login Succsesfull") << "logged in through the first";

    const auto id = postedId(second.postSong("First - Song"));
    ASSERT_GT(id, 0);
    const auto next = postedId(first.postSong("Second - Song", std::to_string(id)));
    EXPECT_GT(next, id);
    const auto feed = second.get("/fb/feed.json");
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->body.find("First - Song"), std::string::npos) << "deleted through the first";
    EXPECT_NE(feed->body.find("Second - Song"), std::string::npos);

    const auto cookie = first.cookie();
    ASSERT_TRUE(second.post("/fb/logout", {}));
    first.cookie() = cookie;
    EXPECT_EQ(first.title("/fb/tnlouserhome.php"), "failed") << "logged out through the second";
    EXPECT_EQ(first.postSong("Third - Song"), "failed");
}

TEST_F(Instances, TheSignUpLimitCountsAcrossInstances)
{
    const auto other = startAnother();
    for (int i = 0; i < 5; ++i) {
        Visitor v(i % 2 ? port() : other->port());
        EXPECT_TRUE(v.signUp("member" + std::to_string(i), "correct horse")) << i;
    }
    Visitor sixth(port());
    EXPECT_FALSE(sixth.signUp("member5", "correct horse"))
        << "five a minute from one address, on any instance";
    Visitor seventh(other->port());
    EXPECT_FALSE(seventh.signUp("member6", "correct horse"));
}

} // namespace
