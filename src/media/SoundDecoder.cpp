// The compressed-sound module: decodes with libsndfile whatever the wave reader refuses.
#include "media/SoundDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "gui/Modules.h"
#include "media/Mixer.h"

namespace media {
namespace {

// A file held in memory, or read through a function, through libsndfile's virtual I/O.
struct MemoryFile {
    const uint8_t* bytes;
    sf_count_t size;
    sf_count_t pos = 0;
    const ReadAt* read = nullptr;  // for a file not in memory (`bytes` null)
};

sf_count_t MemoryLength(void* user) { return static_cast<MemoryFile*>(user)->size; }

sf_count_t MemorySeek(sf_count_t offset, int whence, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = file->pos;
    if (whence == SEEK_END) base = file->size;
    if (offset < -base || offset > file->size - base) return -1;
    file->pos = base + offset;
    return file->pos;
}

sf_count_t MemoryRead(void* out, sf_count_t count, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    sf_count_t got = std::clamp<sf_count_t>(file->size - file->pos, 0, std::max<sf_count_t>(count, 0));
    if (got > 0 && file->read != nullptr)
        got = static_cast<sf_count_t>((*file->read)(static_cast<uint64_t>(file->pos), static_cast<uint8_t*>(out),
                                                     static_cast<size_t>(got)));
    else if (got > 0)
        std::memcpy(out, file->bytes + file->pos, static_cast<size_t>(got));
    file->pos += got;
    return got;
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t MemoryTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

// Test seam: GLIMSTEP_TEST_DECODE_CHUNK_MS=n makes every chunk of a decode take n ms more, so
// that end-to-end tests can stop a program in the middle of a long load.
std::chrono::milliseconds TestChunkDelay() {
    static const std::chrono::milliseconds delay = [] {
        const char* value = std::getenv("GLIMSTEP_TEST_DECODE_CHUNK_MS");
        return std::chrono::milliseconds(value != nullptr ? std::clamp(std::atoi(value), 0, 10000) : 0);
    }();
    return delay;
}

// Floats at full scale ±1 to 16 bits, as libsndfile scales them (by 32767), saturated; NaN gives 0.
void SaturateTo16(const float* in, size_t count, int16_t* out) {
    for (size_t i = 0; i < count; ++i) {
        float v = in[i] * 32767.0f;
        v = v == v ? std::min(std::max(v, -32768.0f), 32767.0f) : 0.0f;
        // Rounded to the nearest integer, ties to even, as lrintf rounds but without a call per
        // sample: at 1.5 * 2^23 a float has no fraction bits left.
        out[i] = static_cast<int16_t>((v + 12582912.0f) - 12582912.0f);
    }
}

class SoundFileReader {
public:
    SoundFileReader(const uint8_t* bytes, size_t size, const ReadAt* read = nullptr)
        : file_{bytes, static_cast<sf_count_t>(size), 0, read} {
        SF_VIRTUAL_IO io{&MemoryLength, &MemorySeek, &MemoryRead, &MemoryWrite, &MemoryTell};
        handle_ = sf_open_virtual(&io, SFM_READ, &info_, &file_);
    }
    ~SoundFileReader() {
        if (handle_ != nullptr) sf_close(handle_);
    }
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    SNDFILE* Handle() const { return handle_; }
    const SF_INFO& Info() const { return info_; }

private:
    MemoryFile file_;
    SF_INFO info_{};
    SNDFILE* handle_ = nullptr;
};

// The format block of the wave decoded from a file libsndfile opened; false for a file decoding
// refuses.
bool DecodedFormat(const SF_INFO& info, std::vector<uint8_t>& formatBlock) {
    if (info.channels < 1 || info.channels > 2 || info.samplerate <= 0) return false;
    TWaveFormatEx format;
    MakePcmFormat(format, static_cast<uint32_t>(info.samplerate), 16, static_cast<uint16_t>(info.channels));
    formatBlock = format.ToBytes();
    return IsPlayableFormat(formatBlock);
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

// An Ogg Vorbis file's channels, rate and frame count read from its first and last pages, without
// setting up a decoder (which costs as much as decoding a short key sound): the frame count is the
// last page's granule position, which is at least what decoding gives. False for anything but a
// plain single Vorbis stream of one or two channels, which libsndfile then probes.
bool ProbeOggVorbis(const ReadAt& read, uint64_t size, int& channels, int& rate, sf_count_t& frames) {
    uint8_t first[27 + 255 + 30];
    if (size < sizeof first || read(0, first, sizeof first) != sizeof first) return false;
    // The first page begins the stream and holds the identification header whole.
    if (std::memcmp(first, "OggS", 4) != 0 || first[4] != 0 || (first[5] & 0x02) == 0 || first[26] == 0 || first[27] < 30)
        return false;
    const uint8_t* id = first + 27 + first[26];
    if (std::memcmp(id, "\x01vorbis", 7) != 0 || Le32(id + 7) != 0) return false;
    channels = id[11];
    rate = static_cast<int>(Le32(id + 12));
    if (channels < 1 || channels > 2 || rate <= 0) return false;
    const uint32_t serial = Le32(first + 14);
    // The last page of the stream: the last page header in the file's tail (pages are at most
    // 65,307 bytes long).
    const uint64_t tailSize = std::min<uint64_t>(size, 65536 + 27);
    std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
    if (read(size - tailSize, tail.data(), tail.size()) != tail.size()) return false;
    for (size_t at = tail.size() - 27 + 1; at-- > 0;) {
        const uint8_t* page = tail.data() + at;
        if (std::memcmp(page, "OggS", 4) != 0 || page[4] != 0) continue;
        if (Le32(page + 14) != serial) return false;
        uint64_t granule = 0;
        for (int i = 7; i >= 0; --i) granule = granule << 8 | page[6 + i];
        if (granule == 0 || granule > static_cast<uint64_t>(INT64_MAX)) return false;
        frames = static_cast<sf_count_t>(granule);
        return true;
    }
    return false;
}

int Probe(const ReadAt& read, uint64_t size, SoundShape& shape) {
    shape.formatBlock.clear();
    shape.dataBytes = 0;
    if (size == 0) return SoundDecoder::kProbeRefused;
    SF_INFO info{};
    sf_count_t frames = 0;
    if (!ProbeOggVorbis(read, size, info.channels, info.samplerate, frames)) {
        SoundFileReader reader(nullptr, static_cast<size_t>(size), &read);
        if (reader.Handle() == nullptr) return SoundDecoder::kProbeRefused;
        info = reader.Info();
        frames = info.frames;
    }
    std::vector<uint8_t> formatBlock;
    if (!DecodedFormat(info, formatBlock)) return SoundDecoder::kProbeRefused;
    // libsndfile states the count it cannot know (a stream, an MP3 without one) as the largest.
    if (frames <= 0 || frames == SF_COUNT_MAX) return SoundDecoder::kProbeOpen;
    frames = std::min(frames, static_cast<sf_count_t>(info.samplerate) * kMaxSoundSeconds);
    shape.formatBlock = std::move(formatBlock);
    shape.dataBytes = static_cast<uint64_t>(frames) * 2 * static_cast<uint64_t>(info.channels);
    return SoundDecoder::kProbeExact;
}

bool Decode(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint,
            uint64_t reservedBytes) {
    if (size == 0) return false;
    SoundFileReader reader(bytes, size);
    if (reader.Handle() == nullptr) return false;
    const SF_INFO& info = reader.Info();
    std::vector<uint8_t> formatBlock;
    if (!DecodedFormat(info, formatBlock)) return false;

    const sf_count_t maxFrames = static_cast<sf_count_t>(info.samplerate) * kMaxSoundSeconds;
    constexpr sf_count_t kChunkFrames = 16384;
    // Samples beyond full scale are clipped rather than wrapped: libsndfile does it for float
    // files, but its Vorbis and Opus decoders convert to 16 bits without saturating, so those are
    // read as floats and saturated here.
    sf_command(reader.Handle(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const int codec = info.format & SF_FORMAT_SUBMASK;
    const bool readFloats = codec == SF_FORMAT_VORBIS || codec == SF_FORMAT_OPUS;
    // Decoded straight into the wave's block, sized once from the frame count the file states.
    // That count may be wrong or missing: it sizes the block only up to what the caller set aside
    // for it, or a minute at CD rate, so that a header alone cannot claim much memory, and the
    // block grows by half when the sound goes on.
    const size_t frameBytes = 2 * static_cast<size_t>(info.channels);
    const sf_count_t reservedFrames = std::max<sf_count_t>(
        sf_count_t{44100} * 60, static_cast<sf_count_t>(std::min<uint64_t>(reservedBytes / frameBytes, INT64_MAX)));
    TWave decoded;
    // One frame more than stated, so that the read that finds the end goes into the block too.
    sf_count_t capacity = std::clamp<sf_count_t>(info.frames, 0, std::min(maxFrames, reservedFrames) - 1) + 1;
    decoded.SetSizeForOverwrite(static_cast<size_t>(capacity) * frameBytes);
    // Samples go straight into the wave's block while it has room and the machine stores them as
    // the block does (little-endian); otherwise through `chunk`, so that the block grows only for
    // a sound that goes on past it.
    constexpr bool kNative = std::endian::native == std::endian::little;
    // Chunks no longer than the sound says it is: a short key sound does not pay for setting up
    // long buffers. Nothing in them is read before it is written.
    const sf_count_t chunkFrames = std::clamp<sf_count_t>(info.frames, 1024, kChunkFrames);
    const size_t chunkSamples = static_cast<size_t>(chunkFrames * info.channels);
    std::unique_ptr<float[]> floats;
    if (readFloats) floats = std::make_unique_for_overwrite<float[]>(chunkSamples);
    std::unique_ptr<int16_t[]> chunk;
    sf_count_t frames = 0;
    const std::chrono::milliseconds testDelay = TestChunkDelay();
    while (frames < maxFrames) {
        if (testDelay.count() > 0) std::this_thread::sleep_for(testDelay);
        if (checkpoint) checkpoint();
        const bool direct = kNative && frames < capacity;
        const sf_count_t want = std::min({chunkFrames, maxFrames - frames, direct ? capacity - frames : chunkFrames});
        if (!direct && !chunk) chunk = std::make_unique_for_overwrite<int16_t[]>(chunkSamples);
        int16_t* samples =
            direct ? reinterpret_cast<int16_t*>(decoded.Data() + static_cast<size_t>(frames) * frameBytes) : chunk.get();
        const sf_count_t got = readFloats ? sf_readf_float(reader.Handle(), floats.get(), want)
                                          : sf_readf_short(reader.Handle(), samples, want);
        if (got <= 0) break;
        const size_t count = static_cast<size_t>(got * info.channels);
        if (readFloats) SaturateTo16(floats.get(), count, samples);
        if (!direct) {
            if (frames + got > capacity) {
                capacity = std::min(maxFrames, std::max(frames + got, capacity + capacity / 2));
                decoded.SetSizeForOverwrite(static_cast<size_t>(capacity) * frameBytes);
            }
            uint8_t* out = decoded.Data() + static_cast<size_t>(frames) * frameBytes;
            if constexpr (kNative) {
                std::memcpy(out, chunk.get(), count * 2);
            } else {
                for (size_t i = 0; i < count; ++i) {
                    const auto v = static_cast<uint16_t>(chunk[i]);
                    out[2 * i] = static_cast<uint8_t>(v);
                    out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
                }
            }
        }
        frames += got;
    }
    if (frames == 0) return false;
    decoded.SetSize(static_cast<size_t>(frames) * frameBytes);
    decoded.SetFormatBlock(formatBlock);
    wave = std::move(decoded);
    return true;
}

}  // namespace
}  // namespace media

GLIMSTEP_MODULE_ENTRY(unsigned version) {
    static const media::SoundDecoder decoder{&media::Decode, &media::Probe};
    return version == media::SoundDecoder::kVersion ? &decoder : nullptr;
}
