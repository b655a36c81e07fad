#include "engine/SoundLoader.h"

#include <chrono>
#include <utility>

#include "gui/Exception.h"
#include "gui/ThreadPool.h"
#include "media/SoundFile.h"

namespace engine {

namespace {

using gui::Exception;
GUI_DECLARE_EXCEPTION(EDecodeStopped, Exception);

// How long a wait for a decode lasts before the progress hook runs again.
constexpr auto kProgressWait = std::chrono::milliseconds(5);

}  // namespace

DecodedSound DecodeSound(int slot, std::filesystem::path path, const std::function<void()>& checkpoint,
                         uint64_t reservedBytes) {
    DecodedSound sound;
    sound.slot = slot;
    sound.path = std::move(path);
    try {
        media::LoadSoundFile(sound.path.string(), sound.wave, checkpoint, reservedBytes);
    } catch (const gui::Exception&) {
        sound.wave.Clear();
        sound.error = std::current_exception();
    }
    return sound;
}

SoundLoader::SoundLoader(unsigned threads, std::function<void()> progress, Decoder decode)
    : progress_(std::move(progress)), decode_(std::move(decode)), threads_(threads) {
    // A few sounds per worker: the decoded sounds not yet applied never take more than a few
    // sounds' worth of memory, whatever the chart, and while one worker decodes a long sound the
    // others go on with the short ones after it instead of waiting for it.
    if (threads > 1) window_ = static_cast<size_t>(threads) * 8;
}

SoundLoader::~SoundLoader() { stopping_ = true; }

void SoundLoader::Add(int slot, std::filesystem::path path, uint64_t reservedBytes) {
    if (threads_ <= 1) {
        std::promise<DecodedSound> done;
        done.set_value(decode_(slot, std::move(path), progress_, reservedBytes));
        pending_.push_back(done.get_future());
        return;
    }
    // The workers start with the first sound: a chart without sounds starts none.
    if (!pool_) pool_ = std::make_unique<gui::ThreadPool>(threads_);
    pending_.push_back(pool_->Submit([this, slot, path = std::move(path), reservedBytes]() mutable {
        return decode_(
            slot, std::move(path),
            [this] {
                if (stopping_) throw EDecodeStopped("decode stopped");
            },
            reservedBytes);
    }));
}

std::optional<DecodedSound> SoundLoader::Next(bool wait) {
    if (pending_.empty()) return std::nullopt;
    std::future<DecodedSound>& oldest = pending_.front();
    if (!wait && pending_.size() < window_ && oldest.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return std::nullopt;
    if (progress_)
        while (oldest.wait_for(kProgressWait) != std::future_status::ready) progress_();
    DecodedSound sound = oldest.get();
    pending_.pop_front();
    return sound;
}

}  // namespace engine
