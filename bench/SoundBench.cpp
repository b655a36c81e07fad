// Sound costs: the mixer with 64 voices and with a dense passage of timed restarts, FluidSynth rendering a busy
// backing track, decoding a sound at another rate, and the latency of the audio device's buffer. Each mixing iteration
// paints one second of audio, so its CPU time is the cost per second of sound (10 ms = 1% of one core).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "media/AudioDevice.h"
#include "media/DXSounds.h"
#include "media/MPlayer.h"

using namespace media;

namespace {

constexpr int kRate = 44100;
constexpr int kDeviceFrames = AudioDevice::kMaxBufferFrames;

void RenderOneSecond(TDXSound& sound, std::vector<int16_t>& out) {
    for (int done = 0; done < kRate; done += kDeviceFrames) sound.Render(out.data(), std::min(kDeviceFrames, kRate - done));
}

void BM_Mixer64Voices(benchmark::State& state) {
    TDXSound sound(nullptr);
    sound.SetOffline(true);
    sound.Initialize();
    TDXWaveList list(&sound);
    // Half the slots stereo, half mono, some at other speeds; looped so that all 64 keep sounding.
    for (int i = 0; i < 64; ++i) {
        TWaveCollectionItem& item = list.Items().Add();
        const uint16_t channels = i % 2 == 0 ? 2 : 1;
        TWaveFormatEx f;
        MakePcmFormat(f, i % 4 == 3 ? 22050 : 44100, 16, channels);
        std::vector<int16_t> samples(static_cast<size_t>(f.nSamplesPerSec) * channels);
        for (size_t k = 0; k < samples.size(); ++k)
            samples[k] = static_cast<int16_t>(800 * std::sin(0.01 * static_cast<double>(k + static_cast<size_t>(i))));
        item.Wave().SetFormat(f);
        item.Wave().SetData(samples.data(), samples.size() * 2);
        item.SetLooped(true);
        item.SetPan((i % 5 - 2) * 1000);
        item.SetVolume(-(i % 7) * 100);
        item.Restore();
        if (i % 3 == 0) item.SetFrequency(item.Buffer()->Frequency() * 150 / 100);
        item.Play();
    }
    std::vector<int16_t> out(2 * kDeviceFrames);
    sound.Render(out.data(), 1);
    if (sound.Mixer().ActiveVoices() != 64) state.SkipWithError("voices did not start");
    for (auto _ : state) {
        RenderOneSecond(sound, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["voices"] = sound.Mixer().ActiveVoices();
}
BENCHMARK(BM_Mixer64Voices)->Unit(benchmark::kMillisecond)->UseRealTime();

// A dense key-sound passage against the mixer alone: 4000 slots each restarted once a second on
// an exact frame (a stop and a play for that frame, sent ahead as the play screen does), plus
// 1000 stops for now, painted in device-sized callbacks. Per second of sound; worst_callback_ms
// is the longest single callback, the one that takes the second's commands.
void BM_MixerTimedRestarts(benchmark::State& state) {
    constexpr int kVoices = 4000;
    Mixer mixer;
    SampleData data;
    data.rate = data.sourceRate = kRate;
    data.samples.assign(2000, 100);
    std::vector<int> voices;
    for (int i = 0; i < kVoices; ++i) voices.push_back(mixer.AllocateVoice());
    std::vector<int16_t> out(2 * kDeviceFrames);
    uint32_t seed = 1;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    double worstMs = 0.0;
    for (auto _ : state) {
        const uint64_t base = mixer.FramesRendered();
        for (int voice : voices) {
            const uint64_t at = base + next() % kRate;
            mixer.StopAt(at, voice);
            mixer.PlayAt(at, voice, &data, 1.0, {}, false);
        }
        for (int k = 0; k < 1000; ++k) mixer.Stop(voices[next() % kVoices]);
        for (int done = 0; done < kRate; done += kDeviceFrames) {
            const auto start = std::chrono::steady_clock::now();
            mixer.Render(out.data(), std::min(kDeviceFrames, kRate - done));
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
            worstMs = std::max(worstMs, took.count());
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["worst_callback_ms"] = worstMs;
}
BENCHMARK(BM_MixerTimedRestarts)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeviceBufferLatency(benchmark::State& state) {
    Mixer mixer;
    AudioDevice device;
    for (auto _ : state) {
        if (!device.Open(mixer, kRate)) {
            state.SkipWithError(("no audio device: " + device.Error()).c_str());
            return;
        }
        state.counters["buffer_frames"] = device.BufferFrames();
        state.counters["buffer_ms"] = device.LatencyMs();
        state.SetLabel(device.DriverName());
        device.Close();
    }
}
BENCHMARK(BM_DeviceBufferLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

// Loading cost of a chart sound that is not at the output rate: one second of 48 kHz stereo
// 16-bit, decoded and converted to 44.1 kHz.
void BM_Decode48kStereoSecond(benchmark::State& state) {
    TWaveFormatEx f;
    MakePcmFormat(f, 48000, 16, 2);
    std::vector<int16_t> samples(2 * 48000);
    for (size_t k = 0; k < samples.size(); ++k) samples[k] = static_cast<int16_t>(8000 * std::sin(0.02 * static_cast<double>(k)));
    TWave wave;
    wave.SetFormat(f);
    wave.SetData(samples.data(), samples.size() * 2);
    for (auto _ : state) {
        auto data = DecodeWave(wave, kRate);
        if (data->rate != kRate) state.SkipWithError("not converted");
        benchmark::DoNotOptimize(data);
    }
}
BENCHMARK(BM_Decode48kStereoSecond)->Unit(benchmark::kMillisecond);

// A busy General MIDI track: 8 channels, a four-note chord on each every eighth note.
std::vector<uint8_t> BusyMidi(int seconds) {
    std::vector<uint8_t> t;
    auto event = [&t](uint32_t delta, std::initializer_list<uint8_t> bytes) {
        uint8_t vlq[4];
        int n = 0;
        do {
            vlq[n++] = delta & 0x7F;
            delta >>= 7;
        } while (delta != 0);
        while (n-- > 0) t.push_back(static_cast<uint8_t>(vlq[n] | (n > 0 ? 0x80 : 0)));
        t.insert(t.end(), bytes);
    };
    for (int ch = 0; ch < 8; ++ch) event(0, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(ch * 8)});
    for (int e = 0; e < seconds * 4; ++e) {
        for (int off = 0; off < 2; ++off) {
            for (int ch = 0; ch < 8; ++ch) {
                for (int n = 0; n < 4; ++n) {
                    const auto key = static_cast<uint8_t>(48 + ch * 3 + n * 4 + e % 5);
                    const uint32_t delta = off == 1 && ch == 0 && n == 0 ? 240 : 0;
                    event(delta, {static_cast<uint8_t>((off ? 0x80 : 0x90) | ch), key, static_cast<uint8_t>(off ? 0 : 90)});
                }
            }
        }
    }
    event(0, {0xFF, 0x2F, 0});
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 480 >> 8, 480 & 0xFF, 'M', 'T', 'r', 'k'};
    const auto len = static_cast<uint32_t>(t.size());
    f.insert(f.end(), {static_cast<uint8_t>(len >> 24), static_cast<uint8_t>(len >> 16), static_cast<uint8_t>(len >> 8),
                       static_cast<uint8_t>(len)});
    f.insert(f.end(), t.begin(), t.end());
    return f;
}

void BM_FluidSynthPerSecond(benchmark::State& state) {
    const std::string soundFont = TMediaPlayer::FindSystemSoundFont();
    if (soundFont.empty()) {
        state.SkipWithError("no General MIDI SoundFont installed");
        return;
    }
    const auto path = std::filesystem::temp_directory_path() / "glimstep-bench-busy.mid";
    const auto bytes = BusyMidi(600);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    TDXSound sound(nullptr);
    sound.SetOffline(true);
    sound.Initialize();
    TMediaPlayer player(&sound);
    player.FileName = path.string();
    player.Open();
    player.Play();
    std::vector<int16_t> out(2 * kDeviceFrames);
    for (auto _ : state) {
        RenderOneSecond(sound, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(soundFont);
    std::filesystem::remove(path);
}
BENCHMARK(BM_FluidSynthPerSecond)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
