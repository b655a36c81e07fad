// Writes sound files in the formats libsndfile writes (Ogg Vorbis, FLAC, MP3, float or ADPCM
// WAV), for tests of the formats charts ship their sounds in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace testsupport {

// `format` is a libsndfile major and minor format (SF_FORMAT_OGG | SF_FORMAT_VORBIS, ...);
// `samples` are interleaved, full scale ±1 (beyond it, integer formats saturate). Raises std::runtime_error when libsndfile cannot
// write it.
void WriteSoundFile(const std::filesystem::path& path, int format, int rate, int channels,
                    const std::vector<float>& samples);

// `ms` of a sine at `hz` and amplitude 0.6 (the second channel inverted), then silence.
std::vector<float> Tone(int rate, int channels, double hz, int toneMs, int totalMs = 0);

}  // namespace testsupport
