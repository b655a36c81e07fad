// End-to-end checks of the sound and picture formats a chart may use: a chart whose WAV and BMP
// files are the ones it names renders exactly as it always has and loads no codec library, a
// chart whose files are Ogg, FLAC, MP3, float WAV and PNG under other names loads and plays all of
// them, and a program without its codec modules treats such files as ones that do not decode.
#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/Bitmap.h"
#include "media/Wave.h"
#include "support/BmpBuilder.h"
#include "support/MovieFiles.h"
#include "support/SoundFiles.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

uint64_t Fnv1a(const std::string& bytes, uint64_t hash = 0xcbf29ce484222325ull) {
    for (const char c : bytes) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// A PCM WAV of a decaying sine, `ms` long, with the given layout.
std::vector<uint8_t> ToneWav(int rate, int channels, int bits, double hz, int ms) {
    const int frames = rate * ms / 1000;
    const int blockAlign = channels * bits / 8;
    testsupport::Bytes b;
    b.Text("RIFF").U32(static_cast<uint32_t>(36 + frames * blockAlign)).Text("WAVE");
    b.Text("fmt ").U32(16).U16(1).U16(static_cast<uint32_t>(channels)).U32(static_cast<uint32_t>(rate));
    b.U32(static_cast<uint32_t>(rate * blockAlign)).U16(static_cast<uint32_t>(blockAlign)).U16(static_cast<uint32_t>(bits));
    b.Text("data").U32(static_cast<uint32_t>(frames * blockAlign));
    for (int i = 0; i < frames; ++i) {
        const double v = std::sin(2 * M_PI * hz * i / rate) * (1.0 - static_cast<double>(i) / frames);
        for (int c = 0; c < channels; ++c) {
            const double s = c == 0 ? v : -v;
            if (bits == 8)
                b.U8(static_cast<uint32_t>(128 + std::lround(s * 100)));
            else
                b.U16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(s * 20000))));
        }
    }
    return b.Data();
}

testsupport::Picture Gradient(int width, int height) {
    testsupport::Picture p{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.pixels.push_back(static_cast<uint32_t>((x * 255 / width) << 16 | (y * 255 / height) << 8 | 0x40));
    return p;
}

// A layer picture: a white square with a black (transparent) frame, in an 8-bit palette.
testsupport::Picture Square(int size) {
    testsupport::Picture p{size, size, {}};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool inside = x >= size / 4 && x < size * 3 / 4 && y >= size / 4 && y < size * 3 / 4;
            p.pixels.push_back(inside ? 0xFFFFFF : 0x000000);
        }
    return p;
}

// FNV-1a of the rendered WAV file and of every frame picture in name order.
struct RenderDigest {
    uint64_t wav = 0;
    uint64_t frames = 0;
    size_t frameCount = 0;
};

RenderDigest RenderAndDigest(const testsupport::TempDir& dir, const std::string& extra, const std::string& tag,
                             const std::string& program = "glimstep-render") {
    const fs::path framesDir = dir / ("frames-" + tag);
    const testsupport::ToolRun run =
        testsupport::RunTool(program,
                             Quoted(dir / "song.bms") + " -o " + Quoted(dir / (tag + ".wav")) + " --frames " +
                                 Quoted(framesDir) + " --frame-every 15 " + extra,
                             dir / "stderr.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    RenderDigest digest;
    digest.wav = Fnv1a(testsupport::ReadFile(dir / (tag + ".wav")));
    std::vector<fs::path> frames;
    for (const auto& entry : fs::directory_iterator(framesDir)) frames.push_back(entry.path());
    std::sort(frames.begin(), frames.end());
    digest.frames = 0xcbf29ce484222325ull;
    for (const fs::path& frame : frames) digest.frames = Fnv1a(testsupport::ReadFile(frame), digest.frames);
    digest.frameCount = frames.size();
    return digest;
}

// The digests were taken from renders made before other sound and picture formats were read;
// a chart of WAV and BMP files must still give exactly these bytes. A deliberate change to what
// the renderer writes (mixing, timing, drawing) means taking them again from the new output.
TEST(ChartFormats, AChartOfTheWavAndBmpFilesItNamesRendersAsItAlwaysHas) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "a.wav", ToneWav(44100, 1, 16, 880, 120));
    testsupport::WriteFile(dir / "b.wav", ToneWav(22050, 2, 8, 330, 200));
    testsupport::BmpLayout truecolour;
    testsupport::WriteFile(dir / "bg.bmp", testsupport::MakeBmpFile(Gradient(64, 48), truecolour));
    testsupport::BmpLayout indexed;
    indexed.bitCount = 8;
    indexed.palette = {0x000000, 0xFFFFFF};
    testsupport::WriteFile(dir / "layer.bmp", testsupport::MakeBmpFile(Square(32), indexed));
    testsupport::WriteFile(dir / "song.bms",
                           "#TITLE unchanged\r\n#BPM 150\r\n#WAV01 a.wav\r\n#WAV02 b.wav\r\n#BMP01 bg.bmp\r\n"
                           "#BMP02 layer.bmp\r\n#00004:01\r\n#00007:0002\r\n#00011:0102\r\n#00101:02\r\n"
                           "#00113:01010101\r\n#00221:01\r\n#00216:0002\r\n");

    const RenderDigest normal = RenderAndDigest(dir, "", "normal");
    EXPECT_EQ(normal.frameCount, 47u);
    EXPECT_EQ(normal.wav, 0xfb7d0419107881e8ull);
    EXPECT_EQ(normal.frames, 0xd3466b7c470235daull);

    testsupport::WriteFile(dir / "settings.ini", "[Screen]\nBGAProt=2\n");
    const RenderDigest fast = RenderAndDigest(dir, "--speed 150 --settings " + Quoted(dir / "settings.ini"), "fast");
    EXPECT_EQ(fast.wav, 0x0d467c332b5ae23full);
    EXPECT_EQ(fast.frames, 0xa0dbade1b1270f8aull);
}

// The first sample of the left channel louder than `threshold` at or after `fromMs`, in ms.
double OnsetMs(const std::vector<int16_t>& left, double fromMs, int threshold = 2000) {
    for (size_t i = static_cast<size_t>(std::max(0.0, fromMs) * 44.1); i < left.size(); ++i)
        if (std::abs(left[i]) > threshold) return static_cast<double>(i) / 44.1;
    return -1;
}

// The pitch of the 50 ms after `fromMs`, from the zero crossings of the left channel.
double PitchHz(const std::vector<int16_t>& left, double fromMs) {
    const size_t start = static_cast<size_t>(fromMs * 44.1), end = std::min(left.size(), start + 2205);
    int crossings = 0;
    for (size_t i = start + 1; i < end; ++i) crossings += (left[i - 1] < 0) != (left[i] < 0);
    return crossings / 2.0 / 0.05;
}

// Whether two 00RRGGBB colours differ by at most `tolerance` in each channel (16-bit frames
// round the colours).
bool Near(uint32_t a, uint32_t b, int tolerance = 8) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

std::vector<int16_t> LeftChannel(const fs::path& path) {
    media::TWave wave;
    wave.LoadFromFile(path.string());
    std::vector<int16_t> left(wave.Size() / 4);
    for (size_t i = 0; i < left.size(); ++i) {
        const uint8_t* p = wave.Data() + 4 * i;
        left[i] = static_cast<int16_t>(p[0] | p[1] << 8);
    }
    return left;
}

// A 64×48 PNG: its left half opaque orange, its right half fully transparent white.
void WritePng(const fs::path& path) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 64, 48, 32, SDL_PIXELFORMAT_ARGB8888);
    ASSERT_NE(s, nullptr);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(s->pixels) + y * s->pitch)[x] =
                x < 32 ? 0xFFFF8000 : 0x00FFFFFF;
    ASSERT_EQ(IMG_SavePNG(s, path.c_str()), 0) << SDL_GetError();
    SDL_FreeSurface(s);
}

struct Sound {
    const char* file;
    int format;
    int rate;
    int channels;
    double hz;
    double songMs;
};

// The chart names a.wav, b.wav, c.wav, d.wav and bg.bmp; beside it are only a.ogg, B.FLAC,
// c.mp3, d.wav as 32-bit float, and bg.png.
TEST(ChartFormats, OggFlacMp3FloatWavAndPngUnderTheNamesOfWavAndBmpFilesAllLoadAndPlay) {
    testsupport::TempDir dir;
    const Sound sounds[] = {
        {"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, 400, 0},
        {"B.FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 1, 600, 1000},
        {"c.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 32000, 1, 800, 2000},
        {"d.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 1000, 3000},
    };
    for (const Sound& sound : sounds)
        testsupport::WriteSoundFile(dir / sound.file, sound.format, sound.rate, sound.channels,
                                    testsupport::Tone(sound.rate, sound.channels, sound.hz, 150));
    WritePng(dir / "bg.png");
    // 120 BPM: a measure is 2000 ms.
    testsupport::WriteFile(dir / "song.bms",
                           "#BPM 120\r\n#WAV01 a.wav\r\n#WAV02 b.wav\r\n#WAV03 c.wav\r\n#WAV04 d.wav\r\n"
                           "#BMP01 bg.bmp\r\n#00004:01\r\n#00011:0102\r\n#00111:0304\r\n");

    const testsupport::ToolRun info = testsupport::RunTool("glimstep-info", Quoted(dir / "song.bms"));
    ASSERT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("\"sounds\":[1,2,3,4],\"soundFiles\":{\"1\":\"a.ogg\",\"2\":\"B.FLAC\",\"3\":"
                            "\"c.mp3\",\"4\":\"d.wav\"}"),
              std::string::npos)
        << info.out;

    for (const int speed : {100, 150}) {
        SCOPED_TRACE("speed " + std::to_string(speed));
        const std::string tag = std::to_string(speed);
        const testsupport::ToolRun run = testsupport::RunTool(
            "glimstep-render",
            Quoted(dir / "song.bms") + " --speed " + tag + " -o " + Quoted(dir / (tag + ".wav")) + " --frames " +
                Quoted(dir / ("frames" + tag)) + " --frame-every 60",
            dir / "stderr.txt");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("sounds played 4"), std::string::npos) << run.out;
        // The load pauses a second, the start step takes a frame, then a two-second lead-in.
        const double songZeroMs = 1000 + 2000.0 / 60 + 2000;
        const std::vector<int16_t> left = LeftChannel(dir / (tag + ".wav"));
        double previous = 0;
        for (const Sound& sound : sounds) {
            SCOPED_TRACE(sound.file);
            const double expected = songZeroMs + sound.songMs * 100 / speed;
            const double onset = OnsetMs(left, previous);
            // Within a frame and a mixing block after its time; the MP3 coder's lead-in adds a little.
            EXPECT_GE(onset, expected - 1);
            EXPECT_LE(onset, expected + 1000.0 / 60 + 6 + 5);
            EXPECT_NEAR(PitchHz(left, onset + 5), sound.hz * speed / 100, sound.hz * 0.04);
            previous = onset + 200;
        }
        // The picture, fitted to the screen (×1.25 wide, ×0.9375 high, centred): its opaque half
        // orange, its transparent half black rather than white.
        gui::Bitmap frame;
        frame.LoadFromFile((dir / ("frames" + tag) / "frame-000241.bmp").string());
        EXPECT_TRUE(Near(frame.Pixel(125, 20), 0xFF8000)) << std::hex << frame.Pixel(125, 20);
        EXPECT_TRUE(Near(frame.Pixel(155, 5), 0xFF8000)) << std::hex << frame.Pixel(155, 5);
        EXPECT_EQ(frame.Pixel(165, 5), 0x000000u);
        EXPECT_EQ(frame.Pixel(195, 20), 0x000000u);
    }
}

// What the dynamic loader loads while `program` runs with `arguments`: its LD_DEBUG=files log.
std::string LoadedFiles(const testsupport::TempDir& dir, const std::string& program, const std::string& arguments) {
    const fs::path logs = dir / "ld";
    fs::remove_all(logs);
    fs::create_directory(logs);
    {
        const testsupport::ScopedEnv debug("LD_DEBUG", "files");
        const testsupport::ScopedEnv output("LD_DEBUG_OUTPUT", (logs / "log").string());
        const testsupport::ToolRun run = testsupport::RunTool(program, arguments);
        EXPECT_EQ(run.status, 0) << program;
    }
    std::string loaded;
    for (const auto& entry : fs::directory_iterator(logs)) loaded += testsupport::ReadFile(entry.path());
    return loaded;
}

const char* const kModules[] = {"glimstep-movie.so", "glimstep-picture.so", "glimstep-sound.so", "glimstep-midi.so"};
// The codec libraries that only the modules load (libsndfile comes with SDL's PulseAudio client).
const char* const kCodecLibraries[] = {"libavformat", "libavcodec", "libswscale", "libSDL2_image", "libfluidsynth"};

TEST(ChartFormats, AChartOfWavAndBmpFilesLoadsNoCodecLibrary) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "a.wav", ToneWav(44100, 1, 16, 880, 120));
    testsupport::WriteFile(dir / "bg.bmp", testsupport::MakeBmpFile(Gradient(64, 48), {}));
    testsupport::WriteFile(dir / "song.bms", "#BPM 240\r\n#WAV01 a.wav\r\n#BMP01 bg.bmp\r\n#00104:01\r\n#00111:01\r\n");
    const std::string chart = Quoted(dir / "song.bms");
    for (const char* program : {"glimstep-info", "glimstep", "glimstep-render"}) {
        const std::string loaded =
            LoadedFiles(dir, program, chart + (program == std::string("glimstep-render") ? " -o " + Quoted(dir / "out.wav") : ""));
        for (const char* module : kModules) EXPECT_EQ(loaded.find(module), std::string::npos) << program << ": " << module;
        // glimstep-render links FFmpeg itself, for its videos.
        if (program == std::string("glimstep-render")) continue;
        for (const char* library : kCodecLibraries)
            EXPECT_EQ(loaded.find(library), std::string::npos) << program << ": " << library;
    }

    // The log does show a module that a chart needs.
    testsupport::WriteSoundFile(dir / "b.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1,
                                testsupport::Tone(44100, 1, 440, 100));
    testsupport::WriteFile(dir / "ogg.bms", "#WAV01 b.ogg\r\n#00111:01\r\n");
    EXPECT_NE(LoadedFiles(dir, "glimstep-info", Quoted(dir / "ogg.bms")).find("glimstep-sound.so"), std::string::npos);
}

// A program whose modules are missing plays a chart of Ogg sounds, a PNG and a movie exactly as
// the same chart whose files are all undecodable, and refuses a chart with a MIDI backing track as
// it refuses one whose MIDI file is broken; it names each missing module once.
TEST(ChartFormats, WithoutItsModulesAProgramTreatsTheirFilesAsUndecodable) {
    const std::string chart = "#BPM 240\r\n#WAV01 a.wav\r\n#WAV02 b.ogg\r\n#WAV03 c.ogg\r\n#BMP01 bg.png\r\n"
                              "#BMP02 movie.mpg\r\n#00104:0102\r\n#00111:01020301\r\n";
    const std::string midiChart = "#MIDIFILE back.mid\r\n#WAV01 a.wav\r\n#00111:01\r\n";
    const auto writeCharts = [&](const testsupport::TempDir& dir) {
        testsupport::WriteFile(dir / "a.wav", ToneWav(44100, 1, 16, 880, 120));
        testsupport::WriteFile(dir / "song.bms", chart);
        testsupport::WriteFile(dir / "midi.bms", midiChart);
    };

    testsupport::TempDir alone;
    writeCharts(alone);
    for (const char* ogg : {"b.ogg", "c.ogg"})
        testsupport::WriteSoundFile(alone / ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1,
                                    testsupport::Tone(44100, 1, 440, 100));
    WritePng(alone / "bg.png");
    testsupport::WriteNumberedMovie(alone / "movie.mpg", "mpeg1video", 64, 48, 25, 10);
    testsupport::WriteFile(alone / "back.mid",
                           std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0c\0\x90\x3c\x40\x60\x80\x3c\0\0\xff\x2f\0", 34));
    // A copy of the program in a folder without modules.
    fs::create_directory(alone / "bin");
    const fs::path program = alone / "bin" / "glimstep-render";
    fs::copy_file(fs::path(GLIMSTEP_BINARY_DIR) / "glimstep-render", program);
    const RenderDigest without = RenderAndDigest(alone, "", "alone", program.string());
    std::string err = testsupport::ReadFile(alone / "stderr.txt");
    const testsupport::ToolRun midiWithout =
        testsupport::RunTool(program.string(), Quoted(alone / "midi.bms") + " -o " + Quoted(alone / "midi.wav"), alone / "midi.txt");
    err += midiWithout.err;
    for (const char* module : {"movie", "picture", "sound", "midi"}) {
        const std::string line = std::string("glimstep-render: cannot load the ") + module + " module (";
        const size_t at = err.find(line);
        EXPECT_NE(at, std::string::npos) << module << ": " << err;
        EXPECT_EQ(err.find(line, at + 1), std::string::npos) << module << " named twice: " << err;
    }

    testsupport::TempDir broken;
    writeCharts(broken);
    for (const char* name : {"b.ogg", "c.ogg", "bg.png", "movie.mpg", "back.mid"})
        testsupport::WriteFile(broken / name, "not what its name says");
    const RenderDigest undecodable = RenderAndDigest(broken, "", "broken");
    EXPECT_EQ(without.wav, undecodable.wav);
    EXPECT_EQ(without.frames, undecodable.frames);
    EXPECT_EQ(without.frameCount, undecodable.frameCount);
    const testsupport::ToolRun midiBroken =
        testsupport::RunTool("glimstep-render", Quoted(broken / "midi.bms") + " -o " + Quoted(broken / "midi.wav"));
    EXPECT_EQ(midiWithout.status, 1);
    EXPECT_EQ(midiWithout.status, midiBroken.status);
    EXPECT_EQ(midiWithout.out, midiBroken.out);
}

}  // namespace
