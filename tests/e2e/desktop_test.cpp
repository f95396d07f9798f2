#include "session.h"

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

TEST(Desktop, PublishesEveryNewSongAndDeletesThePreviousPost)
{
    Session session(QStringLiteral("Artist One - First Song - MediaMonkey"));
    ASSERT_TRUE(session.startProgram());
    ASSERT_TRUE(session.logIn()) << session.screenshot(QStringLiteral("login"));

    session.pressStartPublishing();
    ASSERT_TRUE(session.waitForFeed({QStringLiteral("Artist One - First Song")})) << session.screenshot(QStringLiteral("publish"));

    // Every new song replaces the post before it; a song with characters that mean something in
    // an address arrives whole.
    for (const QString& song : {QStringLiteral("Artist Two - Second Song"), QStringLiteral("AC/DC & Friends - 50% #1 Hit?")}) {
        ASSERT_TRUE(session.player().setTitle(song + QStringLiteral(" - MediaMonkey")));
        EXPECT_TRUE(session.waitForFeed({song})) << session.screenshot(QStringLiteral("songs"));
    }
    EXPECT_EQ(session.requests().filter(QStringLiteral("GET /fb/update.php")).size(), 3);
}

} // namespace
} // namespace tunalo::test
