#include "media/Wave.h"

#include "gui/ByteOrder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <istream>
#include <iterator>

namespace media {

const char* const kInvalidWaveMessage = "不正な Wave です";
const char* const kStreamReadErrorMessage = "ストリームからの読み込みエラー";

namespace {

using gui::Le16;
using gui::Le32;

constexpr uint32_t FourCc(const char (&id)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(id[0])) | static_cast<uint32_t>(static_cast<uint8_t>(id[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[3])) << 24;
}

}  // namespace

std::vector<uint8_t> TWaveFormatEx::ToBytes() const {
    std::vector<uint8_t> out;
    out.reserve(kStoredSize);
    gui::PutU16(out, wFormatTag);
    gui::PutU16(out, nChannels);
    gui::PutU32(out, nSamplesPerSec);
    gui::PutU32(out, nAvgBytesPerSec);
    gui::PutU16(out, nBlockAlign);
    gui::PutU16(out, wBitsPerSample);
    gui::PutU16(out, cbSize);
    return out;
}

TWaveFormatEx TWaveFormatEx::FromBytes(const uint8_t* bytes, size_t size) {
    uint8_t raw[kStoredSize] = {};
    if (size > 0) std::memcpy(raw, bytes, std::min(size, kStoredSize));
    TWaveFormatEx f;
    f.wFormatTag = Le16(raw);
    f.nChannels = Le16(raw + 2);
    f.nSamplesPerSec = Le32(raw + 4);
    f.nAvgBytesPerSec = Le32(raw + 8);
    f.nBlockAlign = Le16(raw + 12);
    f.wBitsPerSample = Le16(raw + 14);
    f.cbSize = Le16(raw + 16);
    return f;
}

void MakePcmFormat(TWaveFormatEx& format, uint32_t rate, uint16_t bits, uint16_t channels) {
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<uint16_t>(channels * (bits / 8));
    format.nAvgBytesPerSec = format.nBlockAlign * rate;
    format.cbSize = 0;
}

void TWave::Touch() {
    static std::atomic<uint64_t> counter{0};
    revision_ = ++counter;
}

void TWave::Assign(const TWave* source) {
    if (source == this) return;
    if (source == nullptr) {
        Clear();
        return;
    }
    format_ = source->format_;
    Touch();
    SetData(source->Data(), source->Size());
}

TWave& TWave::operator=(TWave&& other) noexcept {
    if (&other == this) return *this;
    format_ = std::move(other.format_);
    data_ = std::move(other.data_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    other.format_.clear();
    other.Touch();
    Touch();
    return *this;
}

void TWave::Clear() {
    Touch();
    format_.clear();
    data_.reset();
    size_ = 0;
    capacity_ = 0;
}

void TWave::Resize(size_t size, bool zeroNew) {
    Touch();
    if (size == 0) {
        data_.reset();
        size_ = capacity_ = 0;
        return;
    }
    const size_t capacity = (size + kDataBlockStep - 1) / kDataBlockStep * kDataBlockStep;
    const size_t kept = std::min(size_, size);
    if (capacity != capacity_ || data_.use_count() > 1) {
        // Left unset: what is kept is copied, the rest zeroed below or written by the caller.
        std::shared_ptr<uint8_t[]> block(new uint8_t[capacity]);
        if (kept > 0) std::memcpy(block.get(), data_.get(), kept);
        data_ = std::move(block);
        capacity_ = capacity;
    }
    if (zeroNew && size > kept) std::memset(data_.get() + kept, 0, size - kept);
    size_ = size;
}

void TWave::Unshare() {
    if (data_.use_count() <= 1) return;
    std::shared_ptr<uint8_t[]> block(new uint8_t[capacity_]);
    std::memcpy(block.get(), data_.get(), size_);
    data_ = std::move(block);
}

void TWave::SetData(const void* bytes, size_t size) {
    SetSize(0);
    SetSizeForOverwrite(size);
    if (size > 0) std::memcpy(data_.get(), bytes, size);
}

void TWave::LoadFromFile(const std::string& fileName) {
    std::error_code ec;
    std::ifstream file;
    if (!std::filesystem::is_directory(fileName, ec)) file.open(fileName, std::ios::binary);
    if (!file.is_open()) throw gui::EFOpenError(gui::Format("ファイル %s は開けません", fileName.c_str()));
    LoadFromStream(file);
}

void TWave::LoadFromStream(std::istream& stream) {
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    LoadFromMemory(bytes.data(), bytes.size());
}

WaveChunks FindWaveChunks(uint64_t size, const ReadAt& read) {
    uint8_t riff[12] = {};
    if (size < 12 || read(0, riff, 12) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        throw EWaveStreamError(kInvalidWaveMessage);

    // Positions may run past the end (chunk sizes are taken as stored); reads there get nothing.
    uint64_t pos = 12;
    WaveChunks chunks;
    for (;;) {
        uint8_t header[8] = {};
        if (pos < size) {
            const size_t got = static_cast<size_t>(std::min<uint64_t>(8, size - pos));
            if (read(pos, header, got) != got) throw gui::EReadError(kStreamReadErrorMessage);
            pos += got;
        }
        const uint32_t id = Le32(header);
        const uint32_t chunkSize = Le32(header + 4);
        if (id == 0) break;
        if (id == FourCc("fmt ")) {
            if (pos > size || chunkSize > size - pos) throw gui::EReadError(kStreamReadErrorMessage);
            chunks.format.resize(chunkSize);
            if (chunkSize > 0 && read(pos, chunks.format.data(), chunkSize) != chunkSize)
                throw gui::EReadError(kStreamReadErrorMessage);
        } else if (id == FourCc("data")) {
            chunks.dataStart = pos;
            chunks.dataSize = chunkSize;
        }
        pos += chunkSize;
    }
    return chunks;
}

void TWave::LoadFromMemory(const uint8_t* bytes, size_t size) {
    Clear();
    if (size == 0) return;
    WaveChunks chunks = FindWaveChunks(size, [bytes, size](uint64_t offset, uint8_t* out, size_t count) {
        const size_t got = offset < size ? static_cast<size_t>(std::min<uint64_t>(count, size - offset)) : 0;
        if (got > 0) std::memcpy(out, bytes + offset, got);
        return got;
    });
    format_ = std::move(chunks.format);
    Touch();
    if (chunks.dataSize > 0) {
        if (chunks.dataStart > size || chunks.dataSize > size - chunks.dataStart) {
            format_.clear();
            throw gui::EReadError(kStreamReadErrorMessage);
        }
        SetData(bytes + chunks.dataStart, chunks.dataSize);
    }
}

TWaveStream::TWaveStream(std::string fileName) : fileName_(std::move(fileName)) {}

TWaveStream::~TWaveStream() {
    try {
        Close();
    } catch (...) {
    }
}

void TWaveStream::Open() {
    if (opened_) throw EWaveStreamError("ストリームはすでに開かれています");
    if (format_.empty()) throw EWaveStreamError("Format が不正です");
    file_.open(fileName_, std::ios::binary | std::ios::trunc);
    if (!file_.is_open()) throw gui::EFOpenError(gui::Format("ファイル %s を作成できません", fileName_.c_str()));
    std::vector<uint8_t> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    gui::PutU32(header, 0);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    gui::PutU32(header, static_cast<uint32_t>(format_.size()));
    header.insert(header.end(), format_.begin(), format_.end());
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    gui::PutU32(header, 0);
    file_.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    dataStart_ = header.size();
    dataSize_ = 0;
    opened_ = true;
}

void TWaveStream::Write(const void* bytes, size_t size) {
    if (!opened_) throw EWaveStreamError("ストリームは開かれていません");
    file_.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    if (!file_) throw gui::EWriteError("ストリームへの書き込みエラー");
    dataSize_ += size;
}

void TWaveStream::Close() {
    if (!opened_) return;
    opened_ = false;
    const uint32_t data = static_cast<uint32_t>(std::min<size_t>(dataSize_, 0xFFFFFFFFu - dataStart_));
    std::vector<uint8_t> riffSize, dataSize;
    gui::PutU32(riffSize, static_cast<uint32_t>(dataStart_ - 8 + data));
    gui::PutU32(dataSize, data);
    file_.seekp(4);
    file_.write(reinterpret_cast<const char*>(riffSize.data()), 4);
    file_.seekp(static_cast<std::streamoff>(dataStart_ - 4));
    file_.write(reinterpret_cast<const char*>(dataSize.data()), 4);
    file_.close();
    if (file_.fail()) throw gui::EWriteError("ストリームへの書き込みエラー");
}

}  // namespace media
