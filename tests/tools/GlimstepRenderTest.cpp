// Runs glimstep-render on charts the tests write and checks, in the WAV it writes, that each
// key sound starts when the tempo map says, after the pause and the lead-in; and the pictures,
// the settings file and the failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/Bitmap.h"
#include "media/Wave.h"
#include "support/ClickChart.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

namespace fs = std::filesystem;

constexpr double kRate = 44100;
constexpr double kClickHz = 1000;
constexpr int kClickSamples = 2205;  // 50 ms
constexpr int kFps = 60;

using testsupport::ToolRun;

ToolRun Render(const testsupport::TempDir& dir, const std::string& arguments) {
    return testsupport::RunTool("glimstep-render", arguments, dir / "stderr.txt");
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// 50 ms of a 1 kHz sine, mono 16-bit at 44.1 kHz.
std::vector<uint8_t> ClickWav() {
    testsupport::Bytes b;
    b.Text("RIFF").U32(36 + kClickSamples * 2).Text("WAVE");
    b.Text("fmt ").U32(16).U16(1).U16(1).U32(44100).U32(88200).U16(2).U16(16);
    b.Text("data").U32(kClickSamples * 2);
    for (int i = 0; i < kClickSamples; ++i)
        b.U16(static_cast<uint16_t>(static_cast<int16_t>(20000 * std::sin(2 * M_PI * kClickHz * i / kRate))));
    return b.Data();
}

// 120 BPM, 128 ticks a measure (2000 ms). Clicks at song times 0 and 3000 ms; measure 2 is half
// as long and at 240 BPM, with clicks at its start (4000 ms) and its middle (4250 ms); one more
// at the start of measure 3 (4500 ms). The end marker falls at position 512 (6000 ms) and play
// ends 256 positions later at the last tempo (8000 ms).
const std::vector<double> kClickTimes = {0, 3000, 4000, 4250, 4500};
constexpr double kEndMs = 8000;
constexpr double kHalfTickMs = 2000.0 / 128 / 2;

void WriteChart(const testsupport::TempDir& dir) {
    testsupport::WriteFile(dir / "click.wav", ClickWav());
    testsupport::WriteFile(dir / "song.bms",
                           "#TITLE clicks\r\n#BPM 120\r\n#WAV01 click.wav\r\n"
                           "#00011:01\r\n#00111:0001\r\n#00203:F0\r\n#00202:0.5\r\n#00211:0101\r\n#00311:01\r\n");
}

struct Click {
    double startMs;
    double lengthMs;
    double hz;
};

struct Rendered {
    media::TWaveFormatEx format;
    std::vector<int16_t> left;
    double LengthMs() const { return static_cast<double>(left.size()) * 1000 / kRate; }
};

Rendered ReadWav(const fs::path& path) {
    media::TWave wave;
    wave.LoadFromFile(path.string());
    Rendered r;
    r.format = wave.Format();
    const auto* samples = reinterpret_cast<const int16_t*>(wave.Data());
    for (size_t i = 0; i + 1 < wave.Size() / 2; i += 2) r.left.push_back(samples[i]);
    return r;
}

// Each run of sound louder than the noise floor, with its pitch from the zero crossings.
std::vector<Click> FindClicks(const std::vector<int16_t>& samples) {
    constexpr int kThreshold = 300;
    std::vector<Click> clicks;
    size_t i = 0;
    while (i < samples.size()) {
        if (std::abs(samples[i]) < kThreshold) {
            ++i;
            continue;
        }
        const size_t start = i > 0 ? i - 1 : i;  // a sine starts at 0: the sample before is its first
        size_t end = start, quiet = 0, crossings = 0;
        for (size_t k = start + 1; k < samples.size() && quiet < 200; ++k) {
            if ((samples[k - 1] < 0) != (samples[k] < 0)) ++crossings;
            if (std::abs(samples[k]) < kThreshold) {
                ++quiet;
            } else {
                quiet = 0;
                end = k;
            }
        }
        const double length = static_cast<double>(end - start + 1);
        clicks.push_back({static_cast<double>(start) * 1000 / kRate, length * 1000 / kRate,
                          static_cast<double>(crossings) / 2 / (length / kRate)});
        i = end + 1;
    }
    return clicks;
}

// The load step runs on the first frame and pauses a second; the start step runs a frame after
// the pause, and the song clock then starts after its two-second lead-in.
double SongZeroMs(int fps) { return 1000 + 2000.0 / fps + 2000; }

void ExpectClicksOnTime(const Rendered& wav, int speed, int fps = kFps) {
    const std::vector<Click> clicks = FindClicks(wav.left);
    ASSERT_EQ(clicks.size(), kClickTimes.size());
    const double framePeriod = 1000.0 / fps;
    const double block = 256 * 1000 / kRate;
    for (size_t i = 0; i < clicks.size(); ++i) {
        const double expected = SongZeroMs(fps) + kClickTimes[i] * 100 / speed;
        EXPECT_GE(clicks[i].startMs, expected - kHalfTickMs * 100 / speed - 1) << "click " << i;
        EXPECT_LE(clicks[i].startMs, expected + framePeriod + block) << "click " << i;
        EXPECT_NEAR(clicks[i].hz, kClickHz * speed / 100, 30) << "click " << i;
        EXPECT_NEAR(clicks[i].lengthMs, 50.0 * 100 / speed, 3) << "click " << i;
    }
    // Play is over on the first frame past the end position; the step after it takes one more.
    EXPECT_GE(wav.LengthMs(), SongZeroMs(fps) + kEndMs * 100 / speed);
    EXPECT_LE(wav.LengthMs(), SongZeroMs(fps) + kEndMs * 100 / speed + 4 * framePeriod);
}

TEST(GlimstepRender, EachClickStartsWhenTheTempoMapSaysAfterThePauseAndTheLeadIn) {
    testsupport::TempDir dir;
    WriteChart(dir);
    const ToolRun run = Render(dir, Quoted(dir / "song.bms") + " -o " + Quoted(dir / "out.wav"));
    ASSERT_EQ(run.status, 0) << run.err;
    const Rendered wav = ReadWav(dir / "out.wav");
    EXPECT_EQ(wav.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(wav.format.nChannels, 2);
    EXPECT_EQ(wav.format.wBitsPerSample, 16);
    ExpectClicksOnTime(wav, 100);
    // Five clicks, the tempo change, the measure length and the end marker.
    EXPECT_NE(run.out.find("objects triggered 8 of 8, sounds played 5"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("x real time"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");  // no progress bar when stderr is not a terminal
    EXPECT_NE(run.out.find(", missing files 0\n"), std::string::npos) << run.out;
    // A sound and a picture that are not there are counted, each once.
    testsupport::WriteFile(dir / "gaps.bms", "#WAV01 click.wav\r\n#WAV02 gone.wav\r\n#WAV03 gone.wav\r\n"
                                             "#BMP01 gone.bmp\r\n#00111:0102\r\n#00104:01\r\n");
    const ToolRun gaps = Render(dir, Quoted(dir / "gaps.bms") + " -o " + Quoted(dir / "gaps.wav"));
    ASSERT_EQ(gaps.status, 0) << gaps.err;
    EXPECT_NE(gaps.out.find(", missing files 2\n"), std::string::npos) << gaps.out;
    EXPECT_NE(gaps.err.find("file not found: gone.bmp (tried gone.bmp, gone.png,"), std::string::npos) << gaps.err;

    // At 30 frames a second some clicks fall between frames: they still start on their sample.
    ASSERT_EQ(Render(dir, Quoted(dir / "song.bms") + " --fps 30 --speed 150 -o " + Quoted(dir / "30.wav")).status, 0);
    ExpectClicksOnTime(ReadWav(dir / "30.wav"), 150, 30);
}

// The whole mix of a WAV file, interleaved 16-bit stereo.
std::vector<int16_t> Mix(const fs::path& path) {
    media::TWave wave;
    wave.LoadFromFile(path.string());
    const auto* samples = reinterpret_cast<const int16_t*>(wave.Data());
    return std::vector<int16_t>(samples, samples + wave.Size() / 2);
}

TEST(GlimstepRender, EveryClickStartsWithinASampleOfTheTempoMapAtEachSpeed) {
    testsupport::TempDir dir;
    const std::vector<double> times = testsupport::WriteClickChart(dir.Path(), 7);
    for (int speed : {100, 75, 150}) {
        const fs::path out = dir / ("clicks-" + std::to_string(speed) + ".wav");
        const ToolRun run = Render(dir, Quoted(dir / "song.bms") + " --speed " + std::to_string(speed) + " -o " + Quoted(out));
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<int16_t> mix = Mix(out);
        const std::vector<size_t> onsets = testsupport::FindOnsets(mix.data(), mix.size() / 2);
        ASSERT_EQ(onsets.size(), times.size()) << "speed " << speed;
        for (size_t i = 1; i < onsets.size(); ++i) {
            const double expected = (times[i] - times[0]) * 100 / speed * kRate / 1000;
            EXPECT_NEAR(static_cast<double>(onsets[i] - onsets[0]), expected, 1.0) << "speed " << speed << ", click " << i;
        }
    }
}

// A render from a measure is the full render from that measure on, sample for sample, shifted by
// the time before it: a long sound started before the measure is heard from where it has got to
// (and cut where its slot plays again), one over by then is not.
TEST(GlimstepRender, FromAMeasureTheSongIsTheFullRenderFromThereOnToTheSample) {
    testsupport::TempDir dir;
    testsupport::Bytes noise;
    constexpr uint32_t kNoiseFrames = 6 * 44100;
    noise.Text("RIFF").U32(36 + kNoiseFrames * 2).Text("WAVE");
    noise.Text("fmt ").U32(16).U16(1).U16(1).U32(44100).U32(88200).U16(2).U16(16);
    noise.Text("data").U32(kNoiseFrames * 2);
    for (uint32_t i = 0, x = 1; i < kNoiseFrames; ++i) noise.U16(static_cast<uint16_t>((x = x * 1103515245 + 12345) >> 17));
    testsupport::WriteFile(dir / "long.wav", noise.Data());
    testsupport::WriteFile(dir / "click.wav", ClickWav());
    // 120 BPM; measure 1 is three quarters long, so measure 3 begins at 5500 ms. The 6 s sound
    // starts at 1000 ms and is cut when its slot plays again at 6500 ms; the click at 2000 ms is over.
    const std::string chart = "#BPM 120\n#WAV01 long.wav\n#WAV02 click.wav\n#00011:0001\n"
                              "#00102:0.75\n#00111:02\n#00311:0201\n#00411:02\n";
    testsupport::WriteFile(dir / "song.bms", chart);
    // The same with a silent backing track, which is then the song clock: 2 s at 120 BPM, then
    // 10 s at 240 (96 ticks a quarter), so that its start part-way has to go through a tempo change.
    testsupport::WriteFile(dir / "midi.bms", "#MIDIFILE track.mid\n" + chart);
    const std::vector<uint8_t> track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x83, 0x00, 0xFF, 0x51, 0x03,
                                        0x03, 0xD0, 0x90, 0x9E, 0x00, 0xFF, 0x2F, 0x00};
    testsupport::Bytes midi;
    midi.Text("MThd").Append({0, 0, 0, 6, 0, 0, 0, 1, 0, 96}).Text("MTrk").Append({0, 0, 0, static_cast<uint8_t>(track.size())});
    testsupport::WriteFile(dir / "track.mid", midi.Append(track).Data());
    for (const auto& [speed, reading] :
         {std::pair{100, "song.bms"}, std::pair{150, "song.bms --extended"}, std::pair{150, "midi.bms"}}) {
        const std::string common = Quoted(dir.Path()) + "/" + reading + " --speed " + std::to_string(speed);
        ASSERT_EQ(Render(dir, common + " -o " + Quoted(dir / "full.wav")).status, 0);
        const ToolRun run = Render(dir, common + " -N3 -o " + Quoted(dir / "from3.wav"));
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<int16_t> full = Mix(dir / "full.wav"), from3 = Mix(dir / "from3.wav");
        const size_t shift = static_cast<size_t>(std::llround(5500.0 * 100 / speed * kRate / 1000)) * 2;
        ASSERT_EQ(from3.size() + shift, full.size()) << reading << " at speed " << speed;
        // From the song's start ("the song from 3.03 s": after the pause and the lead-in) and the
        // first frame on: sounds carried over join on that frame. With the backing track the song
        // starts at once, without a lead-in, and the sounds due in its first moments come as late
        // as they do at the start of a whole song; from half a second on all is exact.
        const double settle = reading == std::string("midi.bms") ? 0.5 : 0.025;
        const size_t songStart =
            static_cast<size_t>((std::atof(run.out.substr(run.out.find("from ") + 5).c_str()) + settle) * kRate) * 2;
        size_t mismatches = 0;
        for (size_t k = songStart; k < from3.size(); ++k) mismatches += from3[k] != full[k + shift];
        EXPECT_EQ(mismatches, 0u) << reading << " at speed " << speed;
        EXPECT_NE(from3[songStart], 0) << reading << " at speed " << speed;
    }
    // A measure past the end ends the play at once, with nothing played.
    const ToolRun past = Render(dir, Quoted(dir / "song.bms") + " -N 40 -o " + Quoted(dir / "past.wav"));
    EXPECT_EQ(past.status, 0);
    EXPECT_NE(past.out.find("sounds played 0,"), std::string::npos) << past.out;
    EXPECT_LT(Mix(dir / "past.wav").size(), static_cast<size_t>(2 * kRate) * 2);
}

TEST(GlimstepRender, TheDemosSoundIsTheSameWithAndWithoutPicturesAndOnEveryRun) {
    testsupport::TempDir dir;
    const std::string demo = Quoted(fs::path(GLIMSTEP_BINARY_DIR) / "demo" / "demo.bms");
    ASSERT_EQ(Render(dir, demo + " -o " + Quoted(dir / "a.wav")).status, 0);
    ASSERT_EQ(Render(dir, demo + " -o " + Quoted(dir / "b.wav")).status, 0);
    const ToolRun pictures =
        Render(dir, demo + " -o " + Quoted(dir / "c.wav") + " --frames " + Quoted(dir / "frames") + " --frame-every 97");
    ASSERT_EQ(pictures.status, 0) << pictures.err;
    EXPECT_FALSE(fs::is_empty(dir / "frames"));
    const std::string a = testsupport::ReadFile(dir / "a.wav");
    EXPECT_GT(a.size(), 44u * 1000 * 4 * 10);
    EXPECT_TRUE(a == testsupport::ReadFile(dir / "b.wav"));
    EXPECT_TRUE(a == testsupport::ReadFile(dir / "c.wav"));
}

TEST(GlimstepRender, SpeedScalesTheTimesAndRaisesThePitchFromTheOptionOrTheSettings) {
    testsupport::TempDir dir;
    WriteChart(dir);
    ToolRun run = Render(dir, Quoted(dir / "song.bms") + " --speed 150 -o " + Quoted(dir / "fast.wav"));
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectClicksOnTime(ReadWav(dir / "fast.wav"), 150);

    // PlaySpeed 4 is "1.50"; --speed wins over it.
    testsupport::WriteFile(dir / "settings.ini", "[Screen]\nPlaySpeed=4\n");
    run = Render(dir, Quoted(dir / "song.bms") + " --settings=" + Quoted(dir / "settings.ini") + " -o " +
                          Quoted(dir / "set.wav"));
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectClicksOnTime(ReadWav(dir / "set.wav"), 150);
    run = Render(dir, "--settings " + Quoted(dir / "settings.ini") + " --speed=100 -o " + Quoted(dir / "n.wav") + " " +
                          Quoted(dir / "song.bms"));
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectClicksOnTime(ReadWav(dir / "n.wav"), 100);
}

TEST(GlimstepRender, TheExtendedReadingPlaysEveryChannelThroughStopsFromTheOptionOrTheSettings) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "click.wav", ClickWav());
    // 120 BPM, base-36 slot 0Z. A click on channel 18 at 0 ms; at beat 4 (2000 ms) a long note
    // starts as a stop of two beats (1000 ms) begins, and ends silently; a click at beat 8
    // (5000 ms). The fixed dialect reads no sound here at all.
    testsupport::WriteFile(dir / "ext.bms",
                           "#BPM 120\n#WAV0Z click.wav\n#STOP01 96\n#00018:0Z\n#00109:01\n#00151:0Z0Z\n#00211:0Z\n");
    const std::vector<double> times = {0, 2000, 5000};
    testsupport::WriteFile(dir / "settings.ini", "[Chart]\nExtended=1\n");
    for (const std::string& how : {std::string("--extended --seed 3"), "--settings " + Quoted(dir / "settings.ini")}) {
        const ToolRun run = Render(dir, how + " " + Quoted(dir / "ext.bms") + " -o " + Quoted(dir / "ext.wav"));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("sounds played 3"), std::string::npos) << run.out;
        const std::vector<Click> clicks = FindClicks(ReadWav(dir / "ext.wav").left);
        ASSERT_EQ(clicks.size(), times.size()) << how;
        for (size_t i = 0; i < clicks.size(); ++i) {
            EXPECT_GE(clicks[i].startMs, SongZeroMs(kFps) + times[i] - kHalfTickMs - 1) << how << " click " << i;
            EXPECT_LE(clicks[i].startMs, SongZeroMs(kFps) + times[i] + 1000.0 / kFps + 256 * 1000 / kRate)
                << how << " click " << i;
        }
    }
    const ToolRun fixed = Render(dir, Quoted(dir / "ext.bms") + " -o " + Quoted(dir / "fixed.wav"));
    ASSERT_EQ(fixed.status, 0) << fixed.err;
    EXPECT_TRUE(FindClicks(ReadWav(dir / "fixed.wav").left).empty());
}

TEST(GlimstepRender, WritesEveryNthFrameAsA24BitPictureUnlessPlaybackOnly) {
    testsupport::TempDir dir;
    WriteChart(dir);
    ToolRun run = Render(dir, Quoted(dir / "song.bms") + " -o " + Quoted(dir / "out.wav") + " --frames " +
                                  Quoted(dir / "frames") + " --frame-every 100");
    ASSERT_EQ(run.status, 0) << run.err;
    // About 11 s of play at 60 frames a second: frames 1, 101, ... 601.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "frames")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names.front(), "frame-000001.bmp");
    EXPECT_EQ(names.back(), "frame-000601.bmp");
    const std::string bytes = testsupport::ReadFile(dir / "frames" / "frame-000101.bmp");
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[28]), 24);
    gui::Bitmap frame;
    frame.LoadFromFile((dir / "frames" / "frame-000101.bmp").string());
    ASSERT_EQ(frame.Width(), 320);
    ASSERT_EQ(frame.Height(), 240);
    // Without pictures the backdrop is (red, 0, 255); the receptors are drawn over it at y = 32.
    EXPECT_EQ(frame.Pixel(319, 239) & 0x00FFFF, 0x0000FFu);
    int receptorPixels = 0;
    for (int y = 32; y < 62; ++y)
        for (int x = 8; x < 38; ++x) receptorPixels += frame.Pixel(x, y) != frame.Pixel(319, 239);
    EXPECT_GT(receptorPixels, 100);

    testsupport::WriteFile(dir / "settings.ini", "[Screen]\nShowBGA=2\n");
    run = Render(dir, Quoted(dir / "song.bms") + " -o " + Quoted(dir / "quiet.wav") + " --frames " +
                          Quoted(dir / "none") + " --settings " + Quoted(dir / "settings.ini"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_empty(dir / "none"));
    ExpectClicksOnTime(ReadWav(dir / "quiet.wav"), 100);
}

TEST(GlimstepRender, FailuresGiveThePlayersMessagesAndLeaveNoOutputBehind) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "old.wav", "keep me");
    ToolRun run = Render(dir, Quoted(dir / "missing.bms") + " -o " + Quoted(dir / "old.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("何らかの異常があります"), std::string::npos) << run.err;
    EXPECT_EQ(testsupport::ReadFile(dir / "old.wav"), "keep me");

    testsupport::WriteFile(dir / "zero.bms", "#BPM 0\n#00111:01\n");
    run = Render(dir, Quoted(dir / "zero.bms") + " -o " + Quoted(dir / "out.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("異常"), std::string::npos) << run.err;

    // One beat a minute and a thousand measures: far more than a WAV file holds, refused at once.
    testsupport::WriteFile(dir / "long.bms", "#BPM 1\n#99911:01\n");
    run = Render(dir, Quoted(dir / "long.bms") + " -o " + Quoted(dir / "out.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("longer than a WAV file can hold"), std::string::npos) << run.err;

    testsupport::WriteFile(dir / "song.txt", "#BPM 120\n");
    run = Render(dir, Quoted(dir / "song.txt") + " -o " + Quoted(dir / "out.wav"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("BMSファイルをドロップしてね（汗）"), std::string::npos) << run.err;

    // Only the files the test wrote remain: no output, no temporary file.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"long.bms", "old.wav", "song.txt", "stderr.txt", "zero.bms"}));
}

TEST(GlimstepRender, UsageErrorsExitWithStatus2) {
    testsupport::TempDir dir;
    WriteChart(dir);
    const std::string chart = Quoted(dir / "song.bms");
    const std::string out = " -o " + Quoted(dir / "out.wav");
    for (const std::string& args :
         {chart, out, chart + out + " --fps 0", chart + out + " --fps 6x", chart + out + " --speed",
          chart + out + " --frame-every -1", chart + out + " --loud", chart + out + " other.bms",
          chart + out + " -N1000", chart + out + " -N",
          chart + out + " --settings " + Quoted(dir / "no.ini")}) {
        const ToolRun run = Render(dir, args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("usage: glimstep-render"), std::string::npos) << args;
    }
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
}

}  // namespace
