// Picture slots whose file is a movie: found like pictures, fitted by the movie's size, and only
// when no picture reader takes the file.
#include "EngineFixture.h"
#include "engine/MediaLoader.h"
#include "media/Movie.h"
#include "support/MovieFiles.h"

namespace enginetest {
namespace {

using MovieSlotsTest = EngineTest;

uint32_t XrgbAt(const engine::TBMS& bms, int slot, int x, int y) {
    const media::TDirectDrawSurface& s = *bms.Slots().BgaImages[static_cast<size_t>(slot)];
    return gui::PixelToXrgb(s.Pixel(x, y), s.Format(), s.PaletteInForce());
}

TEST_F(MovieSlotsTest, AMovieFillsItsSlotWithItsFirstPictureFittedByItsSize) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "clip.mpg", "mpeg1video", 64, 48, 25, 3);
    bms.BgaFitMode = 1;  // actual size, centred, 8 rows up: x 128-192, y 0-40
    ASSERT_TRUE(Load("#BMP01 clip.mpg\n#00004:01\n", 0));
    EXPECT_TRUE(bms.Slots().HasBga);
    EXPECT_TRUE(bms.Slots().BgaLoaded[1]);
    ASSERT_EQ(bms.Slots().BgaMovies.count(1), 1u);
    EXPECT_EQ(testsupport::MoviePictureOf(XrgbAt(bms, 1, 160, 20)), 0);
    EXPECT_EQ(XrgbAt(bms, 1, 127, 20), 0u);
    EXPECT_EQ(XrgbAt(bms, 1, 192, 20), 0u);
    EXPECT_EQ(XrgbAt(bms, 1, 160, 40), 0u);

    bms.BgaFitMode = 5;  // no such mode: the slot stays black and no movie is kept
    ASSERT_TRUE(Load("#BMP01 clip.mpg\n#00004:01\n", 0));
    EXPECT_TRUE(bms.Slots().BgaLoaded[1]);
    EXPECT_TRUE(bms.Slots().BgaMovies.empty());
    EXPECT_EQ(XrgbAt(bms, 1, 160, 20), 0u);
}

TEST_F(MovieSlotsTest, MoviesAreFoundAfterPicturesUnderOtherExtensions) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "Intro.WMV", "wmv2", 32, 32, 25, 2);
    testsupport::WriteNumberedMovie(dir / "both.mpg", "mpeg1video", 32, 32, 25, 2);
    testsupport::WriteFile(dir / "both.png", "not a picture");
    testsupport::WriteFile(dir / "both.bmp", Bmp(4, 4, 200, 0, 0));
    testsupport::WriteFile(dir / "words.avi", "neither picture nor movie");
    // The header decides, not the name.
    testsupport::WriteNumberedMovie(dir / "movie.mpg", "mpeg1video", 32, 32, 25, 2);
    std::filesystem::rename(dir / "movie.mpg", dir / "movie.dat");
    testsupport::WriteFile(dir / "picture.avi", Bmp(4, 4, 0, 200, 0));
    ASSERT_TRUE(Load("#BMP01 intro.bmp\n#BMP02 both.jpg\n#BMP03 words.avi\n#BMP04 movie.dat\n#BMP05 picture.avi\n"
                     "#00004:0102030405\n",
                     0));
    EXPECT_EQ(bms.Slots().BgaMovies.count(1), 1u);  // intro.bmp finds Intro.WMV
    EXPECT_TRUE(bms.Slots().BgaLoaded[2]);          // both.bmp, the first extension
    EXPECT_EQ(bms.Slots().BgaMovies.count(2), 0u);
    EXPECT_FALSE(bms.Slots().BgaLoaded[3]);         // a line whose file nothing reads is abandoned
    EXPECT_EQ(bms.Slots().BgaMovies.count(4), 1u);
    EXPECT_TRUE(bms.Slots().BgaLoaded[5]);
    EXPECT_EQ(bms.Slots().BgaMovies.count(5), 0u);
    EXPECT_EQ(bms.Chart().LastObject(), 5);
}

TEST(MovieFiles, AreToldFromPicturesByTheirFirstBytes) {
    using namespace std::string_literals;
    const struct {
        const char* name;
        std::string head;
        bool movie;
    } cases[] = {
        {"a.mpg", "\0\0\1\xBA\x44\0\4\0"s, true},              // MPEG program stream
        {"a.m1v", "\0\0\1\xB3\x02\0"s, true},                    // MPEG-1 or 2 video
        {"a.m4v", "\0\0\1\xB0\x01"s, true},                       // MPEG-4 Part 2 video
        {"a.m4v", "\0\0\1\x20\0"s, true},                         // its object layer alone
        {"a.avi", "RIFF\x10\0\0\0AVI LIST"s, true},
        {"a.wmv", "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"s, true},
        {"a.mp4", "\0\0\0\x20" "ftypisom"s, true},
        {"a.mov", "\0\0\0\x08" "wide"s, true},
        {"a.webm", "\x1A\x45\xDF\xA3\x01"s, true},
        {"a.bmp", "\0\0\1\xBA\x44"s, true},                       // whatever its name
        {"a.bmp", "BM\x46\0\0\0"s, false},
        {"a.png", "\x89PNG\r\n\x1a\n"s, false},
        {"a.jpg", "\xFF\xD8\xFF\xE0"s, false},
        {"a.gif", "GIF89a"s, false},
        {"a.webp", "RIFF\x10\0\0\0WEBPVP8 "s, false},
        {"a.ts", "\x47\x40\0\x10"s, false},                        // transport streams are not played
        {"a.mpg", "\0\0\1\xBC"s, false},                           // no stream starts so
        {"a.mpg", "\0\0\1"s, false},
        {"a.avi", "words"s, false},
        {"a.avi", ""s, false},
        {"a.tga", "\0\0\1\xB3\0\0"s, false},                      // a TGA starts with anything
        {"A.TGA", "\0\0\1\xBA"s, false},
    };
    for (const auto& c : cases) {
        const std::span<const uint8_t> head(reinterpret_cast<const uint8_t*>(c.head.data()), c.head.size());
        EXPECT_EQ(engine::IsMovieFile(c.name, head), c.movie) << c.name << " " << testing::PrintToString(c.head);
    }
}

TEST_F(MovieSlotsTest, ASlotDefinedAgainKeepsOnlyWhatLoadedLast) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "clip.avi", "mpeg4", 32, 32, 25, 2);
    testsupport::WriteFile(dir / "red.bmp", Bmp(256, 256, 255, 0, 0));
    testsupport::WriteFile(dir / "broken.mpg", "broken");
    ASSERT_TRUE(Load("#BMP01 clip.avi\n#BMP01 red.bmp\n#BMP02 clip.avi\n#BMP02 broken.mpg\n#00004:0102\n", 0));
    EXPECT_EQ(bms.Slots().BgaMovies.count(1), 0u);
    EXPECT_EQ(XrgbAt(bms, 1, 160, 120), 0xFF0000u);
    EXPECT_EQ(bms.Slots().BgaMovies.count(2), 1u);  // a file that cannot be read leaves the slot as it was
}

TEST_F(MovieSlotsTest, MoviesAreReadOnlyWhenPicturesAreShown) {
    display.Initialize();
    testsupport::WriteNumberedMovie(dir / "clip.mpg", "mpeg1video", 32, 32, 25, 2);
    for (const int mode : {1, 2}) {
        ASSERT_TRUE(Load("#BMP01 clip.mpg\n#00004:01\n", mode));
        EXPECT_TRUE(bms.Slots().BgaMovies.empty());
        EXPECT_FALSE(bms.Slots().HasBga);
    }
}

}  // namespace
}  // namespace enginetest
