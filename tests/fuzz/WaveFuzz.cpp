// Feeds arbitrary bytes to the WAV reader and decodes whatever it accepts, as a chart's #WAV
// file would be.
#include <cstddef>
#include <cstdint>

#include "media/Mixer.h"
#include "media/Wave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    media::TWave wave;
    try {
        wave.LoadFromMemory(data, size);
    } catch (const gui::Exception&) {
        return 0;
    }
    auto samples = media::DecodeWave(wave, 44100);
    if (samples->channels < 1 || samples->channels > 2) __builtin_trap();
    return 0;
}
