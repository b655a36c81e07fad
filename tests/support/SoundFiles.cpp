#include "support/SoundFiles.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace testsupport {

void WriteSoundFile(const std::filesystem::path& path, int format, int rate, int channels,
                    const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error("libsndfile cannot write " + path.string() + ": " + sf_strerror(nullptr));
    // Integer formats saturate what lies beyond full scale instead of wrapping it.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    if (written != frames) throw std::runtime_error("libsndfile wrote only part of " + path.string());
}

std::vector<float> Tone(int rate, int channels, double hz, int toneMs, int totalMs) {
    const size_t toneFrames = static_cast<size_t>(rate) * toneMs / 1000;
    const size_t frames = std::max(toneFrames, static_cast<size_t>(rate) * totalMs / 1000);
    std::vector<float> out(frames * channels, 0.0f);
    for (size_t i = 0; i < toneFrames; ++i) {
        const auto v = static_cast<float>(0.6 * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate));
        for (int c = 0; c < channels; ++c) out[i * channels + c] = c == 0 ? v : -v;
    }
    return out;
}

}  // namespace testsupport
