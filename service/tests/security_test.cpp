// Requests meant to hurt the service: floods, oversized input, password guessing.
#include "servicefixture.h"

using namespace tunalo::service::testkit;

namespace {

class Security : public ServiceTest {};

TEST_F(Security, OversizedRequestsAreRefusedAndTheServiceGoesOn) {
    httplib::Headers flood;
    for (int i = 0; i < 3000; ++i)
        flood.emplace("X-Flood-" + std::to_string(i), std::string(40, 'f'));
    const std::string huge(200 * 1024, 'a');

    const struct {
        const char* what;
        std::function<httplib::Result(httplib::Client&)> send;
    } cases[] = {
        {"header flood", [&](httplib::Client& c) { return c.Get("/", flood); }},
        {"one huge header",
         [&](httplib::Client& c) {
             return c.Get("/", {{"X-Big", huge}});
         }},
        {"long address", [&](httplib::Client& c) { return c.Get("/fb/update.php?s=" + huge); }},
        {"large form",
         [&](httplib::Client& c) {
             return c.Post("/fb/login", "name=a&password=" + huge, "application/x-www-form-urlencoded");
         }},
    };
    for (const auto& c : cases) {
        httplib::Client client("127.0.0.1", port());
        client.set_read_timeout(std::chrono::seconds(20));
        const auto result = c.send(client);
        ASSERT_TRUE(result) << c.what << ": " << httplib::to_string(result.error());
        EXPECT_GE(result->status, 400) << c.what;
        EXPECT_LT(result->status, 500) << c.what;
        EXPECT_EQ(visitor().title("/"), "Tunalo service") << "after the " << c.what;
    }
}

TEST_F(Security, TenLogInAttemptsAMinutePerName) {
    member("Ann");
    member("Bob");
    for (int attempt = 0; attempt < 10; ++attempt)
        EXPECT_FALSE(visitor().logIn("Ann", "guess " + std::to_string(attempt)));

    auto ann = visitor();
    EXPECT_FALSE(ann.logIn("ANN", "correct horse")) << "the eleventh attempt is refused, password or not";
    const auto page = ann.get("/fb/tnlouserhome.php?m=limit");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("Too many log-in attempts"), std::string::npos);

    EXPECT_TRUE(visitor().logIn("Bob", "correct horse")) << "other names are not held back";
}

TEST_F(Security, MessageKeysInTheAddressAreNotEchoed) {
    const auto page = visitor().get("/fb/tnlouserhome.php?m=%3Cscript%3E");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("script>"), std::string::npos);
    EXPECT_EQ(titleOf(page->body), "failed");
}

} // namespace
