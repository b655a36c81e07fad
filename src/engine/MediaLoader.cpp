#include "engine/MediaLoader.h"

#include <errno.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "engine/Reading.h"
#include "engine/SoundPrefetch.h"
#include "gui/Bitmap.h"
#include "gui/Convert.h"
#include "gui/Exception.h"
#include "gui/FileNames.h"
#include "gui/PictureFile.h"
#include "gui/Screen.h"
#include "gui/TextEncoding.h"
#include "gui/ThreadPool.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "media/Mixer.h"
#include "media/SoundFile.h"

namespace engine {
namespace {

using gui::kScreenHeight;
using gui::kScreenWidth;
// Enough of a file's start for every signature below.
constexpr size_t kHeadBytes = 16;

// The destination of a picture of w×h pixels on the 320×240 screen for a fit mode; false for
// a mode that copies nothing.
bool FitRect(int fitMode, int64_t w, int64_t h, gui::TRect& dest) {
    switch (fitMode) {
    case 0:
        dest = gui::Rect(static_cast<int>(160 - w * 320 / 512), 0, static_cast<int>(160 + w * 320 / 512),
                         static_cast<int>(h * 240 / 256));
        return true;
    case 1:
        dest = gui::Rect(static_cast<int>(160 - w / 2), -8, static_cast<int>(160 + w / 2), static_cast<int>(h - 8));
        return true;
    case 2:
        dest = gui::Rect(static_cast<int>(160 - w * 320 / 512), static_cast<int>(120 - h * 320 / 512),
                         static_cast<int>(160 + w * 320 / 512), static_cast<int>(120 + h * 320 / 512));
        return true;
    default:
        return false;
    }
}

bool HasAt(std::span<const uint8_t> head, size_t offset, std::string_view bytes) {
    return head.size() >= offset + bytes.size() && std::memcmp(head.data() + offset, bytes.data(), bytes.size()) == 0;
}

// The first bytes of a file (fewer when it is shorter; none when it cannot be read).
std::vector<uint8_t> FileHead(const std::filesystem::path& path) {
    std::vector<uint8_t> head(kHeadBytes);
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(file ? head.size() : static_cast<size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return head;
}

// Raised for a sound file read whole that is still no sound to play.
using gui::Exception;
GUI_DECLARE_EXCEPTION(ESoundNotLoaded, Exception);

// Why a wave read from a file cannot play; empty when it can.
std::string Unplayable(const media::TWave& wave) {
    if (wave.Size() == 0) return "the file holds no sound";
    if (media::IsPlayableFormat(wave.FormatBlock())) return {};
    const media::TWaveFormatEx f = wave.Format();
    return gui::Format("a sound that cannot be played (format 0x%04X, %u channels, %u Hz, %u bits)", f.wFormatTag,
                       f.nChannels, f.nSamplesPerSec, f.wBitsPerSample);
}

// How long a sound of this shape lasts at its own rate.
double SoundSeconds(const media::SoundShape& shape) {
    const media::TWaveFormatEx f = media::TWaveFormatEx::FromBytes(shape.formatBlock.data(), shape.formatBlock.size());
    const double bytesPerSecond = static_cast<double>(f.nSamplesPerSec) * f.nChannels * (f.wBitsPerSample / 8);
    return bytesPerSecond > 0 ? static_cast<double>(shape.dataBytes) / bytesPerSecond : 0;
}

// Files refused for their size or content are named on stderr; the console stays as it was.
void ReportNotLoaded(const std::filesystem::path& path, const char* why) {
    std::fprintf(stderr, "%s: %s: not loaded: %s\n", program_invocation_short_name, path.c_str(), why);
}

}  // namespace

bool IsMovieFile(const std::filesystem::path& path, std::span<const uint8_t> head) {
    if (gui::UpperCase(path.extension().string()) == ".TGA") return false;
    // MPEG: a program stream's pack header; a video elementary stream's sequence header (MPEG-1
    // and 2) or visual object sequence, object or object layer (MPEG-4 Part 2).
    if (HasAt(head, 0, std::string_view("\0\0\1", 3)) && head.size() >= 4) {
        const uint8_t code = head[3];
        return code == 0xBA || code == 0xB3 || code == 0xB0 || code == 0xB5 || code <= 0x2F;
    }
    if (HasAt(head, 0, "RIFF") && HasAt(head, 8, "AVI ")) return true;
    if (HasAt(head, 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C")) return true;  // ASF
    for (const char* box : {"ftyp", "moov", "mdat", "free", "skip", "wide"})
        if (HasAt(head, 4, box)) return true;  // MP4, QuickTime
    return HasAt(head, 0, "\x1A\x45\xDF\xA3");  // Matroska, WebM
}

MediaLoader::MediaLoader(media::TDXWaveList& waves, SoundLoader::Decoder decode)
    : waves_(waves), decode_(std::move(decode)) {
    slots_.Sounds.assign(kSlotCount, nullptr);
    slots_.SoundState.assign(kSlotCount, -1);
    slots_.SoundFiles.resize(kSlotCount);
    slots_.BgaImages.resize(kSlotCount);
    slots_.BgaLoaded.assign(kSlotCount, false);
}

MediaLoader::~MediaLoader() = default;

void MediaLoader::Begin(const std::filesystem::path& folder, int slotCount, const MediaSettings& settings,
                        media::TDirectDraw* owner, std::function<void(int32_t, const std::string&)> failed,
                        std::function<void()> progress) {
    Stop();
    progress_ = std::move(progress);
    folder_ = folder;
    settings_ = settings;
    owner_ = owner;
    failed_ = std::move(failed);
    // The movies first: they draw into the slot surfaces.
    slots_.BgaMovies.clear();
    waves_.Items().Clear();
    slots_ = TMediaSlots();
    heldBytes_.clear();
    heldTotal_ = 0;
    AddSlots(slotCount);
    loading_ = true;
}

void MediaLoader::AddSlots(int count) {
    for (size_t i = slots_.Sounds.size(); i < static_cast<size_t>(count); ++i) {
        slots_.SoundState.push_back(-1);
        slots_.SoundFiles.emplace_back();
        slots_.Sounds.push_back(&waves_.Items().Add());
        slots_.BgaImages.push_back(settings_.BgaDisplayMode < 2 ? std::make_unique<media::TDirectDrawSurface>(owner_)
                                                                : nullptr);
        slots_.BgaLoaded.push_back(false);
    }
}

void MediaLoader::LoadSound(int slot, std::string_view name, int32_t line) {
    if (!loading_ || slot < 0 || slot >= slots_.Count() || slots_.Sounds[slot] == nullptr) return;
    std::filesystem::path path = gui::FindChartFileOrAlternative(folder_, name, kSoundExtensions);
    if (path.empty()) return NoteMissing(name, gui::ChartFileAlternatives(name, kSoundExtensions), line);
    media::SoundShape shape;
    const bool sized = media::ProbeSoundFile(path.string(), shape);
    // A sound whose length its headers leave open may be heard: it is decoded at once.
    if (settings_.StartMeasure > 0 && sized) {
        lastWaiting_.resize(slots_.Sounds.size(), -1);
        lastWaiting_[slot] = static_cast<int32_t>(waiting_.size());
        waiting_.push_back({slot, std::move(path), line, std::move(shape), sized});
        return;
    }
    StartDecode(slot, std::move(path), line, shape, sized);
}

void MediaLoader::StartDecode(int slot, std::filesystem::path path, int32_t line, const media::SoundShape& shape,
                             bool sized) {
    if (!soundLoader_)
        soundLoader_ = std::make_unique<SoundLoader>(
            settings_.LoadThreads > 0 ? settings_.LoadThreads : gui::ThreadPool::MachineThreads(), progress_, decode_);
    heldBytes_.resize(slots_.Sounds.size());
    // The sound's size from its file's headers is set aside before it is decoded, so that the
    // decodes under way never hold more than the budget leaves, however many run at once.
    const int64_t held = sized ? HeldBytes(shape.formatBlock, shape.dataBytes) : 0;
    const int64_t reserved = held + static_cast<int64_t>(std::min<uint64_t>(shape.fileBytes, INT64_MAX / 4));
    // Earlier sounds are applied first while this one does not fit beside them (or they are
    // decoded alone); with none left the budget's decision is the one applying would make.
    while (!decoding_.empty() &&
           (!sized || openDecodes_ > 0 || heldTotal_ + reservedTotal_ + reserved > settings_.MaxSoundBytes))
        ApplyDecodedSound(true);
    if (decoding_.empty()) {
        // The slot's earlier sound goes whatever becomes of this one.
        const bool fits = !sized || heldTotal_ - heldBytes_[slot] + held <= settings_.MaxSoundBytes;
        DropSound(slot);
        if (!fits) {
            // A decode begun ahead for it is dropped with it.
            if (settings_.Prefetch) settings_.Prefetch->Take(slot, path);
            return;
        }
    }
    std::optional<std::future<DecodedSound>> early;
    if (settings_.Prefetch) early = settings_.Prefetch->Take(slot, path);
    if (early)
        soundLoader_->Adopt(std::move(*early));
    else
        soundLoader_->Add(slot, std::move(path), static_cast<uint64_t>(held));
    decoding_.push_back({line, reserved, !sized});
    reservedTotal_ += reserved;
    openDecodes_ += sized ? 0 : 1;
    ApplyDecodedSounds(false);
}

void MediaLoader::Finish(const HeardSound& heard) {
    // Only the last sound named for a slot stays in it: when that one is never heard, neither
    // it nor the earlier ones are decoded.
    std::vector<bool> unheard(slots_.Sounds.size(), false);
    std::vector<bool> decided(slots_.Sounds.size(), false);
    for (auto w = waiting_.rbegin(); w != waiting_.rend() && heard; ++w) {
        if (decided[w->slot]) continue;
        decided[w->slot] = true;
        unheard[w->slot] = w->sized && !heard(w->slot, SoundSeconds(w->shape));
    }
    for (Waiting& w : waiting_) {
        if (unheard[w.slot])
            DropSound(w.slot);
        else
            StartDecode(w.slot, std::move(w.path), w.line, w.shape, w.sized);
    }
    waiting_.clear();
    lastWaiting_.clear();
    if (soundLoader_) ApplyDecodedSounds(true);
    Stop();
    RestoreSounds();
}

bool MediaLoader::WaitingSoundSeconds(int slot, double& seconds) const {
    if (slot < 0 || static_cast<size_t>(slot) >= lastWaiting_.size() || lastWaiting_[slot] < 0) return false;
    seconds = SoundSeconds(waiting_[static_cast<size_t>(lastWaiting_[slot])].shape);
    return true;
}

void MediaLoader::Stop() {
    soundLoader_.reset();
    // What was decoded ahead and not taken goes with the load.
    settings_.Prefetch.reset();
    decoding_.clear();
    waiting_.clear();
    lastWaiting_.clear();
    reservedTotal_ = 0;
    openDecodes_ = 0;
    failed_ = nullptr;
    loading_ = false;
}

void MediaLoader::ApplyDecodedSounds(bool all) {
    while (ApplyDecodedSound(all)) {
        // Applying many sounds may take a while: the window keeps answering meanwhile.
        if (all && progress_) progress_();
    }
}

bool MediaLoader::ApplyDecodedSound(bool wait) {
    std::optional<DecodedSound> sound = soundLoader_->Next(wait);
    if (!sound) return false;
    Decoding decoding;
    if (!decoding_.empty()) {
        decoding = decoding_.front();
        decoding_.pop_front();
    }
    reservedTotal_ -= decoding.reserved;
    openDecodes_ -= decoding.open ? 1 : 0;
    try {
        ApplySound(*sound);
    } catch (const gui::Exception& e) {
        if (dynamic_cast<const gui::EFileTooLarge*>(&e) != nullptr || dynamic_cast<const ESoundNotLoaded*>(&e) != nullptr)
            ReportNotLoaded(sound->path, e.what());
        // As when its line is read: the rest of that line is abandoned, and it has no more.
        if (failed_) failed_(decoding.line, e.what());
    }
    return true;
}

void MediaLoader::DropSound(int slot) {
    slots_.SoundState[slot] = -1;
    slots_.SoundFiles[slot].clear();
    slots_.Sounds[slot]->Wave().Clear();
    heldBytes_.resize(slots_.Sounds.size());
    heldTotal_ -= std::exchange(heldBytes_[slot], 0);
}

void MediaLoader::ApplySound(DecodedSound& sound) {
    const int slot = sound.slot;
    media::TWaveCollectionItem& item = *slots_.Sounds[slot];
    heldBytes_.resize(slots_.Sounds.size());
    heldTotal_ -= std::exchange(heldBytes_[slot], 0);
    const int64_t others = heldTotal_;
    const int64_t held = HeldBytes(sound.wave.FormatBlock(), sound.wave.Size());
    // An empty file or one the mixer cannot play is not loaded, and takes none of the budget.
    const std::string unplayable = sound.error ? std::string() : Unplayable(sound.wave);
    if (sound.error || !unplayable.empty() || others + held > settings_.MaxSoundBytes) {
        // A file that is not a sound we can read, or one too many, leaves its slot silent.
        DropSound(slot);
        if (sound.error) std::rethrow_exception(sound.error);
        if (!unplayable.empty()) throw ESoundNotLoaded(unplayable);
        return;
    }
    // A slot defined again drops the buffer made from its earlier file, so that the rate read
    // below is the new file's own.
    slots_.SoundState[slot] = 1;
    item.Finalize();
    item.SetFrequency(media::DSBFREQUENCY_ORIGINAL);
    item.Wave() = std::move(sound.wave);
    heldBytes_[slot] = held;
    heldTotal_ += held;
    slots_.SoundFiles[slot] = sound.path;
    // Without a sound device there is no buffer to ask for its rate, and none to play at a speed.
    media::TDXSound* device = waves_.DXSound();
    if (device == nullptr || !device->Initialized()) return;
    const int64_t rate = item.Buffer()->Frequency();
    item.SetFrequency(static_cast<int32_t>(rate * settings_.PlaySpeed / 100));
}

int64_t MediaLoader::HeldBytes(const std::vector<uint8_t>& formatBlock, uint64_t size) const {
    const auto bytes = static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX / 4));
    media::TDXSound* sound = waves_.DXSound();
    if (sound == nullptr || !sound->Initialized()) return bytes;
    const size_t decoded = media::DecodedBytes(formatBlock, static_cast<size_t>(bytes), sound->Mixer().Rate());
    return std::max(bytes, static_cast<int64_t>(decoded));
}

void MediaLoader::LoadPicture(int slot, std::string_view name, int32_t line) {
    if (slot < 0 || slot >= slots_.Count() || !slots_.BgaImages[slot]) return;  // no slots before a load
    const std::filesystem::path path = gui::FindChartFileOrAlternative(folder_, name, kPictureExtensions);
    if (path.empty()) return NoteMissing(name, gui::ChartFileAlternatives(name, kPictureExtensions), line);
    // Between pictures, as between the chunks of a sound, the window keeps answering.
    if (progress_) progress_();
    gui::Bitmap picture;
    std::unique_ptr<media::Movie> movie;
    // A file that is neither a movie nor a picture is refused as the picture reader refuses it.
    if (IsMovieFile(path, FileHead(path)))
        movie = std::make_unique<media::Movie>(path.string(), settings_.MovieTiming);
    else
        try {
            gui::LoadPictureFile(picture, path.string());
        } catch (const gui::EFileTooLarge& e) {
            ReportNotLoaded(path, e.what());
            throw;
        }
    gui::Bitmap screen;
    screen.Canvas().Brush().Color = gui::clBlack;
    screen.SetSize(kScreenWidth, kScreenHeight);
    gui::TRect dest;
    const bool fits = movie ? FitRect(settings_.BgaFitMode, movie->Width(), movie->Height(), dest)
                            : FitRect(settings_.BgaFitMode, picture.Width(), picture.Height(), dest);
    if (fits && !movie) screen.Canvas().StretchDraw(dest, picture);
    screen.Canvas().Release();
    slots_.BgaLoaded[slot] = true;
    slots_.BgaImages[slot]->LoadGraphic(screen);
    slots_.BgaMovies.erase(slot);
    // A fit mode that copies nothing leaves a movie's slot black, as it leaves a picture's.
    if (movie && fits) {
        movie->ShowOn(*slots_.BgaImages[slot], dest);
        slots_.BgaMovies[slot] = std::move(movie);
    }
    slots_.HasBga = true;
}

void MediaLoader::NoteMissing(std::string_view name, std::vector<std::string> tried, int32_t line) {
    if (name.empty()) return;
    // Letter case aside, as the lookups go.
    const std::string upper = gui::UpperCase(name);
    for (const MissingFile& missing : slots_.Missing)
        if (gui::UpperCase(missing.Name) == upper) return;
    std::string names;
    for (const std::string& n : tried) names += (names.empty() ? "" : ", ") + gui::ChartTextToUtf8(n);
    std::fprintf(stderr, "%s: %s: line %d: file not found: %s (tried %s)\n", program_invocation_short_name,
                 folder_.empty() ? "." : folder_.c_str(), static_cast<int>(line), gui::ChartTextToUtf8(name).c_str(),
                 names.c_str());
    slots_.Missing.push_back({std::string(name), std::move(tried), line});
}

void MediaLoader::RestoreSounds() {
    for (int i = 0; i < slots_.Count(); ++i) {
        if (slots_.SoundState[i] < 0) continue;
        // Converting long sounds for the mixer takes a while: the window keeps answering.
        if (progress_) progress_();
        try {
            slots_.Sounds[i]->Restore();
        } catch (const gui::Exception&) {
            // One sound that cannot be played must not cost the whole chart: the slot stays silent.
            slots_.SoundState[i] = -1;
        }
    }
}

}  // namespace engine
