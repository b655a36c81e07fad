#include "support/ClickChart.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TestFiles.h"

namespace testsupport {
namespace {

constexpr int kClickFrames = 882;  // 20 ms

// A decaying 1 kHz cosine whose first sample is its loudest, so that its onset is one sample.
std::vector<uint8_t> ClickWav() {
    Bytes b;
    b.Text("RIFF").U32(36 + kClickFrames * 2).Text("WAVE");
    b.Text("fmt ").U32(16).U16(1).U16(1).U32(44100).U32(88200).U16(2).U16(16);
    b.Text("data").U32(kClickFrames * 2);
    for (int i = 0; i < kClickFrames; ++i) {
        const double v = 20000 * std::cos(2 * M_PI * 1000 * i / 44100.0) * (1.0 - double(i) / kClickFrames);
        b.U16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    return b.Data();
}

std::string Line(int measure, int channel, const std::string& data) {
    char head[16];
    std::snprintf(head, sizeof head, "#%03d%02d:", measure, channel);
    return head + data + "\r\n";
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

}  // namespace

std::vector<double> WriteClickChart(const std::filesystem::path& dir, int measures) {
    WriteFile(dir / "beat.wav", ClickWav());
    WriteFile(dir / "off.wav", ClickWav());
    std::string chart = "#TITLE clicks\r\n#BPM 137\r\n#WAV01 beat.wav\r\n#WAV02 off.wav\r\n";
    chart += Line(2, 3, "B4");     // 180 beats a minute from measure 2
    chart += Line(3, 2, "0.75");  // measure 3 is 3/4
    std::vector<int32_t> positions;
    for (int m = 0; m < measures; ++m) {
        const int beats = m == 3 ? 3 : 4;
        const int32_t start = m <= 3 ? 128 * m : 128 * m - 32;
        chart += Line(m, 11, Repeat("01", beats));
        chart += Line(m, 12, Repeat("0002", 2 * beats));
        for (int sixteenth = 0; sixteenth < 4 * beats; ++sixteenth)
            if (sixteenth % 4 == 0 || sixteenth % 2 == 1) positions.push_back(start + 8 * sixteenth);
    }
    WriteFile(dir / "song.bms", chart);

    // The tempo map by the format's rules: whole milliseconds at its points, the end marker two
    // measures after the last click's measure, straight lines between.
    const int32_t end = (positions.back() / 128 + 2) * 128;
    const double change = std::nearbyint(256 / 32.0 * 60000 / 137);
    const double last = change + std::nearbyint((end - 256) / 32.0 * 60000 / 180);
    std::vector<double> times;
    for (int32_t p : positions)
        times.push_back(p <= 256 ? p * change / 256 : change + (p - 256) * (last - change) / (end - 256));
    return times;
}

std::vector<size_t> FindOnsets(const int16_t* stereo, size_t frames) {
    constexpr int kLoud = 1000;
    constexpr size_t kGap = 100;
    std::vector<size_t> onsets;
    size_t quiet = kGap;
    for (size_t i = 0; i < frames; ++i) {
        if (std::abs(stereo[2 * i]) < kLoud) {
            ++quiet;
            continue;
        }
        if (quiet >= kGap) onsets.push_back(i);
        quiet = 0;
    }
    return onsets;
}

}  // namespace testsupport
