#pragma once

// What the program and the web service agree on: the paths of the service's pages and the page
// titles through which it answers. Plain text, so the service and the benchmarks, which do not use
// Qt, share it with the program.

#include <cstddef>
#include <string_view>

namespace tunalo::protocol {

// Pages on the service's base address.
inline constexpr std::string_view kRootPath = "/";
inline constexpr std::string_view kHomePath = "/fb/tnlouserhome.php";
inline constexpr std::string_view kPostPath = "/fb/update.php";
// Query keys of the post page: the song, and the id of the post to delete.
inline constexpr std::string_view kSongKey = "s";
inline constexpr std::string_view kDeleteKey = "d";
// The post's own key, the same on every try of one post: a service that knows it answers a try
// that comes again with the post it already made.
inline constexpr std::string_view kPostKeyKey = "k";
// What the program knows of how a song is heard, so that the service can count a listen: the posted
// song's length in milliseconds, when the player says it; and on the next post, the key of the post
// before and how long its song was heard, in milliseconds, counting only time it played.
inline constexpr std::string_view kLengthKey = "l";
// The player the posted song comes from, by its own name ("Strawberry").
inline constexpr std::string_view kPlayerKey = "p";
inline constexpr std::string_view kHeardPostKey = "hk";
inline constexpr std::string_view kHeardKey = "h";
// The longest song the service keeps, in characters; the program cuts a longer one before posting.
inline constexpr std::size_t kMaxSongCharacters = 1000;

// Home page titles, compared exactly over the whole text. A post page titled kFailedTitle means the
// session is gone.
inline constexpr std::string_view kLoggedInTitle = "Login Succsesfull";
inline constexpr std::string_view kFailedTitle = "failed";
// A post page's title carries the new post's id after this marker.
inline constexpr std::string_view kPostIdMarker = "ID:";
// The title the reference service gives a post page, followed by the id.
inline constexpr std::string_view kPostedTitlePrefix = "Posted ID:";
static_assert(kPostedTitlePrefix.ends_with(kPostIdMarker));

} // namespace tunalo::protocol
