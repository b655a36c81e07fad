#include "engine/SoundLoader.h"

#include <chrono>
#include <utility>

#include "gui/Exception.h"
#include "gui/ThreadPool.h"
#include "media/SoundFile.h"

namespace engine {

DecodedSound DecodeSound(int slot, std::filesystem::path path) {
    DecodedSound sound;
    sound.slot = slot;
    sound.path = std::move(path);
    try {
        media::LoadSoundFile(sound.path.string(), sound.wave);
    } catch (const gui::Exception&) {
        sound.wave.Clear();
        sound.error = std::current_exception();
    }
    return sound;
}

SoundLoader::SoundLoader(unsigned threads, Decoder decode) : decode_(std::move(decode)) {
    if (threads > 1) {
        pool_ = std::make_unique<gui::ThreadPool>(threads);
        // Every worker busy and one more sound waiting: the decoded sounds not yet applied never
        // take more than a few sounds' worth of memory, whatever the chart.
        window_ = static_cast<size_t>(threads) + 2;
    }
}

SoundLoader::~SoundLoader() = default;

void SoundLoader::Add(int slot, std::filesystem::path path) {
    if (!pool_) {
        std::promise<DecodedSound> done;
        done.set_value(decode_(slot, std::move(path)));
        pending_.push_back(done.get_future());
        return;
    }
    pending_.push_back(pool_->Submit([this, slot, path = std::move(path)]() mutable { return decode_(slot, std::move(path)); }));
}

std::optional<DecodedSound> SoundLoader::Next(bool wait) {
    if (pending_.empty()) return std::nullopt;
    std::future<DecodedSound>& oldest = pending_.front();
    if (!wait && pending_.size() < window_ && oldest.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return std::nullopt;
    DecodedSound sound = oldest.get();
    pending_.pop_front();
    return sound;
}

}  // namespace engine
