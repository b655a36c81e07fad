#include "media/SoundFile.h"

#include <exception>
#include <vector>

#include "gui/BmpDecode.h"
#include "gui/Modules.h"
#include "media/Mixer.h"
#include "media/SoundDecoder.h"

namespace media {

bool DecodeCompressedSound(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint) {
    // libsndfile and its codecs load with the first sound that needs them.
    const auto* decoder = static_cast<const SoundDecoder*>(gui::LoadModule(
        "sound", SoundDecoder::kVersion, "Ogg, FLAC, MP3 and other compressed sounds stay silent"));
    return decoder != nullptr && decoder->decode(bytes, size, wave, checkpoint);
}

void LoadSoundFromMemory(const uint8_t* bytes, size_t size, TWave& wave, const DecodeCheckpoint& checkpoint) {
    std::exception_ptr refused;
    try {
        wave.LoadFromMemory(bytes, size);
        if (wave.Empty()) return;
        if (IsPlayableFormat(wave.FormatBlock())) {
            // Cut at whole frames, as compressed sounds are.
            const TWaveFormatEx format = wave.Format();
            const uint64_t frameBytes = uint64_t{format.nChannels} * (format.wBitsPerSample / 8);
            const uint64_t maxBytes = uint64_t{format.nSamplesPerSec} * kMaxSoundSeconds * frameBytes;
            if (wave.Size() > maxBytes) wave.SetSize(static_cast<size_t>(maxBytes));
            return;
        }
    } catch (const gui::Exception&) {
        refused = std::current_exception();
    }
    if (DecodeCompressedSound(bytes, size, wave, checkpoint)) return;
    // Nothing else reads it: the wave reader's verdict stands, as does a wave it accepted.
    if (refused) std::rethrow_exception(refused);
}

void LoadSoundFile(const std::string& fileName, TWave& wave, const DecodeCheckpoint& checkpoint) {
    const std::vector<uint8_t> bytes = gui::bmp::ReadFileBytes(fileName, kMaxSoundFileBytes, "sound file");
    LoadSoundFromMemory(bytes.data(), bytes.size(), wave, checkpoint);
}

}  // namespace media
