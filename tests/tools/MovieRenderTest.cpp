// Movie backgrounds in glimstep-render's frames: each frame shows the movie picture due at the
// song time elapsed since the image object that selected the movie, at speeds 100 and 150, as
// the base image and as the colour-keyed layer, in 16-bit and in 8-bit colour, and every run
// gives the same frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/Bitmap.h"
#include "support/BmpBuilder.h"
#include "support/MovieFiles.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPictures = 20;    // 25 per second: picture k from 40k ms on
constexpr int kFps = 100;        // a render frame every 10 ms of the clock
constexpr int kFrameEvery = 3;   // every third frame written: 30 ms apart, at every phase of a picture
constexpr double kMeasureMs = 500;  // 480 BPM
// The movie is selected at the start of measures 1 and 3 (a second selection restarts it).
constexpr int kSelections[] = {1, 3};
constexpr uint32_t kBaseGrey = 0x404040;

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// The song time of play frame n: the clock starts 2000 ms ahead of the song on the frame
// before the first one, and advances 1000 / kFps ms a frame.
int64_t SongMs(int n, int speed) {
    return static_cast<int64_t>(std::trunc((1000.0 / kFps * n - 2000) * speed / 100));
}

// The song position of play frame n (480 BPM: 128 ticks in 500 ms).
int64_t Position(int n, int speed) { return static_cast<int64_t>(std::nearbyint(SongMs(n, speed) * 0.256)); }

// The movie picture expected in play frame n, -1 for none: a selection triggers in the first
// frame that reaches its position and shows from the next frame on, since the frame draws the
// background before it triggers.
int ExpectedPicture(int n, int speed) {
    int expected = -1;
    for (const int measure : kSelections) {
        int trigger = 1;
        while (Position(trigger, speed) < measure * 128) ++trigger;
        if (trigger < n) {
            const int64_t elapsed = SongMs(n, speed) - static_cast<int64_t>(measure * kMeasureMs);
            expected = std::min<int>(static_cast<int>(elapsed / 40), kPictures - 1);
        }
    }
    return expected;
}

bool Near(uint32_t a, uint32_t b, int tolerance = 8) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

struct Case {
    const char* file;
    const char* codec;
    bool layer;
    int speed;
    bool eightBit;
};

std::string Describe(const Case& c) {
    return std::string(c.file) + (c.layer ? " as layer" : " as base") + " at speed " + std::to_string(c.speed) +
           (c.eightBit ? ", 256 colours" : ", 65536 colours");
}

// Writes the chart for `c` with its files.
void WriteChart(const testsupport::TempDir& dir, const Case& c) {
    if (c.layer) {
        // Black around a block-aligned square of the picture's colour: the black is keyed out.
        testsupport::WriteMovie(dir / c.file, c.codec, 64, 48, 25, kPictures, [](int k, int x, int y) {
            return x >= 16 && x < 48 && y >= 16 && y < 32 ? testsupport::MovieColour(k) : 0u;
        });
        testsupport::Picture grey{256, 256, std::vector<uint32_t>(256 * 256, kBaseGrey)};
        testsupport::WriteFile(dir / "grey.bmp", testsupport::MakeBmpFile(grey, {}));
    } else {
        testsupport::WriteNumberedMovie(dir / c.file, c.codec, 64, 48, 25, kPictures);
    }
    const std::string channel = c.layer ? "07" : "04";
    std::string chart = "#BPM 480\n#BMP01 " + std::string(c.file) + "\n#BMP02 grey.bmp\n";
    if (c.layer) chart += "#00004:02\n";
    for (const int measure : kSelections) {
        char line[32];
        std::snprintf(line, sizeof line, "#%03d%s:01\n", measure, channel.c_str());
        chart += line;
    }
    chart += "#00401:01\n";  // the song goes on past the movie's end
    testsupport::WriteFile(dir / "song.bms", chart);
    testsupport::WriteFile(dir / "settings.ini", std::string("[Screen]\nColor=") + (c.eightBit ? "0" : "1") + "\n");
}

// Renders the chart for `c` with its frames in dir/`frames`.
void Render(const testsupport::TempDir& dir, const Case& c, const std::string& frames = "frames") {
    const testsupport::ToolRun run = testsupport::RunTool(
        "glimstep-render",
        Quoted(dir / "song.bms") + " -o " + Quoted(dir / "song.wav") + " --speed " + std::to_string(c.speed) +
            " --settings " + Quoted(dir / "settings.ini") + " --fps " + std::to_string(kFps) + " --frames " +
            Quoted(dir / frames) + " --frame-every " + std::to_string(kFrameEvery),
        dir / "stderr.txt");
    ASSERT_EQ(run.status, 0) << run.err;
}

fs::path FrameFile(const testsupport::TempDir& dir, int n, const std::string& frames = "frames") {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.bmp", n);
    return dir / frames / name;
}

TEST(MovieRender, EachFrameShowsThePictureDueAtItsSongTime) {
    const Case cases[] = {
        {"clip.mpg", "mpeg1video", false, 100, false}, {"clip.mpg", "mpeg1video", false, 150, false},
        {"clip.avi", "mpeg4", true, 100, false},       {"clip.avi", "mpeg4", true, 150, true},
        {"clip.wmv", "wmv2", false, 100, true},        {"clip.wmv", "wmv2", true, 150, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Describe(c));
        testsupport::TempDir dir;
        WriteChart(dir, c);
        Render(dir, c);
        int checked = 0, shown = 0, restarts = 0, previous = -1;
        for (int n = 1;; n += kFrameEvery) {
            const fs::path file = FrameFile(dir, n);
            if (!fs::exists(file)) break;
            gui::Bitmap frame;
            frame.LoadFromFile(file.string());
            // The middle of the picture's square (fit mode 0: x 120-200, y 0-45 on the screen).
            const uint32_t middle = frame.Pixel(160, 22);
            const int expected = ExpectedPicture(n, c.speed);
            ++checked;
            if (expected < 0) {
                ASSERT_EQ(middle, c.layer ? frame.Pixel(160, 120) : 0u) << "frame " << n << " shows a movie too soon";
                continue;
            }
            ASSERT_TRUE(Near(middle, testsupport::MovieColour(testsupport::MoviePictureOf(middle))))
                << "frame " << n << ": " << std::hex << middle << " is no picture's colour";
            ASSERT_EQ(testsupport::MoviePictureOf(middle), expected)
                << "frame " << n << " at song time " << SongMs(n, c.speed) << " ms";
            ++shown;
            if (expected < previous) ++restarts;
            previous = expected;
            if (c.layer) {
                // The black around the square is keyed out: the grey base shows there.
                EXPECT_TRUE(Near(frame.Pixel(125, 3), kBaseGrey)) << std::hex << frame.Pixel(125, 3);
                EXPECT_TRUE(Near(frame.Pixel(195, 42), kBaseGrey)) << std::hex << frame.Pixel(195, 42);
            }
        }
        EXPECT_GT(checked, 150);
        EXPECT_GT(shown, 60);
        EXPECT_EQ(restarts, 1);
        EXPECT_EQ(previous, kPictures - 1);  // the last picture stays to the end
    }
}

TEST(MovieRender, EveryRunGivesTheSameFrames) {
    testsupport::TempDir dir;
    const Case c{"clip.avi", "mpeg4", false, 150, false};
    WriteChart(dir, c);
    Render(dir, c, "first");
    Render(dir, c, "second");
    int compared = 0;
    for (int n = 1; fs::exists(FrameFile(dir, n, "first")); n += kFrameEvery, ++compared)
        ASSERT_EQ(testsupport::ReadFile(FrameFile(dir, n, "first")), testsupport::ReadFile(FrameFile(dir, n, "second")))
            << "frame " << n;
    EXPECT_GT(compared, 150);
}

}  // namespace
