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

TEST_F(MprisFollow, APictureThatComesLateIsShownAndMakesNoNewStart)
{
    play("a", "One");
    play("b", "Two");
    cache.setTrack("a", {"One", "One", {"Artist"}, "file:///covers/one.png"});
    EXPECT_EQ(identity(), "Elisa") << "a did not start again";
    cache.setTrack("b", {"Two", "Two", {"Artist"}, "https://example.org/two.jpg"});
    EXPECT_EQ(cache.current().artUrl, "https://example.org/two.jpg");
    cache.setStatus("b", "Paused");
    EXPECT_EQ(cache.current().artUrl, "file:///covers/one.png");
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

TEST(MprisPlayerName, DropsTheBusPrefixTheInstanceAndTheLetterCase)
{
    const std::pair<const char*, const char*> cases[] = {
        {"org.mpris.MediaPlayer2.strawberry", "strawberry"},
        {"org.mpris.MediaPlayer2.chromium.instance4242", "chromium"},
        {"org.mpris.MediaPlayer2.firefox.instance_1_23", "firefox"},
        {"org.mpris.MediaPlayer2.Rhythmbox", "rhythmbox"},
        {"org.mpris.MediaPlayer2.vlc.desktop", "vlc.desktop"}, // a dot is part of some names
        {"org.mpris.MediaPlayer2.", ""},
    };
    for (const auto& [busName, name] : cases)
        EXPECT_EQ(mprisPlayerName(busName), QString::fromLatin1(name)) << busName;
}

TEST(MprisBrowsers, AreKnownByTheirNamesWhateverTheyAdd)
{
    for (const char* browser : {"firefox", "chromium", "chrome", "google-chrome", "brave", "Vivaldi",
                                "opera", "msedge", "epiphany", "org.gnome.epiphany", "falkon",
                                "qutebrowser", "plasma-browser-integration"})
        EXPECT_TRUE(isWebBrowser(browser)) << browser;
    for (const char* player : {"strawberry", "mpv", "vlc", "rhythmbox", "spotify", "elisa", "chromecast",
                               "operator", "edge"})
        EXPECT_FALSE(isWebBrowser(player)) << player;
}

struct ChoiceCase {
    const char* what;
    QString text;
    std::vector<const char*> counted;
    std::vector<const char*> notCounted;
};

TEST(MprisChoice, CountsWhatThePersonWrote)
{
    const char* const browser = "org.mpris.MediaPlayer2.chromium.instance4242";
    const char* const music = "org.mpris.MediaPlayer2.strawberry";
    const char* const video = "org.mpris.MediaPlayer2.mpv";
    const ChoiceCase cases[] = {
        {"nothing written: all but the browsers", "", {music, video}, {browser}},
        {"only blanks and commas", " , ,", {music, video}, {browser}},
        {"a browser by name", "chromium", {browser, "org.mpris.MediaPlayer2.chromium.instance7"}, {music, video}},
        {"trimmed, any letter case, an unknown name",
         " Strawberry ,MPV ,, nosuchplayer",
         {music, video},
         {browser}},
        {"a whole bus name", "org.mpris.MediaPlayer2.chromium.instance1", {browser}, {music}},
        {"none", "none", {}, {music, video, browser}},
    };
    for (const ChoiceCase& c : cases) {
        const PlayerChoice choice = PlayerChoice::fromText(c.text);
        for (const char* name : c.counted)
            EXPECT_TRUE(choice.counts(name)) << c.what << ": " << name;
        for (const char* name : c.notCounted)
            EXPECT_FALSE(choice.counts(name)) << c.what << ": " << name;
    }
}

TEST(MprisChoice, AnEmptyChoiceOfThePanelIsNoPlayerAndReadsBackTheSame)
{
    const PlayerChoice none = PlayerChoice::only({});
    EXPECT_FALSE(none.everyPlayerButBrowsers());
    EXPECT_FALSE(none.counts("org.mpris.MediaPlayer2.strawberry"));
    EXPECT_EQ(PlayerChoice::fromText(none.text()), none);
    const PlayerChoice two = PlayerChoice::only({"strawberry", "chromium", "strawberry"});
    EXPECT_EQ(two.text(), "strawberry,chromium");
    EXPECT_EQ(PlayerChoice::fromText(two.text()), two);
}

// A browser playing a video and a music player playing a song, the browser started last.
class MprisChosen : public ::testing::Test {
protected:
    MprisChosen()
    {
        for (const auto& [name, identity] : {std::pair{kMusic, "Strawberry"}, std::pair{kBrowser, "Chromium"}}) {
            cache.add(name);
            cache.setIdentity(name, identity);
        }
        cache.setTrack(kMusic, {"1", "Song", {"Band"}});
        cache.setStatus(kMusic, "Playing");
        cache.setTrack(kBrowser, {"2", "Funny Cats", {}});
        cache.setStatus(kBrowser, "Playing");
    }

    static constexpr const char* kMusic = "org.mpris.MediaPlayer2.strawberry";
    static constexpr const char* kBrowser = "org.mpris.MediaPlayer2.chromium.instance4242";
    MprisCache cache;
};

TEST_F(MprisChosen, ByDefaultTheBrowserIsPassedOver)
{
    EXPECT_EQ(cache.current().song, "Band - Song");
    EXPECT_EQ(cache.current().identity, "Strawberry");
    const std::vector<BusPlayer> listed = cache.players();
    EXPECT_EQ(listed, (std::vector<BusPlayer>{{"chromium", "Chromium"}, {"strawberry", "Strawberry"}}));
}

TEST_F(MprisChosen, AChoiceTakesEffectAtOnceAndLeavesAPlayerNoLongerChosen)
{
    cache.setChoice(PlayerChoice::fromText("chromium"));
    EXPECT_EQ(cache.current().song, "Funny Cats");
    EXPECT_EQ(cache.current().identity, "Chromium");
    cache.setChoice(PlayerChoice::only({}));
    EXPECT_EQ(cache.current().song, QString());
    EXPECT_EQ(cache.current().identity, QString());
}

TEST_F(MprisChosen, TheBrowserComingBackUnderANewInstanceKeepsTheChoice)
{
    cache.setChoice(PlayerChoice::fromText("chromium"));
    cache.remove(kBrowser);
    EXPECT_EQ(cache.current().song, QString()) << "the music player does not count";
    const QString again = "org.mpris.MediaPlayer2.chromium.instance5150";
    cache.add(again);
    cache.setTrack(again, {"3", "Another Video", {}});
    cache.setStatus(again, "Playing");
    EXPECT_EQ(cache.current().song, "Another Video");
}

TEST_F(MprisChosen, APausedPlayerHandsOverToOneThatCountsAndPlays)
{
    cache.setChoice(PlayerChoice::fromText("strawberry,chromium"));
    EXPECT_EQ(cache.current().identity, "Chromium") << "it started last";
    cache.setStatus(kBrowser, "Paused");
    EXPECT_EQ(cache.current().song, "Band - Song");
    EXPECT_EQ(cache.current().identity, "Strawberry");
}

} // namespace
} // namespace tunalo
