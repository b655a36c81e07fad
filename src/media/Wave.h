// An in-memory wave: the format block and the sample data of a RIFF WAVE file, read with the
// exact acceptance rules that chart sound files get, and a writer for the offline renderer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/Exception.h"

namespace media {

using gui::Exception;

GUI_DECLARE_EXCEPTION(EWaveStreamError, Exception);

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The WAVEFORMATEX record as it is stored in a file (18 bytes, little-endian).
struct TWaveFormatEx {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;

    static constexpr size_t kStoredSize = 18;
    std::vector<uint8_t> ToBytes() const;
    // Reads the record from the start of a format block; missing trailing fields read as 0.
    static TWaveFormatEx FromBytes(const uint8_t* bytes, size_t size);
};

void MakePcmFormat(TWaveFormatEx& format, uint32_t rate, uint16_t bits, uint16_t channels);

// Where a RIFF WAVE file keeps its format block and its sample data, as the wave reader finds
// them: the data may be stated to run past the end of the file.
struct WaveChunks {
    std::vector<uint8_t> format;
    uint64_t dataStart = 0;
    uint32_t dataSize = 0;
};
// Reads up to `count` bytes at `offset` of a file of known size into `out`; returns how many.
using ReadAt = std::function<size_t(uint64_t offset, uint8_t* out, size_t count)>;
// Walks the chunks of a file of `size` bytes (not empty) with the wave reader's rules, reading
// only their headers and the format. Raises as TWave::LoadFromMemory does for a file that is not
// a RIFF WAVE or whose format chunk runs past its end.
WaveChunks FindWaveChunks(uint64_t size, const ReadAt& read);

extern const char* const kInvalidWaveMessage;       // "不正な Wave です"
extern const char* const kStreamReadErrorMessage;   // the run-time library's read error

class TWave {
public:
    // The data block grows in steps of this many bytes.
    static constexpr size_t kDataBlockStep = 8096;

    TWave() = default;
    TWave(const TWave& other) { Assign(&other); }
    TWave& operator=(const TWave& other) {
        Assign(&other);
        return *this;
    }
    // Takes both blocks without copying them; `other` is left empty.
    TWave(TWave&& other) noexcept { *this = std::move(other); }
    TWave& operator=(TWave&& other) noexcept;

    // Copies both blocks of `source`; nullptr empties this wave.
    void Assign(const TWave* source);
    void Clear();

    // Reads a file, replacing format and data. Raises gui::EFOpenError when the file cannot be
    // opened, EWaveStreamError for a file that is not a RIFF WAVE, gui::EReadError when it ends early.
    void LoadFromFile(const std::string& fileName);
    // Reads from the stream's current position to its end.
    void LoadFromStream(std::istream& stream);
    void LoadFromMemory(const uint8_t* bytes, size_t size);

    const std::vector<uint8_t>& FormatBlock() const { return format_; }
    size_t FormatSize() const { return format_.size(); }
    // The record at the start of the format block (all zero when the block is shorter).
    TWaveFormatEx Format() const { return TWaveFormatEx::FromBytes(format_.data(), format_.size()); }
    void SetFormatBlock(std::vector<uint8_t> block) {
        format_ = std::move(block);
        Touch();
    }
    void SetFormat(const TWaveFormatEx& format) { SetFormatBlock(format.ToBytes()); }

    const uint8_t* Data() const { return data_.get(); }
    uint8_t* Data() {
        Touch();
        Unshare();
        return data_.get();
    }
    size_t Size() const { return size_; }
    size_t Capacity() const { return capacity_; }
    // Resizes the data block, keeping what fits; new bytes are zero.
    void SetSize(size_t size) { Resize(size, true); }
    // The same, leaving new bytes unset, for a caller that writes them all before reading them.
    void SetSizeForOverwrite(size_t size) { Resize(size, false); }
    void SetData(const void* bytes, size_t size);
    // The data block itself, for a reader that keeps it (the mixer plays 16-bit samples from
    // it). It never changes under that reader: a later write through this wave copies it first.
    std::shared_ptr<const uint8_t[]> SharedData() const { return data_; }

    bool Empty() const { return format_.empty() && size_ == 0; }
    // Changes whenever the wave may have changed; unique across all waves, so that decoded
    // copies of the samples can be kept while it stays the same.
    uint64_t Revision() const { return revision_; }

private:
    void Touch();
    void Resize(size_t size, bool zeroNew);
    // Gives this wave a block of its own when a reader shares the current one.
    void Unshare();

    uint64_t revision_ = 0;
    std::vector<uint8_t> format_;
    std::shared_ptr<uint8_t[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Writes a RIFF WAVE file: Open with a format, Write sample data, Close (or destruction) fixes
// the chunk sizes.
class TWaveStream {
public:
    explicit TWaveStream(std::string fileName);
    ~TWaveStream();
    TWaveStream(const TWaveStream&) = delete;
    TWaveStream& operator=(const TWaveStream&) = delete;

    void SetFormat(const TWaveFormatEx& format) { format_ = format.ToBytes(); }
    void SetFormatBlock(std::vector<uint8_t> block) { format_ = std::move(block); }
    // Raises EWaveStreamError when already open or when the format is empty; gui::EFOpenError
    // when the file cannot be created.
    void Open();
    bool Opened() const { return opened_; }
    void Write(const void* bytes, size_t size);
    void Close();
    size_t DataSize() const { return dataSize_; }

private:
    std::string fileName_;
    std::vector<uint8_t> format_;
    std::ofstream file_;
    bool opened_ = false;
    uint64_t dataStart_ = 0;
    size_t dataSize_ = 0;
};

}  // namespace media
