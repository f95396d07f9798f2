#include "federation/mastodon.h"

#include <gtest/gtest.h>

using namespace tunalo::service;

namespace {

// What a person may type as their server, and what the service makes of it.
TEST(MastodonClient, TheServerIsTheHostAPersonTypes)
{
    const struct {
        const char* typed;
        bool plainHttp;
        const char* server; // nullptr: refused
    } cases[] = {
        {"mastodon.social", false, "https://mastodon.social"},
        {"  Mastodon.Social/ ", false, "https://mastodon.social"},
        {"https://social.example:8443", false, "https://social.example:8443"},
        {"http://127.0.0.1:8080", true, "http://127.0.0.1:8080"},
        {"http://social.example", false, nullptr},
        {"social.example/@ann", false, nullptr},
        {"ann@social.example", false, nullptr},
        {"https://social.example/?x=1", false, nullptr},
        {"social.example:1:2", false, nullptr},
        {"", false, nullptr},
        {"https://", false, nullptr},
    };
    for (const auto& c : cases) {
        const auto server = mastodon::serverFrom(c.typed, c.plainHttp);
        if (c.server)
            EXPECT_EQ(server.value_or("(refused)"), c.server) << c.typed;
        else
            EXPECT_FALSE(server) << c.typed << " gave " << *server;
    }
}

// RFC 7636, appendix B: the challenge of its verifier.
TEST(MastodonClient, ThePkceChallengeIsS256OfTheVerifier)
{
    EXPECT_EQ(mastodon::challengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    const auto verifier = mastodon::newVerifier();
    EXPECT_GE(verifier.size(), 43u) << "RFC 7636 asks for 43 to 128 characters";
    EXPECT_EQ(verifier.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_NE(mastodon::newVerifier(), verifier);
}

// The account's handle: a local account's acct is its bare name, which the server's host completes.
TEST(MastodonClient, TheHandleNamesTheAccountAndItsHost)
{
    PeerAnswer answer;
    answer.status = 200;
    answer.body = R"({"id":"1","username":"ann","acct":"ann"})";
    EXPECT_EQ(mastodon::handleFrom("https://social.example:8443", answer).value_or(""), "@ann@social.example:8443");
    answer.body = R"({"acct":"ann@elsewhere.example"})";
    EXPECT_EQ(mastodon::handleFrom("https://social.example", answer).value_or(""), "@ann@elsewhere.example");
    answer.status = 401;
    EXPECT_FALSE(mastodon::handleFrom("https://social.example", answer));
}

} // namespace
