// What crosses into the compressed-sound module: libsndfile's decode of a whole file held in
// memory, as DecodeCompressedSound describes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/SoundFile.h"

namespace media {

struct SoundDecoder {
    static constexpr unsigned kVersion = 1;
    bool (*decode)(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint);
};

}  // namespace media
