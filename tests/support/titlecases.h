#pragma once

#include "nowplaying/playerid.h"

#include <QString>

#include <vector>

namespace tunalo::test {

// Player window titles and the song read from each; shared by the fake and the real desktop tests.
struct SongCase {
    PlayerId player;
    const char* title; // UTF-8
    const char* song;
};

inline const std::vector<SongCase>& songCases()
{
    static const std::vector<SongCase> cases{
        {0, "12. The Example Band - First Light - Winamp", " The Example Band - First Light"},
        {0, "12. The Example Band - First Light - Winamp [Paused]", " The Example Band - First Light"},
        {0, "7. Artist - Title   - Winamp", " Artist - Title"},
        // Only a track number at the very start goes, once; other dots stay.
        {0, "Mr. Nobody - Broken Glass - Winamp", "Mr. Nobody - Broken Glass"},
        {0, "1. Artist - Part 1. Intro - Winamp", " Artist - Part 1. Intro"},
        {0, "10. DJ Example - 110.5 FM Mix - Winamp", " DJ Example - 110.5 FM Mix"},
        {0, "3. The Band - Winamp Blues - Winamp", " The Band"},
        {0, "Some Song - WINAMP", "Some Song - WINAMP"},
        {0, "- Winamp", ""},
        {0, "7. Song \t  - Winamp", " Song \t"},
        {0, ".38 Special - Hold On Loosely - Winamp", ".38 Special - Hold On Loosely"},
        {0, "4. Björk Guðmundsdóttir - Jóga ♪ - Winamp", " Björk Guðmundsdóttir - Jóga ♪"},
        {1, "The Example Band - First Light - MediaMonkey", "The Example Band - First Light"},
        {1, "A.B.C. Collective - Night Drive - MediaMonkey", "A.B.C. Collective - Night Drive"},
        {1, "12. The Example Band - First Light - MediaMonkey", " The Example Band - First Light"},
        {2, "01 - The Example Band - First Light.mp3 - VLC media player",
         "01 - The Example Band - First Light.mp3"},
        {2, "first light.ogg - VLC media player", "first light.ogg"},
        {2, "03. Intro.mp3 - VLC media player", "03. Intro.mp3"},
        {2, "VLC media player", ""},
        {3, "RealPlayer: The Example Band - First Light", " The Example Band - First Light"},
        {3, "RealPlayer: RealPlayer: Intro", ""},
        {3, "realplayer: Some Song", "realplayer: Some Song"},
    };
    return cases;
}

} // namespace tunalo::test
