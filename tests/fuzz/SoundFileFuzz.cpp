// Feeds arbitrary bytes to the chart sound loader (our WAV reader, then libsndfile for whatever
// it refuses or the mixer cannot play) and decodes the result for the mixer, as a chart's #WAV
// file would be; and to the reading of a sound file's size from its headers, which comes first.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/Mixer.h"
#include "media/SoundFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The headers are read from a file: one in memory, rewritten for each input.
    static const int file = memfd_create("sound", MFD_CLOEXEC);
    if (file >= 0 && ftruncate(file, 0) == 0 && pwrite(file, data, size, 0) == static_cast<ssize_t>(size)) {
        media::SoundShape shape;
        media::ProbeSoundFile("/proc/self/fd/" + std::to_string(file), shape);
    }
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
