// Feeds arbitrary bytes to the chart sound loader (our WAV reader, then libsndfile for whatever
// it refuses or the mixer cannot play) and decodes the result for the mixer, as a chart's #WAV
// file would be.
#include <cstddef>
#include <cstdint>

#include "media/Mixer.h"
#include "media/SoundFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    media::TWave wave;
    try {
        media::LoadSoundFromMemory(data, size, wave);
    } catch (const gui::Exception&) {
        if (!wave.Empty()) __builtin_trap();  // a refused file leaves nothing behind
        return 0;
    }
    auto samples = media::DecodeWave(wave, 44100);
    if (samples->channels < 1 || samples->channels > 2) __builtin_trap();
    return 0;
}
