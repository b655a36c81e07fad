// Decodes a chart's sound files on worker threads while its lines are read, and hands the
// results back strictly in the order they were asked for, so that the engine applies them just
// as a load that decodes each file in its turn would.
#pragma once

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

// Reads one sound file as a chart's #WAV line does.
DecodedSound DecodeSound(int slot, std::filesystem::path path);

class SoundLoader {
public:
    using Decoder = std::function<DecodedSound(int slot, std::filesystem::path path)>;

    // With one thread or fewer, every file is decoded when it is added, on the calling thread.
    // `decode` reads each file (tests slow one down to see the order kept).
    explicit SoundLoader(unsigned threads, Decoder decode = DecodeSound);
    ~SoundLoader();
    SoundLoader(const SoundLoader&) = delete;
    SoundLoader& operator=(const SoundLoader&) = delete;

    void Add(int slot, std::filesystem::path path);
    // The oldest sound not yet handed back: once it is decoded with `wait`, else only if it is
    // already decoded (and, while many wait, the oldest in any case, which bounds the memory the
    // decoded sounds take before they are applied). Nothing when no sound is outstanding.
    std::optional<DecodedSound> Next(bool wait);

private:
    Decoder decode_;
    std::unique_ptr<gui::ThreadPool> pool_;
    std::deque<std::future<DecodedSound>> pending_;
    size_t window_ = 0;
};

}  // namespace engine
