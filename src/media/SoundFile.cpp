#include "media/SoundFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "gui/BmpDecode.h"
#include "gui/Modules.h"
#include "media/Mixer.h"
#include "media/SoundDecoder.h"

namespace media {
namespace {

// libsndfile and its codecs load with the first sound that needs them.
const SoundDecoder* CompressedSoundModule() {
    return static_cast<const SoundDecoder*>(gui::LoadModule(
        "sound", SoundDecoder::kVersion, "Ogg, FLAC, MP3 and other compressed sounds stay silent"));
}

// The bytes of a wave's data that loading keeps: whole frames up to kMaxSoundSeconds.
uint64_t KeptDataBytes(const std::vector<uint8_t>& formatBlock, uint64_t size) {
    const TWaveFormatEx format = TWaveFormatEx::FromBytes(formatBlock.data(), formatBlock.size());
    const uint64_t frameBytes = uint64_t{format.nChannels} * (format.wBitsPerSample / 8);
    return std::min(size, uint64_t{format.nSamplesPerSec} * kMaxSoundSeconds * frameBytes);
}

}  // namespace

bool DecodeCompressedSound(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint,
                           uint64_t reservedBytes) {
    const SoundDecoder* decoder = CompressedSoundModule();
    return decoder != nullptr && decoder->decode(bytes, size, wave, checkpoint, reservedBytes);
}

void LoadSoundFromMemory(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint,
                         uint64_t reservedBytes) {
    std::exception_ptr refused;
    try {
        wave.LoadFromMemory(bytes, size);
        if (wave.Empty()) return;
        if (IsPlayableFormat(wave.FormatBlock())) {
            // Cut at whole frames, as compressed sounds are.
            const uint64_t kept = KeptDataBytes(wave.FormatBlock(), wave.Size());
            if (wave.Size() > kept) wave.SetSize(static_cast<size_t>(kept));
            return;
        }
    } catch (const gui::Exception&) {
        refused = std::current_exception();
    }
    if (DecodeCompressedSound(bytes, size, wave, checkpoint, reservedBytes)) return;
    // Nothing else reads it: the wave reader's verdict stands, as does a wave it accepted.
    if (refused) std::rethrow_exception(refused);
}

void LoadSoundFile(const std::string& fileName, TWave& wave, const DecodeCheckpoint& checkpoint,
                   uint64_t reservedBytes) {
    const std::vector<uint8_t> bytes = gui::bmp::ReadFileBytes(fileName, kMaxSoundFileBytes, "sound file");
    LoadSoundFromMemory(bytes.data(), bytes.size(), wave, checkpoint, reservedBytes);
}

bool ProbeSoundFile(const std::string& fileName, SoundShape& shape) {
    shape = SoundShape();
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    // Only a regular file's size is known before it is read; a larger one is refused unread.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const auto size = static_cast<uint64_t>(info.st_size);
    shape.fileBytes = size;
    if (size > kMaxSoundFileBytes) return false;
    if (size == 0) return true;
    const ReadAt read = [fd](uint64_t offset, uint8_t* out, size_t count) {
        size_t got = 0;
        while (got < count) {
            const ssize_t n = pread(fd, out + got, count - got, static_cast<off_t>(offset + got));
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        return got;
    };
    // As LoadSoundFromMemory goes: the wave reader first, libsndfile for what it refuses or
    // cannot play.
    bool refused = false;
    WaveChunks chunks;
    try {
        chunks = FindWaveChunks(size, read);
        // The reader refuses sample data that runs past the file's end.
        refused = chunks.dataSize > 0 && (chunks.dataStart > size || chunks.dataSize > size - chunks.dataStart);
    } catch (const gui::Exception&) {
        refused = true;
    }
    if (!refused) {
        if (chunks.format.empty() && chunks.dataSize == 0) return true;
        if (IsPlayableFormat(chunks.format)) {
            shape.dataBytes = KeptDataBytes(chunks.format, chunks.dataSize);
            shape.formatBlock = std::move(chunks.format);
            return true;
        }
    }
    const SoundDecoder* decoder = CompressedSoundModule();
    // Refused by both, or a wave the mixer cannot play: no sound is kept.
    return decoder == nullptr || decoder->probe(read, size, shape) != SoundDecoder::kProbeOpen;
}

}  // namespace media
