#include "media/AudioDevice.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>

#include "media/Mixer.h"

namespace media {

AudioDevice::~AudioDevice() { Close(); }

bool AudioDevice::Open(Mixer& mixer, int rate) {
    Close();
    error_.clear();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error_ = SDL_GetError();
        return false;
    }
    subsystemStarted_ = true;
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kMaxBufferFrames;
    want.callback = &AudioDevice::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    mixer_ = &mixer;
    // The mixer paints exactly this format; SDL converts if the hardware wants another, and
    // a smaller buffer than asked for is welcome.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        error_ = SDL_GetError();
        mixer_ = nullptr;
        Close();
        return false;
    }
    rate_ = have.freq;
    bufferFrames_ = have.samples;
    const char* driver = SDL_GetCurrentAudioDriver();
    driver_ = driver != nullptr ? driver : "";
    mixer.SetDeviceDriven(true);
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void AudioDevice::Close() {
    if (device_ != 0) {
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (mixer_ != nullptr) mixer_->SetDeviceDriven(false);
    mixer_ = nullptr;
    if (subsystemStarted_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemStarted_ = false;
    }
    rate_ = 0;
    bufferFrames_ = 0;
}

void AudioDevice::Callback(void* userdata, uint8_t* stream, int len) {
    auto* self = static_cast<AudioDevice*>(userdata);
    self->mixer_->Render(reinterpret_cast<int16_t*>(stream), len / 4);
}

bool ConvertSampleRate(const int16_t* in, size_t frames, int channels, int fromRate, int toRate,
                       std::vector<int16_t>& out) {
    SDL_AudioStream* stream = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), fromRate,
                                                 AUDIO_S16SYS, static_cast<Uint8>(channels), toRate);
    if (stream == nullptr) return false;
    const size_t frameBytes = sizeof(int16_t) * static_cast<size_t>(channels);
    // Fed in pieces: SDL takes an int byte count.
    constexpr size_t kChunkFrames = 1 << 16;
    constexpr int kTailFrames = 4096;
    bool ok = true;
    for (size_t done = 0; ok && done < frames; done += kChunkFrames) {
        const size_t n = std::min(kChunkFrames, frames - done);
        ok = SDL_AudioStreamPut(stream, in + done * static_cast<size_t>(channels), static_cast<int>(n * frameBytes)) == 0;
    }
    // SDL holds back the resampler's look-ahead even on a flush; silence pushes it through, and
    // the result is cut to the converted length.
    const std::vector<int16_t> tail(static_cast<size_t>(kTailFrames) * static_cast<size_t>(channels), 0);
    if (ok) ok = SDL_AudioStreamPut(stream, tail.data(), static_cast<int>(tail.size() * sizeof(int16_t))) == 0;
    if (ok) ok = SDL_AudioStreamFlush(stream) == 0;
    const size_t expected =
        static_cast<size_t>(std::llround(static_cast<double>(frames) * toRate / fromRate)) * static_cast<size_t>(channels);
    out.clear();
    out.reserve(static_cast<size_t>(static_cast<double>(frames) * toRate / fromRate + 16) * static_cast<size_t>(channels));
    int16_t chunk[4096];
    while (ok) {
        const int got = SDL_AudioStreamGet(stream, chunk, sizeof chunk);
        if (got < 0) ok = false;
        if (got <= 0) break;
        out.insert(out.end(), chunk, chunk + got / static_cast<int>(sizeof(int16_t)));
    }
    out.resize(std::min(expected, out.size() / static_cast<size_t>(channels) * static_cast<size_t>(channels)));
    SDL_FreeAudioStream(stream);
    return ok;
}

}  // namespace media
