#include "media/Movie.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/DXDraws.h"
#include "support/MovieFiles.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using media::Movie;

constexpr int kFrames = 20;  // 25 per second: picture k from 40k ms on

class MovieTest : public ::testing::Test {
protected:
    explicit MovieTest(gui::PixelFormat format = gui::PixelFormat::XRGB8888) : directDraw(format) {
        surface.SetSize(320, 240);
    }

    fs::path Numbered(const std::string& name, const std::string& codec) {
        testsupport::WriteNumberedMovie(dir / name, codec, 64, 48, 25, kFrames);
        return dir / name;
    }

    uint32_t Xrgb(int x, int y) const {
        return gui::PixelToXrgb(surface.Pixel(x, y), surface.Format(), surface.PaletteInForce());
    }
    // The picture shown in the middle of the fit rectangle of these tests.
    int Shown() const { return testsupport::MoviePictureOf(Xrgb(160, 120)); }

    testsupport::TempDir dir;
    media::TDirectDraw directDraw;
    media::TDirectDrawSurface surface{&directDraw};
};

// Opens `path` in a child process, so that an open that hangs cannot take the test with it: true
// when the movie is refused within a generous deadline.
bool RefusedInTime(const fs::path& path) {
    const pid_t child = fork();
    if (child == 0) {
        int code = 1;
        try {
            Movie movie(path.string(), Movie::Timing::Exact);
        } catch (const media::EMovieError&) {
            code = 0;
        } catch (...) {
            code = 2;
        }
        _exit(code);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(MovieTest, ExactTimingShowsThePictureDueAtEachTimeAndHoldsTheLastOne) {
    for (const auto& [name, codec] : {std::pair{"clip.mpg", "mpeg1video"}, {"clip.avi", "mpeg4"}, {"clip.wmv", "wmv2"}}) {
        SCOPED_TRACE(name);
        Movie movie(Numbered(name, codec).string(), Movie::Timing::Exact);
        EXPECT_EQ(movie.Width(), 64);
        EXPECT_EQ(movie.Height(), 48);
        movie.ShowOn(surface, gui::Rect(80, 60, 240, 180));
        EXPECT_EQ(Shown(), 0);
        EXPECT_EQ(Xrgb(79, 120), 0u);  // outside the fit rectangle: black
        EXPECT_EQ(Xrgb(240, 120), 0u);
        movie.Show(500);  // not started yet
        EXPECT_EQ(Shown(), 0);

        movie.Restart();
        for (const double ms : {0.0, 39.9, 40.0, 41.0, 79.0, 200.0, 399.0, 400.0, 759.9, 760.0}) {
            movie.Show(ms);
            EXPECT_EQ(Shown(), static_cast<int>(ms / 40)) << "at " << ms << " ms";
        }
        movie.Show(100000);
        EXPECT_EQ(Shown(), kFrames - 1);
        movie.Restart();  // shows the first picture at once
        EXPECT_EQ(Shown(), 0);
        movie.Show(130);
        EXPECT_EQ(Shown(), 3);
    }
}

TEST_F(MovieTest, AheadTimingCatchesUpWithoutWaitingAndRestartsAtOnce) {
    Movie movie(Numbered("clip.mpg", "mpeg1video").string(), Movie::Timing::Ahead);
    movie.ShowOn(surface, gui::Rect(0, 0, 320, 240));
    // The worker decodes while the frames go on: the picture due shows up within a while.
    auto showsWithin = [&](double ms, int expected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        do {
            movie.Show(ms);
            if (Shown() == expected) return true;
            std::this_thread::yield();
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    };
    movie.Restart();
    EXPECT_EQ(Shown(), 0);
    EXPECT_TRUE(showsWithin(130, 3));
    EXPECT_TRUE(showsWithin(610, 15));  // the pictures in between are skipped
    EXPECT_TRUE(showsWithin(60000, kFrames - 1));
    movie.Restart();
    EXPECT_EQ(Shown(), 0);
    EXPECT_TRUE(showsWithin(50, 1));
    // A picture once shown stays until a later one is due, however often the frame asks.
    for (int i = 0; i < 50; ++i) {
        movie.Show(50);
        ASSERT_EQ(Shown(), 1);
    }
}

TEST_F(MovieTest, FilesWithoutPicturesAreRefused) {
    testsupport::WriteFile(dir / "text.mpg", "not a movie at all");
    testsupport::WriteFile(dir / "empty.avi", "");
    EXPECT_THROW(Movie((dir / "text.mpg").string(), Movie::Timing::Exact), media::EMovieError);
    EXPECT_THROW(Movie((dir / "empty.avi").string(), Movie::Timing::Ahead), media::EMovieError);
    EXPECT_THROW(Movie((dir / "missing.mpg").string(), Movie::Timing::Exact), media::EMovieError);
    EXPECT_THROW(Movie(dir.Path().string(), Movie::Timing::Exact), media::EMovieError);
}

TEST_F(MovieTest, OnlyMoviesWithinTheSizeCapAreOpenedAndTheRestIsRefusedAtOnce) {
    std::vector<std::string> refused = testsupport::WriteMovieImpostors(dir.Path());
    // A movie in a container that movie backgrounds do not come in.
    Numbered("clip.ts", "mpeg1video");
    refused.push_back("clip.ts");
    for (const std::string& name : refused) EXPECT_TRUE(RefusedInTime(dir / name)) << name;
    testsupport::WriteNumberedMovie(dir / "widest.avi", "mpeg4", 4096, 16, 25, 2);
    testsupport::WriteNumberedMovie(dir / "wider.avi", "mpeg4", 4100, 16, 25, 2);
    EXPECT_EQ(Movie((dir / "widest.avi").string(), Movie::Timing::Exact).Width(), 4096);
    try {
        Movie movie((dir / "wider.avi").string(), Movie::Timing::Exact);
        ADD_FAILURE() << "a movie over the size cap was opened";
    } catch (const media::EMovieError& e) {
        EXPECT_NE(std::string(e.what()).find("大きすぎます"), std::string::npos) << e.what();
    }
}

TEST_F(MovieTest, SlotsOfOneFileShareItAndAtMostTwoMoviesDecodeAtATime) {
    const fs::path file = Numbered("clip.mpg", "mpeg1video");
    media::TDirectDrawSurface other{&directDraw};
    other.SetSize(320, 240);
    {
        Movie a(file.string(), Movie::Timing::Exact), b(file.string(), Movie::Timing::Exact);
        EXPECT_EQ(Movie::Current().files, 1);
        EXPECT_LE(Movie::Current().decoders, 1);
        a.ShowOn(surface, gui::Rect(0, 0, 320, 240));
        b.ShowOn(other, gui::Rect(0, 0, 320, 240));
        a.Restart();
        a.Show(200);
        EXPECT_EQ(Shown(), 5);
        // The other slot replaces the first on the screen: the decoder passes to it.
        b.Restart();
        b.Show(120);
        EXPECT_EQ(testsupport::MoviePictureOf(gui::PixelToXrgb(other.Pixel(160, 120), other.Format(), nullptr)), 3);
        EXPECT_EQ(Movie::Current().decoders, 1);
    }
    EXPECT_EQ(Movie::Current().files, 0);
    EXPECT_EQ(Movie::Current().decoders, 0);

    // A chart that selects a movie in slot after slot, of five files.
    for (int i = 1; i < 5; ++i) fs::copy_file(file, dir / ("clip" + std::to_string(i) + ".mpg"));
    std::vector<std::unique_ptr<Movie>> slots;
    for (int i = 0; i < 40; ++i) {
        const std::string name = i % 5 ? "clip" + std::to_string(i % 5) + ".mpg" : "clip.mpg";
        slots.push_back(std::make_unique<Movie>((dir / name).string(), Movie::Timing::Ahead));
        slots.back()->ShowOn(surface, gui::Rect(0, 0, 320, 240));
    }
    EXPECT_EQ(Movie::Current().files, 5);
    for (auto& slot : slots) {
        slot->Restart();
        for (int frame = 0; frame < 3; ++frame) slot->Show(40.0 * frame);
        ASSERT_LE(Movie::Current().workers, 2);
        ASSERT_LE(Movie::Current().decoders, 4);
    }
    // The one selected last still plays.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Shown() != 10 && std::chrono::steady_clock::now() < deadline) slots.back()->Show(410);
    EXPECT_EQ(Shown(), 10);
}

TEST_F(MovieTest, AStartFarIntoAMovieSeeksAndShowsWhatAPlayFromTheStartShows) {
    constexpr int kLong = 250;  // ten seconds
    media::TDirectDrawSurface reference{&directDraw};
    reference.SetSize(320, 240);
    for (const auto& [name, codec] : {std::pair{"long.mpg", "mpeg1video"}, {"long.avi", "mpeg4"}, {"long.wmv", "wmv2"}}) {
        testsupport::WriteMovie(dir / name, codec, 64, 48, 25, kLong, [](int k, int x, int) {
            return testsupport::MovieColour(x < 32 ? k % 25 : k / 25);
        });
        for (const double at : {6010.0, 9999.0}) {
            SCOPED_TRACE(std::string(name) + " from " + std::to_string(at) + " ms");
            Movie seeking((dir / name).string(), Movie::Timing::Exact);
            seeking.ShowOn(surface, gui::Rect(0, 0, 320, 240));
            seeking.Restart();
            const int64_t before = Movie::Current().pictures;
            seeking.Show(at);
            // AVI gives its pictures no presentation times of their own: it is decoded from the start.
            if (std::string(name) != "long.avi") {
                EXPECT_LT(Movie::Current().pictures - before, 40);
            }
            Movie playing((dir / name).string(), Movie::Timing::Exact);
            playing.ShowOn(reference, gui::Rect(0, 0, 320, 240));
            playing.Restart();
            for (double ms = 0; ms < at; ms += 40) playing.Show(ms);
            playing.Show(at);
            const int k = static_cast<int>(at / 40);
            EXPECT_EQ(testsupport::MoviePictureOf(Xrgb(80, 120)), k % 25);
            EXPECT_EQ(testsupport::MoviePictureOf(Xrgb(240, 120)), k / 25);
            for (int y = 0; y < 240; ++y)
                for (int x = 0; x < 320; ++x) ASSERT_EQ(surface.Pixel(x, y), reference.Pixel(x, y)) << x << "," << y;
        }
    }
}

TEST_F(MovieTest, ATruncatedMovieShowsWhatDecodesAndHoldsItsLastPicture) {
    const std::string whole = testsupport::ReadFile(Numbered("clip.avi", "mpeg4"));
    testsupport::WriteFile(dir / "cut.avi", whole.substr(0, whole.size() * 2 / 3));
    int exactLast = -1;
    for (const Movie::Timing timing : {Movie::Timing::Exact, Movie::Timing::Ahead}) {
        Movie movie((dir / "cut.avi").string(), timing);
        movie.ShowOn(surface, gui::Rect(0, 0, 320, 240));
        movie.Restart();
        for (int ms = 0; ms <= 2000; ms += 20) movie.Show(ms);
        if (timing == Movie::Timing::Exact) {
            // The damaged tail shows as well as it decodes, up to some picture before the end.
            exactLast = Shown();
            EXPECT_GE(exactLast, 5);
            EXPECT_LT(exactLast, kFrames - 1);
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (Shown() != exactLast && std::chrono::steady_clock::now() < deadline) movie.Show(2000);
            EXPECT_EQ(Shown(), exactLast);
        }
        // The picture reached at the end stays.
        for (int ms = 2000; ms <= 60000; ms += 1000) {
            movie.Show(ms);
            ASSERT_EQ(Shown(), exactLast);
        }
    }
}

TEST_F(MovieTest, ASurfaceTheDisplayTookBackIsLeftAlone) {
    Movie movie(Numbered("clip.mpg", "mpeg1video").string(), Movie::Timing::Exact);
    movie.ShowOn(surface, gui::Rect(0, 0, 320, 240));
    movie.Restart();
    surface.SetSize(0, 0);
    movie.Show(200);
    EXPECT_FALSE(surface.IsCreated());
}

class EightBitMovieTest : public MovieTest {
protected:
    EightBitMovieTest() : MovieTest(gui::PixelFormat::Indexed8) {
        gui::TColorTable table{};
        for (int i = 0; i < 256; ++i) {
            // The test colours backwards from the end, black elsewhere.
            const uint32_t c = i < testsupport::kMovieColours ? testsupport::MovieColour(i) : 0;
            table[static_cast<size_t>(255 - i)] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                                                  static_cast<uint8_t>(c >> 16), 0};
        }
        directDraw.Palette().SetEntries(table);
        surface.SetSize(320, 240);
    }
};

TEST_F(EightBitMovieTest, PicturesAreMappedToTheNearestPaletteEntries) {
    Movie movie(Numbered("clip.wmv", "wmv2").string(), Movie::Timing::Exact);
    movie.ShowOn(surface, gui::Rect(0, 0, 320, 240));
    movie.Restart();
    for (int k : {0, 7, 19}) {
        movie.Show(40.0 * k + 1);
        EXPECT_EQ(surface.Pixel(160, 120), 255u - static_cast<uint32_t>(k));
    }
}

}  // namespace
