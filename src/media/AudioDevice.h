// The SDL side of sound: the output device whose callback runs the mixer, and SDL's
// sample-rate converter for decoding waves. The only sound code that includes SDL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media {

class Mixer;

class AudioDevice {
public:
    static constexpr int kMaxBufferFrames = 512;

    AudioDevice() = default;
    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // Opens the default output for 16-bit stereo at `rate` with a buffer of at most
    // kMaxBufferFrames frames and starts calling `mixer`. False (with Error()) when no device
    // can be opened.
    bool Open(Mixer& mixer, int rate);
    void Close();
    bool IsOpen() const { return device_ != 0; }

    int Rate() const { return rate_; }
    int BufferFrames() const { return bufferFrames_; }
    double LatencyMs() const { return rate_ > 0 ? 1000.0 * bufferFrames_ / rate_ : 0.0; }
    const std::string& DriverName() const { return driver_; }
    const std::string& Error() const { return error_; }

private:
    static void Callback(void* userdata, uint8_t* stream, int len);

    uint32_t device_ = 0;
    bool subsystemStarted_ = false;
    Mixer* mixer_ = nullptr;
    int rate_ = 0;
    int bufferFrames_ = 0;
    std::string driver_;
    std::string error_;
};

// Converts interleaved 16-bit frames from `fromRate` to `toRate` with SDL's resampler.
// False when SDL cannot do it.
bool ConvertSampleRate(const int16_t* in, size_t frames, int channels, int fromRate, int toRate,
                       std::vector<int16_t>& out);

}  // namespace media
