#include "media/MovieSource.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <tuple>
#include <utility>

#include "media/MovieScreen.h"

namespace media {
namespace {

// Decoders kept by sources while no slot plays them: enough for the two slots shown at once to
// switch between files without opening them anew, and few enough to hold little memory however
// many files a chart names.
constexpr size_t kSpareDecoders = 2;

// A file is the same while its device, inode, size and modification time are.
using FileKey = std::tuple<dev_t, ino_t, off_t, int64_t, int64_t, bool>;

struct Registry {
    std::mutex mutex;
    std::map<FileKey, std::weak_ptr<MovieSource>> sources;
    // The sources holding a spare decoder, the oldest first.
    std::deque<std::weak_ptr<MovieSource>> spares;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::atomic<int> liveSources{0};

}  // namespace

std::shared_ptr<MovieSource> MovieSource::Of(const std::string& path, bool exact) {
    struct stat st {};
    const bool known = ::stat(path.c_str(), &st) == 0;
    const FileKey key{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, exact};
    Registry& registry = TheRegistry();
    if (known) {
        std::lock_guard lock(registry.mutex);
        if (auto found = registry.sources.find(key); found != registry.sources.end())
            if (auto source = found->second.lock()) return source;
    }
    // Opened outside the lock: an open may take up to its deadline.
    auto source = std::make_shared<MovieSource>(path, exact, std::make_unique<MovieDecoder>(path, exact));
    source->ReturnDecoder(source->TakeDecoder());
    if (known) {
        std::lock_guard lock(registry.mutex);
        std::erase_if(registry.sources, [](const auto& entry) { return entry.second.expired(); });
        auto& slot = registry.sources[key];
        if (auto other = slot.lock()) return other;
        slot = source;
    }
    return source;
}

int MovieSource::OpenCount() { return liveSources.load(); }

MovieSource::MovieSource(std::string path, bool exact, std::unique_ptr<MovieDecoder> decoder)
    : path_(std::move(path)), exact_(exact), info_(decoder->Info()), first_(decoder->TakeFirstPicture()),
      spare_(std::move(decoder)) {
    ++liveSources;
}

MovieSource::~MovieSource() {
    av_frame_free(&first_);
    --liveSources;
}

std::shared_ptr<const std::vector<uint8_t>> MovieSource::FirstScreen(const gui::TRect& fit, gui::PixelFormat format,
                                                                     const gui::Palette* palette) {
    std::array<uint32_t, 256> entries{};
    if (palette != nullptr) entries = palette->Entries();
    std::lock_guard lock(mutex_);
    for (const Screen& screen : screens_)
        if (screen.fit == fit && screen.format == format && screen.palette == entries) return screen.pixels;
    auto pixels = std::make_shared<std::vector<uint8_t>>();
    MovieScreen mapping(fit, format, palette, exact_);
    if (first_ != nullptr) {
        mapping.Convert(*first_, *pixels);
        // The full-size picture is not kept: another fit decodes it again.
        av_frame_free(&first_);
    } else {
        try {
            MovieDecoder decoder(path_, exact_);
            AVFrame* frame = decoder.TakeFirstPicture();
            mapping.Convert(*frame, *pixels);
            av_frame_free(&frame);
        } catch (const EMovieError&) {
            // A file gone since it was opened leaves the screen black.
            mapping.Convert(AVFrame{}, *pixels);
        }
    }
    screens_.push_back({fit, format, entries, pixels});
    return pixels;
}

std::unique_ptr<MovieDecoder> MovieSource::TakeDecoder() {
    std::lock_guard lock(mutex_);
    return std::move(spare_);
}

std::unique_ptr<MovieDecoder> MovieSource::DropSpare() { return TakeDecoder(); }

std::unique_ptr<MovieDecoder> MovieSource::NewDecoder() const {
    try {
        return std::make_unique<MovieDecoder>(path_, exact_, &info_);
    } catch (const EMovieError&) {
        return nullptr;
    }
}

void MovieSource::ReturnDecoder(std::unique_ptr<MovieDecoder> decoder) {
    if (!decoder) return;
    {
        std::lock_guard lock(mutex_);
        if (spare_) return;  // one kept is enough; the other closes here
        spare_ = std::move(decoder);
    }
    std::vector<std::shared_ptr<MovieSource>> evicted;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        auto& spares = registry.spares;
        std::erase_if(spares, [this](const std::weak_ptr<MovieSource>& s) {
            const auto source = s.lock();
            return !source || source.get() == this;
        });
        spares.push_back(weak_from_this());
        while (spares.size() > kSpareDecoders) {
            if (auto source = spares.front().lock()) evicted.push_back(std::move(source));
            spares.pop_front();
        }
    }
    for (const auto& source : evicted) source->DropSpare();
}

}  // namespace media
