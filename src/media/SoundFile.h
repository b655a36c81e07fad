// Reads the sound files that charts name. A WAV file that our reader accepts, in a format the
// mixer plays, is read exactly as the wave reader reads it; every other file (Ogg Vorbis, Opus,
// FLAC, MP3, AIFF, ADPCM and other WAV encodings) is decoded with libsndfile into a wave of
// 16-bit PCM at the file's own rate, so that everything after loading treats both alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/Wave.h"

namespace media {

// The longest sound one file may give; what lasts longer is cut here.
constexpr int64_t kMaxSoundSeconds = 600;
// The largest sound file read: ten minutes of the widest samples played (64-bit float stereo at
// 384 kHz) and room for other chunks. No longer file can hold a sound that is kept.
constexpr uint64_t kMaxSoundFileBytes = uint64_t{kMaxSoundSeconds} * 384000 * 2 * 8 + (uint64_t{1} << 20);

// Called between the chunks of a decode, so that a long one can be stopped: it raises to stop it,
// and the exception leaves the decode.
using DecodeCheckpoint = std::function<void()>;

// Replaces `wave` with the sound of the file, cut at kMaxSoundSeconds. Raises gui::EFOpenError
// when the file cannot be opened, gui::EFileTooLarge over kMaxSoundFileBytes, and what the wave reader raised when neither it nor libsndfile can read the file (a
// refused file leaves `wave` empty). `reservedBytes`: memory the caller has set aside for the
// wave's samples; a compressed sound's block is then sized once from the frame count its file
// states, up to that much (without it, up to a minute at CD rate, growing when the sound goes on).
void LoadSoundFile(const std::string& fileName, TWave& wave, const DecodeCheckpoint& checkpoint = {},
                   uint64_t reservedBytes = 0);
// The same for a whole file held in memory.
void LoadSoundFromMemory(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint = {},
                         uint64_t reservedBytes = 0);

// Decodes a file with libsndfile alone into 16-bit PCM at its own rate, mono or stereo, cut at
// kMaxSoundSeconds. False (and `wave` untouched) when libsndfile cannot read it, it has more
// than two channels, or its rate is one the mixer cannot play, and when the module that holds
// libsndfile cannot be loaded.
bool DecodeCompressedSound(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint = {},
                           uint64_t reservedBytes = 0);

// What loading a sound file will give, told from its headers without decoding it: the wave's
// format block and the size of its sample data, or both empty when loading it will fail (or give
// a wave the mixer cannot play).
struct SoundShape {
    std::vector<uint8_t> formatBlock;
    uint64_t dataBytes = 0;
    // The file's own size, which loading holds in memory beside the wave for a while.
    uint64_t fileBytes = 0;
};
// The shape of the sound LoadSoundFile gives for the file. False when the headers cannot tell
// it: a file that is not regular, too large, or whose frame count its header leaves open (an MP3
// without one); `fileBytes` is set whenever the file's size is known.
bool ProbeSoundFile(const std::string& fileName, SoundShape& shape);

}  // namespace media
