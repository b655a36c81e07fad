// A movie background in the play frame as the player runs it, with the worker decoding ahead:
// it starts when an image object selects it, follows the song time, and restarts when selected
// again.
#include <chrono>

#include "PlayRig.h"
#include "support/MovieFiles.h"

namespace playtest {
namespace {

using MoviePlayTest = PlayRig;

// At 1875 BPM a tick is a millisecond: the movie (25 pictures a second) is selected at
// positions 0 and 128 and picture k is due 40k ms after each.
TEST_F(MoviePlayTest, TheMovieFollowsTheSongTimeFromEachSelection) {
    testsupport::WriteNumberedMovie(dir / "clip.mpg", "mpeg1video", 64, 48, 25, 20);
    ASSERT_TRUE(Load("#BMP01 clip.mpg\n#00004:01\n#00104:01\n"));
    auto picture = [&] { return testsupport::MoviePictureOf(Xrgb(160, 20)); };
    // The frame at a position, again and again until the picture is the expected one.
    auto shows = [&](int32_t position, int expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        do {
            Frame(position);
            if (picture() == expected) return true;
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    };

    Frame(-5);
    EXPECT_EQ(Xrgb(160, 20), 0u);  // not selected yet
    Frame(0);                      // selects it; the background was drawn before
    EXPECT_EQ(Xrgb(160, 20), 0u);
    Frame(1);
    EXPECT_EQ(picture(), 0);
    EXPECT_TRUE(shows(85, 2));
    EXPECT_TRUE(shows(127, 3));
    // Selected again at 128: the first picture at once, then on from there.
    Frame(128);
    Frame(129);
    EXPECT_EQ(picture(), 0);
    EXPECT_TRUE(shows(128 + 45, 1));
    // A frame that comes late shows the picture due then.
    EXPECT_TRUE(shows(128 + 610, 15));
    EXPECT_TRUE(shows(128 + 5000, 19));
}

}  // namespace
}  // namespace playtest
