// What crosses into the compressed-sound module: libsndfile's decode of a whole file held in
// memory, as DecodeCompressedSound describes it, and its reading of a file's headers alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/SoundFile.h"

namespace media {

struct SoundDecoder {
    static constexpr unsigned kVersion = 2;
    bool (*decode)(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint,
                   uint64_t reservedBytes);
    // The format block and sample bytes that `decode` gives for a file of `size` bytes read
    // through `read`, from its headers: kProbeExact; kProbeRefused (`shape` empty) when decode
    // refuses the file; kProbeOpen when the header leaves the frame count open.
    int (*probe)(const ReadAt& read, uint64_t size, SoundShape& shape);
    static constexpr int kProbeExact = 1;
    static constexpr int kProbeRefused = 0;
    static constexpr int kProbeOpen = -1;
};

}  // namespace media
