// Decodes a chart's sound files on worker threads while its lines are read, and hands the
// results back strictly in the order they were asked for, so that the engine applies them just
// as a load that decodes each file in its turn would.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "media/Wave.h"

namespace gui {
class ThreadPool;
}

namespace engine {

struct DecodedSound {
    int slot = 0;
    std::filesystem::path path;
    media::TWave wave;
    std::exception_ptr error;  // what reading the file raised; then `wave` is empty
};

// Reads one sound file as a chart's #WAV line does; `checkpoint` runs between the chunks of a
// long decode and may raise to stop it (the sound then carries the exception as its error).
// `reservedBytes`: the memory set aside for its samples (media::LoadSoundFile).
DecodedSound DecodeSound(int slot, std::filesystem::path path, const std::function<void()>& checkpoint = {},
                         uint64_t reservedBytes = 0);

class SoundLoader {
public:
    // Reads one file; `checkpoint` and `reservedBytes` as for DecodeSound.
    using Decoder = std::function<DecodedSound(int slot, std::filesystem::path path,
                                               const std::function<void()>& checkpoint, uint64_t reservedBytes)>;

    // With one thread or fewer, every file is decoded when it is added, on the calling thread.
    // `progress` runs every few milliseconds while a decode is waited for and between the chunks
    // of a decode on the calling thread, so that the caller can keep its window answering. It
    // may raise to give up the load: the exception leaves Next, or stops that decode, whose sound
    // then carries it as its error. `decode` reads each file (tests slow one down to see the
    // order kept).
    explicit SoundLoader(unsigned threads, std::function<void()> progress = {}, Decoder decode = DecodeSound);
    // Stops the decodes under way at their next chunk and drops those not begun.
    ~SoundLoader();
    SoundLoader(const SoundLoader&) = delete;
    SoundLoader& operator=(const SoundLoader&) = delete;

    void Add(int slot, std::filesystem::path path, uint64_t reservedBytes = 0);
    // A sound decoded elsewhere (SoundPrefetch), handed back in its turn as an added one is.
    void Adopt(std::future<DecodedSound> sound) { pending_.push_back(std::move(sound)); }
    // The oldest sound not yet handed back: once it is decoded with `wait`, else only if it is
    // already decoded (and, while many wait, the oldest in any case, which bounds the memory the
    // decoded sounds take before they are applied). Nothing when no sound is outstanding.
    std::optional<DecodedSound> Next(bool wait);

private:
    std::function<void()> progress_;
    Decoder decode_;
    unsigned threads_;
    // Set when the loader ends: the workers' decodes stop. Outlives the pool, which joins them.
    std::atomic<bool> stopping_{false};
    std::unique_ptr<gui::ThreadPool> pool_;
    std::deque<std::future<DecodedSound>> pending_;
    size_t window_ = 0;
};

}  // namespace engine
