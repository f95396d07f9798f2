#include "nowplaying/mpriscache.h"

#include <gtest/gtest.h>

namespace tunalo {
namespace {

struct SongCase {
    const char* what;
    MprisTrack track;
    QString song;
};

TEST(MprisSong, IsArtistsAndTitleOrTheTitleOrNothing)
{
    const SongCase cases[] = {
        {"one artist", {{}, "First Light", {"The Example Band"}}, "The Example Band - First Light"},
        {"several artists", {{}, "Duet", {"Ann", "Bo", "Cy"}}, "Ann, Bo, Cy - Duet"},
        {"no artist", {{}, "Field Recording", {}}, "Field Recording"},
        {"only empty artists", {{}, "Field Recording", {"", ""}}, "Field Recording"},
        {"an empty artist among others", {{}, "Duet", {"Ann", "", "Bo"}}, "Ann, Bo - Duet"},
        {"no title", {{}, {}, {"The Example Band"}}, {}},
        {"unicode",
         {{}, QStringLiteral("Über – 夜"), {QStringLiteral("Björk"), QStringLiteral("坂本龍一")}},
         QStringLiteral("Björk, 坂本龍一 - Über – 夜")},
    };
    for (const SongCase& c : cases)
        EXPECT_EQ(songOf(c.track), c.song) << c.what;
}

// Two players on the bus, "a" (Rhythmbox) and "b" (Elisa), both stopped at first.
class MprisFollow : public ::testing::Test {
protected:
    MprisFollow()
    {
        cache.add("a");
        cache.setIdentity("a", "Rhythmbox");
        cache.add("b");
        cache.setIdentity("b", "Elisa");
    }
    void play(const QString& player, const QString& title, const QString& trackId = {})
    {
        cache.setTrack(player, {trackId.isEmpty() ? title : trackId, title, {"Artist"}});
        cache.setStatus(player, "Playing");
    }
    QString song() const { return cache.current().song; }
    QString identity() const { return cache.current().identity; }

    MprisCache cache;
};

TEST_F(MprisFollow, NothingPlaysUntilAPlayerPlays)
{
    EXPECT_TRUE(cache.any());
    cache.setTrack("a", {"1", "Loaded", {}});
    cache.setStatus("a", "Paused");
    EXPECT_EQ(song(), QString());
    EXPECT_EQ(identity(), QString());
}

TEST_F(MprisFollow, FollowsThePlayerThatPlaysWhileTheOtherIsPaused)
{
    cache.setTrack("a", {"1", "Paused Song", {"Artist"}});
    cache.setStatus("a", "Paused");
    play("b", "Playing Song");
    EXPECT_EQ(song(), "Artist - Playing Song");
    EXPECT_EQ(identity(), "Elisa");
}

TEST_F(MprisFollow, FollowsThePlayerThatMostRecentlyStartedOrChangedItsTrack)
{
    play("a", "One");
    play("b", "Two");
    EXPECT_EQ(identity(), "Elisa") << "b started last";
    cache.setTrack("a", {"a2", "Three", {"Artist"}});
    EXPECT_EQ(song(), "Artist - Three") << "a changed its track last";
    EXPECT_EQ(identity(), "Rhythmbox");
    cache.setStatus("b", "Playing");
    EXPECT_EQ(identity(), "Rhythmbox") << "b was already playing: it did not start again";
    cache.setTrack("b", {"Two", "Two", {"Artist"}});
    EXPECT_EQ(identity(), "Rhythmbox") << "b reported the track it had: no change";
    cache.setStatus("a", "Paused");
    EXPECT_EQ(song(), "Artist - Two") << "only b plays now";
}

TEST_F(MprisFollow, APausedOrStoppedPlayerKeepsItsLastSong)
{
    play("a", "One");
    for (const char* status : {"Paused", "Stopped"}) {
        cache.setStatus("a", status);
        EXPECT_EQ(song(), "Artist - One") << status;
        // Players may forget the track when they stop; the song stays what was played.
        cache.setTrack("a", {});
        EXPECT_EQ(song(), "Artist - One") << status;
        cache.setTrack("a", {"One", "One", {"Artist"}});
        cache.setStatus("a", "Playing");
        EXPECT_EQ(song(), "Artist - One") << status << ", then resumed";
    }
}

TEST_F(MprisFollow, APausedPlayerThatChangesItsTrackTakesOverOnlyOncePlaying)
{
    play("a", "One");
    cache.setStatus("b", "Paused");
    cache.setTrack("b", {"b1", "Skipped To", {"Artist"}});
    EXPECT_EQ(identity(), "Rhythmbox");
    cache.setStatus("b", "Playing");
    EXPECT_EQ(song(), "Artist - Skipped To");
}

TEST_F(MprisFollow, APlayerThatQuitsTakesItsSongAlong)
{
    play("a", "One");
    play("b", "Two");
    cache.remove("b");
    EXPECT_EQ(song(), "Artist - One") << "a still plays";
    cache.setStatus("a", "Paused");
    cache.remove("a");
    EXPECT_FALSE(cache.any());
    EXPECT_EQ(song(), QString());
    EXPECT_EQ(identity(), QString());
}

TEST_F(MprisFollow, ATrackWithoutTitleIsNoSongEvenWhilePlaying)
{
    play("a", "One");
    cache.setTrack("a", {"a2", {}, {"Artist"}});
    EXPECT_EQ(song(), QString());
    EXPECT_EQ(identity(), "Rhythmbox");
}

TEST_F(MprisFollow, ReportsFromPlayersNotOnTheBusAreIgnored)
{
    cache.setStatus("gone", "Playing");
    cache.setTrack("gone", {"1", "Ghost", {}});
    cache.setIdentity("gone", "Ghost Player");
    EXPECT_FALSE(cache.has("gone"));
    EXPECT_EQ(song(), QString());
}

} // namespace
} // namespace tunalo
