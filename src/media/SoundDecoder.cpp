// The compressed-sound module: decodes whatever the wave reader refuses, Ogg Vorbis with libvorbis
// and everything else with libsndfile.
#include "media/SoundDecoder.h"

#include <ogg/ogg.h>
#include <sndfile.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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

// A float at full scale ±1 to 16 bits, as libsndfile scales it (by 32767), saturated; NaN gives 0.
inline int16_t SaturateTo16(float sample) {
    float v = sample * 32767.0f;
    v = v == v ? std::min(std::max(v, -32768.0f), 32767.0f) : 0.0f;
    // Rounded to the nearest integer, ties to even, as lrintf rounds but without a call per
    // sample: at 1.5 * 2^23 a float has no fraction bits left.
    return static_cast<int16_t>((v + 12582912.0f) - 12582912.0f);
}

constexpr sf_count_t kChunkFrames = 16384;

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

// The last page of an Ogg stream is the last page header in the file's tail (pages are at most
// 65,307 bytes long); its granule position counts the stream's frames.
constexpr uint64_t kOggTailBytes = 65536 + 27;

// The granule position of the last page in `tail`, the end of a file; false unless it belongs to
// stream `serial` and is a count.
bool LastGranule(const uint8_t* tail, size_t size, uint32_t serial, sf_count_t& frames) {
    if (size < 27) return false;
    for (size_t at = size - 27 + 1; at-- > 0;) {
        const uint8_t* page = tail + at;
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
    std::vector<uint8_t> tail(static_cast<size_t>(std::min<uint64_t>(size, kOggTailBytes)));
    if (read(size - tail.size(), tail.data(), tail.size()) != tail.size()) return false;
    return LastGranule(tail.data(), tail.size(), Le32(first + 14), frames);
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

// A decoder's output in frames of interleaved 16-bit samples: `read` fills up to `want` frames and
// returns how many it gave, 0 at the end.
struct FrameSource {
    int channels = 0;
    int rate = 0;
    sf_count_t statedFrames = 0;  // as the file states it; may be wrong, or 0 when unknown
    std::function<sf_count_t(int16_t* out, sf_count_t want)> read;
};

// A Vorbis stream's decoding set-up (its codebooks), built from its identification and setup
// headers and then only read, by any number of decoders at once.
struct VorbisSetup {
    std::vector<uint8_t> key;  // the identification header's length, and the two headers byte for byte
    vorbis_info info{};
    VorbisSetup() { vorbis_info_init(&info); }
    ~VorbisSetup() { vorbis_info_clear(&info); }
    VorbisSetup(const VorbisSetup&) = delete;
    VorbisSetup& operator=(const VorbisSetup&) = delete;
};

// The set-ups of the files decoded lately. The key sounds of a package mostly come from one
// encoder at one setting, so their headers are the same, and building the codebooks costs about
// as much as decoding a short key sound.
std::shared_ptr<VorbisSetup> SharedVorbisSetup(const ogg_packet& id, const ogg_packet& comment,
                                               const ogg_packet& setup) {
    constexpr size_t kKept = 8;
    static std::mutex mutex;
    static std::vector<std::shared_ptr<VorbisSetup>> kept;
    const auto idBytes = static_cast<uint32_t>(id.bytes);
    std::vector<uint8_t> key(reinterpret_cast<const uint8_t*>(&idBytes), reinterpret_cast<const uint8_t*>(&idBytes + 1));
    key.insert(key.end(), id.packet, id.packet + id.bytes);
    key.insert(key.end(), setup.packet, setup.packet + setup.bytes);
    std::lock_guard lock(mutex);
    for (const std::shared_ptr<VorbisSetup>& entry : kept)
        if (entry->key == key) return entry;
    auto made = std::make_shared<VorbisSetup>();
    made->key = std::move(key);
    vorbis_comment comments;
    vorbis_comment_init(&comments);
    ogg_packet headers[3] = {id, comment, setup};
    bool read = true;
    for (ogg_packet& header : headers) read = read && vorbis_synthesis_headerin(&made->info, &comments, &header) == 0;
    vorbis_comment_clear(&comments);
    if (!read) return nullptr;
    // The first decoder set up on it builds the codebooks into it; this one, under the lock, so
    // that the decoders that share it only read it.
    vorbis_dsp_state dsp;
    if (vorbis_synthesis_init(&dsp, &made->info) != 0) return nullptr;
    vorbis_dsp_clear(&dsp);
    if (kept.size() == kKept) kept.erase(kept.begin());
    kept.push_back(made);
    return made;
}

// An Ogg Vorbis file held in memory, decoded with libvorbis: the first logical stream, its pages
// fed in as the decoding goes. libvorbis trims the first and last blocks to the stream's granule
// positions, as every Vorbis decoder does.
class VorbisStream {
public:
    VorbisStream(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) { ogg_sync_init(&sync_); }
    ~VorbisStream() {
        if (blockReady_) vorbis_block_clear(&block_);
        if (dspReady_) vorbis_dsp_clear(&dsp_);
        if (streamReady_) ogg_stream_clear(&stream_);
        ogg_sync_clear(&sync_);
    }
    VorbisStream(const VorbisStream&) = delete;
    VorbisStream& operator=(const VorbisStream&) = delete;

    // Reads the headers; false for a file this reader does not take (libsndfile then decodes it).
    bool Source(FrameSource& source) {
        ogg_packet headers[3];
        std::vector<uint8_t> copies[3];
        for (int i = 0; i < 3; ++i) {
            if (!NextPacket(headers[i]) || (i == 0 && vorbis_synthesis_idheader(&headers[i]) != 1)) return false;
            // A packet's bytes last only until the next page is taken in.
            copies[i].assign(headers[i].packet, headers[i].packet + headers[i].bytes);
            headers[i].packet = copies[i].data();
        }
        setup_ = SharedVorbisSetup(headers[0], headers[1], headers[2]);
        if (!setup_ || setup_->info.channels < 1 || setup_->info.channels > 2 || setup_->info.rate <= 0 ||
            setup_->info.rate > INT32_MAX)
            return false;
        if (vorbis_synthesis_init(&dsp_, &setup_->info) != 0) return false;
        dspReady_ = true;
        if (vorbis_block_init(&dsp_, &block_) != 0) return false;
        blockReady_ = true;
        source.channels = setup_->info.channels;
        source.rate = static_cast<int>(setup_->info.rate);
        const size_t tail = static_cast<size_t>(std::min<uint64_t>(size_, kOggTailBytes));
        if (!LastGranule(bytes_ + size_ - tail, tail, static_cast<uint32_t>(stream_.serialno), source.statedFrames))
            source.statedFrames = 0;
        source.read = [this](int16_t* out, sf_count_t want) { return Read(out, want); };
        return true;
    }

private:
    static constexpr size_t kFeedBytes = 65536;

    // The next packet of the first logical stream; false at its end or the file's.
    bool NextPacket(ogg_packet& packet) {
        for (;;) {
            if (streamReady_) {
                const int got = ogg_stream_packetout(&stream_, &packet);
                if (got == 1) return true;
                if (got < 0) continue;  // a hole in the data: decoding goes on after it
                if (stream_.e_o_s) return false;
            }
            ogg_page page;
            const int paged = ogg_sync_pageout(&sync_, &page);
            if (paged == 1) {
                if (!streamReady_) {
                    if (ogg_stream_init(&stream_, ogg_page_serialno(&page)) != 0) return false;
                    streamReady_ = true;
                }
                ogg_stream_pagein(&stream_, &page);  // pages of other streams are refused here
                continue;
            }
            if (paged < 0) continue;  // bytes skipped to the next page
            if (fed_ == size_) return false;
            const size_t count = std::min(kFeedBytes, size_ - fed_);
            char* buffer = ogg_sync_buffer(&sync_, static_cast<long>(count));
            if (buffer == nullptr) return false;
            std::memcpy(buffer, bytes_ + fed_, count);
            ogg_sync_wrote(&sync_, static_cast<long>(count));
            fed_ += count;
        }
    }

    sf_count_t Read(int16_t* out, sf_count_t want) {
        sf_count_t done = 0;
        while (done < want) {
            float** pcm = nullptr;
            const int ready = vorbis_synthesis_pcmout(&dsp_, &pcm);
            if (ready > 0) {
                const int count = static_cast<int>(std::min<sf_count_t>(ready, want - done));
                if (setup_->info.channels == 2) {
                    const float* left = pcm[0];
                    const float* right = pcm[1];
                    for (int i = 0; i < count; ++i) {
                        out[2 * i] = SaturateTo16(left[i]);
                        out[2 * i + 1] = SaturateTo16(right[i]);
                    }
                } else {
                    for (int i = 0; i < count; ++i) out[i] = SaturateTo16(pcm[0][i]);
                }
                out += static_cast<ptrdiff_t>(count) * setup_->info.channels;
                vorbis_synthesis_read(&dsp_, count);
                done += count;
                continue;
            }
            ogg_packet packet;
            if (!NextPacket(packet)) break;
            // A packet that is not audio, or damaged, is passed over.
            if (vorbis_synthesis(&block_, &packet) == 0) vorbis_synthesis_blockin(&dsp_, &block_);
        }
        return done;
    }

    const uint8_t* bytes_;
    size_t size_;
    size_t fed_ = 0;
    ogg_sync_state sync_{};
    ogg_stream_state stream_{};
    vorbis_dsp_state dsp_{};
    vorbis_block block_{};
    bool streamReady_ = false, dspReady_ = false, blockReady_ = false;
    std::shared_ptr<VorbisSetup> setup_;
};

bool Decode(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint,
            uint64_t reservedBytes) {
    if (size == 0) return false;
    FrameSource source;
    std::optional<VorbisStream> vorbis;
    std::optional<SoundFileReader> reader;
    std::unique_ptr<float[]> floats;
    if (size >= 4 && std::memcmp(bytes, "OggS", 4) == 0) {
        vorbis.emplace(bytes, size);
        if (!vorbis->Source(source)) vorbis.reset();
    }
    if (!vorbis) {
        reader.emplace(bytes, size);
        SNDFILE* handle = reader->Handle();
        if (handle == nullptr) return false;
        const SF_INFO& info = reader->Info();
        source.channels = info.channels;
        source.rate = info.samplerate;
        source.statedFrames = info.frames;
        // Samples beyond full scale are clipped rather than wrapped: libsndfile does it for float
        // files, but its Vorbis and Opus decoders convert to 16 bits without saturating, so those
        // are read as floats and saturated here.
        sf_command(handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        const int codec = info.format & SF_FORMAT_SUBMASK;
        if (codec == SF_FORMAT_VORBIS || codec == SF_FORMAT_OPUS) {
            source.read = [handle, &floats, channels = info.channels](int16_t* out, sf_count_t want) {
                if (!floats) floats = std::make_unique_for_overwrite<float[]>(static_cast<size_t>(kChunkFrames * channels));
                const sf_count_t got = sf_readf_float(handle, floats.get(), want);
                for (sf_count_t i = 0; i < std::max<sf_count_t>(got, 0) * channels; ++i) out[i] = SaturateTo16(floats[i]);
                return got;
            };
        } else {
            source.read = [handle](int16_t* out, sf_count_t want) { return sf_readf_short(handle, out, want); };
        }
    }
    SF_INFO format{};
    format.channels = source.channels;
    format.samplerate = source.rate;
    std::vector<uint8_t> formatBlock;
    if (!DecodedFormat(format, formatBlock)) return false;

    const sf_count_t maxFrames = static_cast<sf_count_t>(source.rate) * kMaxSoundSeconds;
    // Decoded straight into the wave's block, sized once from the frame count the file states.
    // That count may be wrong or missing: it sizes the block only up to what the caller set aside
    // for it, or a minute at CD rate, so that a header alone cannot claim much memory, and the
    // block grows by half when the sound goes on.
    const size_t frameBytes = 2 * static_cast<size_t>(source.channels);
    const sf_count_t reservedFrames = std::max<sf_count_t>(
        sf_count_t{44100} * 60, static_cast<sf_count_t>(std::min<uint64_t>(reservedBytes / frameBytes, INT64_MAX)));
    TWave decoded;
    // One frame more than stated, so that the read that finds the end goes into the block too.
    sf_count_t capacity = std::clamp<sf_count_t>(source.statedFrames, 0, std::min(maxFrames, reservedFrames) - 1) + 1;
    decoded.SetSizeForOverwrite(static_cast<size_t>(capacity) * frameBytes);
    // Samples go straight into the wave's block while it has room and the machine stores them as
    // the block does (little-endian); otherwise through `chunk`, so that the block grows only for
    // a sound that goes on past it.
    constexpr bool kNative = std::endian::native == std::endian::little;
    // Chunks no longer than the sound says it is: a short key sound does not pay for setting up
    // long buffers. Nothing in them is read before it is written.
    const sf_count_t chunkFrames = std::clamp<sf_count_t>(source.statedFrames, 1024, kChunkFrames);
    const size_t chunkSamples = static_cast<size_t>(chunkFrames * source.channels);
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
        const sf_count_t got = source.read(samples, want);
        if (got <= 0) break;
        const size_t count = static_cast<size_t>(got * source.channels);
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
