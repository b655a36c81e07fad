#include "media/SoundFile.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "media/Mixer.h"
#include "support/SoundFiles.h"
#include "support/TestFiles.h"

namespace {

using media::TWave;
using testsupport::TempDir;

struct Decoded {
    TWave wave;
    media::TWaveFormatEx format;
    std::vector<int16_t> samples;
};

Decoded LoadFile(const std::filesystem::path& path) {
    Decoded d;
    media::LoadSoundFile(path.string(), d.wave);
    d.format = d.wave.Format();
    d.samples.resize(d.wave.Size() / 2);
    if (d.wave.Size() > 0) std::memcpy(d.samples.data(), d.wave.Data(), d.samples.size() * 2);
    return d;
}

// The largest sample of the first channel, and the frame where it first passes 3000.
std::pair<int, size_t> PeakAndOnset(const Decoded& d) {
    int peak = 0;
    size_t onset = SIZE_MAX;
    const size_t channels = d.format.nChannels;
    for (size_t i = 0; i < d.samples.size(); i += channels) {
        peak = std::max(peak, std::abs(static_cast<int>(d.samples[i])));
        if (onset == SIZE_MAX && std::abs(d.samples[i]) > 3000) onset = i / channels;
    }
    return {peak, onset};
}

std::string MessageOf(const std::filesystem::path& path) {
    try {
        LoadFile(path);
    } catch (const gui::Exception& e) {
        return e.what();
    }
    return "(no error)";
}

struct Compressed {
    const char* name;
    int format;
    int rate;
    int channels;
};

TEST(SoundFile, CompressedFilesBecome16BitPcmAtTheirOwnRate) {
    TempDir dir;
    const Compressed kinds[] = {
        {"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2},
        {"b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 1},
        {"c.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 48000, 2},
        {"d.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1},
        {"e.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 32000, 2},
        {"f.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 11025, 1},
    };
    for (const Compressed& kind : kinds) {
        SCOPED_TRACE(kind.name);
        // 300 ms of silence, then 200 ms of tone, then silence to 1 s.
        std::vector<float> samples(static_cast<size_t>(kind.rate * kind.channels) * 3 / 10, 0.0f);
        const std::vector<float> tone = testsupport::Tone(kind.rate, kind.channels, 440, 200, 700);
        samples.insert(samples.end(), tone.begin(), tone.end());
        // The second channel is silent, so that channels swapped or mixed show.
        if (kind.channels == 2)
            for (size_t i = 1; i < samples.size(); i += 2) samples[i] = 0.0f;
        testsupport::WriteSoundFile(dir / kind.name, kind.format, kind.rate, kind.channels, samples);

        const Decoded d = LoadFile(dir / kind.name);
        EXPECT_EQ(d.format.wFormatTag, media::WAVE_FORMAT_PCM);
        EXPECT_EQ(d.format.wBitsPerSample, 16);
        EXPECT_EQ(d.format.nChannels, kind.channels);
        EXPECT_EQ(d.format.nSamplesPerSec, static_cast<uint32_t>(kind.rate));
        EXPECT_TRUE(media::IsPlayableFormat(d.wave.FormatBlock()));
        // Lossy coders may add a little lead-in and padding; the sound is where it was.
        const double seconds = static_cast<double>(d.samples.size()) / kind.channels / kind.rate;
        EXPECT_NEAR(seconds, 1.0, 0.1);
        const auto [peak, onset] = PeakAndOnset(d);
        EXPECT_NEAR(peak, 0.6 * 32767, 0.15 * 32767);
        EXPECT_NEAR(static_cast<double>(onset) / kind.rate, 0.3, 0.01);
        if (kind.channels == 2) {
            int second = 0;
            for (size_t i = 1; i < d.samples.size(); i += 2) second = std::max(second, std::abs(static_cast<int>(d.samples[i])));
            EXPECT_LT(second, peak / 10);
        }
        // The size set aside before decoding is the decoded wave's, where the headers tell it.
        media::SoundShape shape;
        if (media::ProbeSoundFile((dir / kind.name).string(), shape) && kind.format != (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III)) {
            EXPECT_EQ(shape.formatBlock, d.wave.FormatBlock());
            EXPECT_EQ(shape.dataBytes, d.wave.Size());
        } else {
            EXPECT_EQ(kind.format, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
        }
    }
}

// libsndfile's own decode of a file, saturated to 16 bits as a load converts floats.
std::vector<int16_t> ReferenceDecode(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<int16_t> out;
    std::vector<float> floats(4096 * static_cast<size_t>(info.channels));
    for (sf_count_t got; (got = sf_readf_float(file, floats.data(), 4096)) > 0;)
        for (sf_count_t i = 0; i < got * info.channels; ++i)
            out.push_back(static_cast<int16_t>(std::lrint(std::clamp(floats[static_cast<size_t>(i)] * 32767.0f, -32768.0f, 32767.0f))));
    sf_close(file);
    return out;
}

TEST(SoundFile, OggVorbisFilesDecodeAsLibsndfileDecodesThemOnAnyThread) {
    // Files that share encoder settings share their decoded codebooks; these are of three
    // settings, one of them beyond full scale, decoded on four threads at once.
    TempDir dir;
    struct Kind {
        const char* name;
        int rate, channels;
        double hz, gain;
    };
    const Kind kinds[] = {{"a.ogg", 44100, 2, 440, 1.0}, {"b.ogg", 44100, 2, 1250, 0.5}, {"c.ogg", 22050, 1, 300, 1.0},
                          {"d.ogg", 48000, 2, 1000, 1.6}, {"e.ogg", 44100, 2, 95, 1.2}};
    std::vector<std::vector<int16_t>> expected;
    for (const Kind& kind : kinds) {
        std::vector<float> samples = testsupport::Tone(kind.rate, kind.channels, kind.hz, 700, 900);
        for (float& sample : samples) sample = static_cast<float>(sample * kind.gain);
        testsupport::WriteSoundFile(dir / kind.name, SF_FORMAT_OGG | SF_FORMAT_VORBIS, kind.rate, kind.channels, samples);
        expected.push_back(ReferenceDecode(dir / kind.name));
        ASSERT_GT(expected.back().size(), static_cast<size_t>(kind.rate * kind.channels / 2)) << kind.name;
    }
    constexpr int kThreads = 4;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (size_t k = 0; k < std::size(kinds); ++k) {
                const size_t i = (k + static_cast<size_t>(t)) % std::size(kinds);
                if (LoadFile(dir / kinds[i].name).samples != expected[i]) ++mismatches;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(SoundFile, SamplesBeyondFullScaleClipInsteadOfWrapping) {
    TempDir dir;
    // A 1 kHz sine at +2 dBFS: its steepest step is 2π·1000/48000 of its amplitude. Wrapped
    // samples jump by nearly the whole 16-bit range; clipped ones never step further than that.
    constexpr int kRate = 48000;
    const double amplitude = std::pow(10.0, 2.0 / 20.0);
    std::vector<float> sine(kRate / 2);
    for (size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
    const double ownStep = 2 * M_PI * 1000.0 / kRate * amplitude * 32768;
    const std::pair<const char*, int> kinds[] = {
        {"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},     {"b.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {"c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},   {"d.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        {"e.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    };
    for (const auto& [name, format] : kinds) {
        SCOPED_TRACE(name);
        testsupport::WriteSoundFile(dir / name, format, kRate, 1, sine);
        const Decoded d = LoadFile(dir / name);
        // What the mixer plays: a float WAV stays float until this conversion.
        const auto data = media::DecodeWave(d.wave, kRate);
        ASSERT_GT(data->samples.size(), sine.size() / 2);
        int peak = 0, jump = 0;
        for (size_t i = 1; i < data->samples.size(); ++i) {
            peak = std::max(peak, static_cast<int>(data->samples[i]));
            jump = std::max(jump, std::abs(data->samples[i] - data->samples[i - 1]));
        }
        EXPECT_EQ(peak, 32767);
        EXPECT_LT(jump, 1.5 * ownStep);
    }
}

TEST(SoundFile, AWavFileThatTheMixerPlaysIsReadByOurReaderByteForByte) {
    TempDir dir;
    // 8-bit stereo with an extra chunk: libsndfile would turn it into 16-bit; our reader keeps it.
    testsupport::Bytes b;
    b.Text("RIFF").U32(0).Text("WAVE").Text("LIST").U32(3).Text("abc");
    b.Text("fmt ").U32(16).U16(1).U16(2).U32(22050).U32(44100).U16(2).U16(8);
    b.Text("data").U32(6).U8(1).U8(2).U8(3).U8(4).U8(5).U8(6);
    testsupport::WriteFile(dir / "plain.wav", b.Data());
    TWave expected;
    expected.LoadFromFile((dir / "plain.wav").string());
    const Decoded d = LoadFile(dir / "plain.wav");
    EXPECT_EQ(d.wave.FormatBlock(), expected.FormatBlock());
    ASSERT_EQ(d.wave.Size(), 6u);
    EXPECT_EQ(std::memcmp(d.wave.Data(), expected.Data(), 6), 0);

    // A float WAV is one the mixer plays: it stays float too.
    testsupport::WriteSoundFile(dir / "float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1,
                                testsupport::Tone(44100, 1, 1000, 10));
    EXPECT_EQ(LoadFile(dir / "float.wav").format.wFormatTag, media::WAVE_FORMAT_IEEE_FLOAT);
}

TEST(SoundFile, WhatNothingReadsKeepsTheWaveReadersVerdict) {
    TempDir dir;
    testsupport::WriteFile(dir / "junk.wav", "this is no sound at all, in any format");
    EXPECT_EQ(MessageOf(dir / "junk.wav"), media::kInvalidWaveMessage);
    testsupport::WriteFile(dir / "empty.wav", "");
    EXPECT_EQ(MessageOf(dir / "empty.wav"), "(no error)");
    EXPECT_TRUE(LoadFile(dir / "empty.wav").wave.Empty());
    EXPECT_EQ(MessageOf(dir / "none.wav").find("ファイル"), 0u);

    // A RIFF WAVE in a format nobody plays stays as our reader read it (and will play silence).
    testsupport::Bytes b;
    b.Text("RIFF").U32(0).Text("WAVE").Text("fmt ").U32(16).U16(0x55AA).U16(1).U32(8000).U32(8000).U16(1).U16(8);
    b.Text("data").U32(4).U32(0x01020304);
    testsupport::WriteFile(dir / "odd.wav", b.Data());
    const Decoded odd = LoadFile(dir / "odd.wav");
    EXPECT_EQ(odd.format.wFormatTag, 0x55AA);
    EXPECT_EQ(odd.wave.Size(), 4u);

    // More than two channels is refused.
    testsupport::WriteSoundFile(dir / "six.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 6,
                                std::vector<float>(6 * 800, 0.1f));
    EXPECT_EQ(MessageOf(dir / "six.flac"), media::kInvalidWaveMessage);
}

TEST(SoundFile, ASoundIsCutAtTenMinutes) {
    TempDir dir;
    constexpr int kRate = 1000;
    std::vector<float> samples(static_cast<size_t>(kRate) * 610, 0.25f);
    testsupport::WriteSoundFile(dir / "long.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kRate, 1, samples);
    const Decoded d = LoadFile(dir / "long.flac");
    EXPECT_EQ(d.samples.size(), static_cast<size_t>(kRate) * media::kMaxSoundSeconds);
    EXPECT_NEAR(d.samples.back(), 0.25 * 32767, 2);

    // A WAV the mixer plays too, at whole frames (16-bit stereo).
    testsupport::WriteSoundFile(dir / "long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 2,
                                std::vector<float>(samples.size() * 2, 0.25f));
    EXPECT_EQ(LoadFile(dir / "long.wav").wave.Size(), static_cast<size_t>(kRate) * media::kMaxSoundSeconds * 4);
}

TEST(SoundFile, FilesLargerThanAnyTenMinuteSoundAreRefusedUnread) {
    TempDir dir;
    // Sparse: 20 GB that take no disk and must take no memory.
    testsupport::WriteFile(dir / "huge.wav", "");
    std::filesystem::resize_file(dir / "huge.wav", uint64_t{20} << 30);
    EXPECT_EQ(MessageOf(dir / "huge.wav"), "too large for a sound file (20480 MB; at most 3516 MB)");
}

}  // namespace
