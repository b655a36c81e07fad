// The files a chart names, loaded into the slots that play reads: sounds found under their name
// or another extension, decoded on a pool of threads and applied in the order of their lines;
// pictures fitted to the 320×240 screen; and movies, told from pictures by the file's header.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ChartLoad.h"
#include "engine/SoundLoader.h"
#include "media/Movie.h"
#include "media/SoundFile.h"

namespace media {
class TDXWaveList;
class TWaveCollectionItem;
class TDirectDraw;
class TDirectDrawSurface;
}  // namespace media

namespace engine {

// A file a chart names that is there under none of the names looked for.
struct MissingFile {
    std::string Name;                // as the chart gives it
    std::vector<std::string> Tried;  // the names looked for, in order, the given one first
    int32_t Line = 0;                // the first line naming it
};

// One entry per slot.
struct TMediaSlots {
    std::vector<media::TWaveCollectionItem*> Sounds;
    // -1: no sound in the slot; 1: its file was found and read.
    std::vector<int32_t> SoundState;
    // The file each loaded sound was read from (empty for the others).
    std::vector<std::filesystem::path> SoundFiles;
    // A 320×240 picture per slot while pictures are drawn.
    std::vector<std::unique_ptr<media::TDirectDrawSurface>> BgaImages;
    std::vector<bool> BgaLoaded;
    // The picture slots whose file is a movie: it draws its pictures into the slot's surface.
    std::map<int32_t, std::unique_ptr<media::Movie>> BgaMovies;
    // At least one picture or movie was loaded.
    bool HasBga = false;
    // Each missing sound, picture or MIDI file once (letter case aside), in the order first named.
    std::vector<MissingFile> Missing;

    int32_t Count() const { return static_cast<int32_t>(Sounds.size()); }
};

// What shapes the loading of one chart's files.
struct MediaSettings {
    // Pictures are loaded at 0 only; their surfaces exist below 2 (2: nothing is drawn).
    int32_t BgaDisplayMode = 0;
    int32_t BgaFitMode = 0;
    // Sounds play at this speed in percent, tempo and pitch together.
    int32_t PlaySpeed = 100;
    unsigned LoadThreads = 0;
    int64_t MaxSoundBytes = kMaxChartSoundBytes;
    // Above 0, no sound is decoded before Finish, which is told which ones play (LoadOptions).
    int32_t StartMeasure = 0;
    media::Movie::Timing MovieTiming = media::Movie::Timing::Ahead;
    // Decodes begun before the load, taken instead of decoding their files again.
    std::shared_ptr<SoundPrefetch> Prefetch;
};

// What a chart's name also finds when the file it names is not there, in this order: charts name
// WAV and BMP files that are often shipped in other formats beside them, and movies for their
// pictures.
inline constexpr std::array<std::string_view, 5> kSoundExtensions = {".wav", ".ogg", ".flac", ".opus", ".mp3"};
inline constexpr std::array<std::string_view, 12> kPictureExtensions = {
    ".bmp", ".png", ".jpg", ".jpeg", ".gif", ".mpg", ".mpeg", ".avi", ".wmv", ".mp4", ".webm", ".m1v"};

// Whether the file of a picture slot is a movie in one of the containers played (MPEG program or
// elementary stream, AVI, ASF, MP4/QuickTime, Matroska/WebM), by its first bytes `head`. Anything
// else goes to the picture reader, which takes it or refuses it; a TGA, which has no signature,
// does whatever it starts with.
bool IsMovieFile(const std::filesystem::path& path, std::span<const uint8_t> head);

class MediaLoader {
public:
    // `waves` holds the sound items of the slots; `decode` reads each sound file (DecodeSound;
    // tests slow one down).
    explicit MediaLoader(media::TDXWaveList& waves, SoundLoader::Decoder decode = DecodeSound);
    ~MediaLoader();
    MediaLoader(const MediaLoader&) = delete;
    MediaLoader& operator=(const MediaLoader&) = delete;

    // Starts on the files of one chart, named relative to `folder`: `slotCount` empty slots (the
    // items of an earlier chart go) with picture surfaces owned by `owner`. The sounds are decoded
    // on threads from the first one named; `failed` hears of each sound line whose file turned
    // out not to decode. `progress` runs every few milliseconds of a wait for a decode, of a
    // decode on the calling thread and of readying the sounds, and before each picture, so that the caller's window keeps
    // answering; it may raise to abandon the load.
    void Begin(const std::filesystem::path& folder, int slotCount, const MediaSettings& settings,
               media::TDirectDraw* owner, std::function<void(int32_t line, const std::string& reason)> failed,
               std::function<void()> progress = {});
    // Slots beyond those begun with.
    void AddSlots(int count);
    // The sound that the #WAV line `line` names, into `slot`. Nothing outside a load.
    void LoadSound(int slot, std::string_view name, int32_t line);
    // The picture or movie that the #BMP line `line` names, fitted into `slot`. Raises when the file is
    // neither a picture read nor a movie played, which abandons the line.
    void LoadPicture(int slot, std::string_view name, int32_t line);
    // Records a file named on `line` that none of `tried` found, once per name (letter case
    // aside), and says so on stderr.
    void NoteMissing(std::string_view name, std::vector<std::string> tried, int32_t line);
    // Says whether a sound of `seconds` in `slot` is heard in play.
    using HeardSound = std::function<bool(int slot, double seconds)>;
    // Waits for the sounds still being decoded and applies them; then readies each loaded sound
    // to play. With a start measure, the sounds wait for this call, and a slot whose last sound
    // `heard` says is never heard is left without one, undecoded.
    void Finish(const HeardSound& heard = {});
    // The length of the sound that waits for Finish to be decoded into `slot`, the last one
    // named for it (from its file's headers); false when none waits.
    bool WaitingSoundSeconds(int slot, double& seconds) const;
    // Stops the decoding, for a load given up.
    void Stop();

    const TMediaSlots& Slots() const { return slots_; }

private:
    // Puts decoded sounds into their slots in the order their lines came: all that are ready,
    // or with `all` every one still being decoded.
    void ApplyDecodedSounds(bool all);
    // Puts the oldest sound being decoded into its slot once it is decoded (with `wait`), or if
    // it is already; false when none was applied.
    bool ApplyDecodedSound(bool wait);
    void ApplySound(DecodedSound& sound);
    // Sets the budget aside for a sound and has it decoded (LoadSound).
    void StartDecode(int slot, std::filesystem::path path, int32_t line, const media::SoundShape& shape, bool sized);
    // Leaves a slot without a sound, as a line whose sound is not loaded leaves it.
    void DropSound(int slot);
    // What a sound counts against the chart's budget: its samples as the mixer holds them
    // (widened and at the output rate), or as read when that is more.
    int64_t HeldBytes(const std::vector<uint8_t>& formatBlock, uint64_t size) const;
    void RestoreSounds();

    media::TDXWaveList& waves_;
    SoundLoader::Decoder decode_;
    TMediaSlots slots_;
    std::filesystem::path folder_;
    MediaSettings settings_;
    media::TDirectDraw* owner_ = nullptr;
    std::function<void(int32_t, const std::string&)> failed_;
    std::function<void()> progress_;
    // Decodes the sound files while a chart's lines are read, and the line of each sound still
    // being decoded, oldest first.
    std::unique_ptr<SoundLoader> soundLoader_;
    // HeldBytes of each slot's sound.
    std::vector<int64_t> heldBytes_;
    // Their sum, kept as they change.
    int64_t heldTotal_ = 0;
    // Each sound still being decoded, oldest first: its line and the memory set aside for it
    // while it is decoded (its samples and the file read for them); `open` when its header could
    // not tell its size, so that it is decoded alone.
    struct Decoding {
        int32_t line = 0;
        int64_t reserved = 0;
        bool open = false;
    };
    std::deque<Decoding> decoding_;
    // The sounds waiting for Finish, with a start measure, in line order.
    struct Waiting {
        int slot = 0;
        std::filesystem::path path;
        int32_t line = 0;
        media::SoundShape shape;
        bool sized = false;
    };
    std::vector<Waiting> waiting_;
    // The index in waiting_ of the last sound for each slot, -1 for none.
    std::vector<int32_t> lastWaiting_;
    // Their reservations summed, and how many are open.
    int64_t reservedTotal_ = 0;
    int openDecodes_ = 0;
    // Between Begin and Finish or Stop.
    bool loading_ = false;
};

}  // namespace engine
