// Picture slots whose file is a movie: found like pictures, fitted by the movie's size, and only
// when no picture reader takes the file.
#include "EngineFixture.h"
#include "media/Movie.h"
#include "support/MovieFiles.h"

namespace enginetest {
namespace {

using MovieSlotsTest = EngineTest;

uint32_t XrgbAt(const engine::TBMS& bms, int slot, int x, int y) {
    const media::TDirectDrawSurface& s = *bms.BgaImages[static_cast<size_t>(slot)];
    return gui::PixelToXrgb(s.Pixel(x, y), s.Format(), s.PaletteInForce());
}

TEST_F(MovieSlotsTest, AMovieFillsItsSlotWithItsFirstPictureFittedByItsSize) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "clip.mpg", "mpeg1video", 64, 48, 25, 3);
    bms.BgaFitMode = 1;  // actual size, centred, 8 rows up: x 128-192, y 0-40
    ASSERT_TRUE(Load("#BMP01 clip.mpg\n#00004:01\n", 0));
    EXPECT_TRUE(bms.HasBga);
    EXPECT_TRUE(bms.BgaLoaded[1]);
    ASSERT_EQ(bms.BgaMovies.count(1), 1u);
    EXPECT_EQ(testsupport::MoviePictureOf(XrgbAt(bms, 1, 160, 20)), 0);
    EXPECT_EQ(XrgbAt(bms, 1, 127, 20), 0u);
    EXPECT_EQ(XrgbAt(bms, 1, 192, 20), 0u);
    EXPECT_EQ(XrgbAt(bms, 1, 160, 40), 0u);

    bms.BgaFitMode = 5;  // no such mode: the slot stays black and no movie is kept
    ASSERT_TRUE(Load("#BMP01 clip.mpg\n#00004:01\n", 0));
    EXPECT_TRUE(bms.BgaLoaded[1]);
    EXPECT_TRUE(bms.BgaMovies.empty());
    EXPECT_EQ(XrgbAt(bms, 1, 160, 20), 0u);
}

TEST_F(MovieSlotsTest, MoviesAreFoundAfterPicturesUnderOtherExtensions) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "Intro.WMV", "wmv2", 32, 32, 25, 2);
    testsupport::WriteNumberedMovie(dir / "both.mpg", "mpeg1video", 32, 32, 25, 2);
    testsupport::WriteFile(dir / "both.png", "not a picture");
    testsupport::WriteFile(dir / "both.bmp", Bmp(4, 4, 200, 0, 0));
    testsupport::WriteFile(dir / "words.avi", "neither picture nor movie");
    ASSERT_TRUE(Load("#BMP01 intro.bmp\n#BMP02 both.jpg\n#BMP03 words.avi\n#00004:010203\n", 0));
    EXPECT_EQ(bms.BgaMovies.count(1), 1u);  // intro.bmp finds Intro.WMV
    EXPECT_TRUE(bms.BgaLoaded[2]);          // both.bmp, the first extension
    EXPECT_EQ(bms.BgaMovies.count(2), 0u);
    EXPECT_FALSE(bms.BgaLoaded[3]);         // a line whose file nothing reads is abandoned
    EXPECT_EQ(bms.Chart().LastObject(), 3);
}

TEST_F(MovieSlotsTest, ASlotDefinedAgainKeepsOnlyWhatLoadedLast) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "clip.avi", "mpeg4", 32, 32, 25, 2);
    testsupport::WriteFile(dir / "red.bmp", Bmp(256, 256, 255, 0, 0));
    testsupport::WriteFile(dir / "broken.mpg", "broken");
    ASSERT_TRUE(Load("#BMP01 clip.avi\n#BMP01 red.bmp\n#BMP02 clip.avi\n#BMP02 broken.mpg\n#00004:0102\n", 0));
    EXPECT_EQ(bms.BgaMovies.count(1), 0u);
    EXPECT_EQ(XrgbAt(bms, 1, 160, 120), 0xFF0000u);
    EXPECT_EQ(bms.BgaMovies.count(2), 1u);  // a file that cannot be read leaves the slot as it was
}

TEST_F(MovieSlotsTest, MoviesAreReadOnlyWhenPicturesAreShown) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "clip.mpg", "mpeg1video", 32, 32, 25, 2);
    for (const int mode : {1, 2}) {
        ASSERT_TRUE(Load("#BMP01 clip.mpg\n#00004:01\n", mode));
        EXPECT_TRUE(bms.BgaMovies.empty());
        EXPECT_FALSE(bms.HasBga);
    }
}

}  // namespace
}  // namespace enginetest
