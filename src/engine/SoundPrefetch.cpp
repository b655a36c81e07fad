#include "engine/SoundPrefetch.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "engine/ChartLoad.h"
#include "engine/MediaLoader.h"
#include "engine/Reading.h"
#include "gui/BmpDecode.h"
#include "gui/Exception.h"
#include "gui/FileNames.h"
#include "media/SoundFile.h"

namespace engine {
namespace {

using gui::Exception;
GUI_DECLARE_EXCEPTION(EPrefetchStopped, Exception);

bool IsSoundLine(std::string_view line) {
    if (line.size() < 4 || line[0] != '#') return false;
    for (size_t i = 1; i < 4; ++i)
        if (static_cast<char>(line[i] & ~0x20) != "#WAV"[i]) return false;
    return true;
}

}  // namespace

std::vector<std::string> SoundLinesOfChart(const std::filesystem::path& chart) {
    std::vector<uint8_t> bytes;
    try {
        bytes = gui::bmp::ReadFileBytes(chart.string(), kMaxChartFileBytes, "chart file");
    } catch (const gui::Exception&) {
        return {};
    }
    const std::string_view text = ChartText(bytes);
    const ChartEncoding encoding{gui::DetectTextEncoding(text)};
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
        const std::string_view line = text.substr(start, i - start);
        // A line without a name names no file.
        if (IsSoundLine(line) && line.size() > 7) names.emplace_back(encoding.Cut(line.substr(7), 100));
        start = i + 1;
    }
    return names;
}

SoundPrefetch::SoundPrefetch(std::filesystem::path chart, unsigned threads, SoundLoader::Decoder decode)
    : decode_(std::move(decode)) {
    threads = std::max(threads, 1u);
    // The first worker reads the chart, then decodes with the others.
    workers_.emplace_back([this, chart = std::move(chart)] {
        Scan(chart);
        Work();
    });
    for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

SoundPrefetch::~SoundPrefetch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void SoundPrefetch::Scan(const std::filesystem::path& chart) {
    const std::vector<std::string> names = SoundLinesOfChart(chart);
    const std::filesystem::path folder = chart.parent_path();
    const gui::ChartFolderCache folderCache;
    for (const std::string& name : names) {
        const std::filesystem::path path = gui::FindChartFileOrAlternative(folder, name, kSoundExtensions);
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) break;
        if (path.empty()) continue;
        Entry& entry = entries_.emplace_back();
        entry.path = path;
        byPath_[path].push_back(&entry);
        changed_.notify_one();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    scanned_ = true;
    changed_.notify_all();
}

SoundPrefetch::Entry* SoundPrefetch::NextQueued(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        if (stopping_) return nullptr;
        while (next_ < entries_.size() && entries_[next_].state != Entry::State::Queued) ++next_;
        if (next_ < entries_.size() && heldBytes_ < kMaxHeldBytes) return &entries_[next_++];
        if (scanned_ && next_ >= entries_.size()) return nullptr;
        changed_.wait(lock);
    }
}

void SoundPrefetch::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (Entry* entry = NextQueued(lock)) {
        // Only a sound whose headers give its size, and that fits beside what is held, is decoded
        // ahead: the load decodes the rest itself, under its own budget. A sound the load takes
        // while its headers are read is decoded there too.
        entry->state = Entry::State::Probing;
        const std::filesystem::path path = entry->path;
        lock.unlock();
        media::SoundShape shape;
        const bool sized = media::ProbeSoundFile(path.string(), shape);
        const int64_t need = static_cast<int64_t>(std::min<uint64_t>(shape.dataBytes, kMaxHeldBytes)) +
                             static_cast<int64_t>(std::min<uint64_t>(shape.fileBytes, kMaxHeldBytes));
        lock.lock();
        if (entry->state != Entry::State::Probing) continue;
        if (!sized || heldBytes_ + need > kMaxHeldBytes) {
            entry->state = Entry::State::Taken;
            continue;
        }
        entry->state = Entry::State::Decoding;
        heldBytes_ += need;
        lock.unlock();
        DecodedSound sound;
        try {
            sound = decode_(0, path, [this] {
                std::lock_guard<std::mutex> stopLock(mutex_);
                if (stopping_) throw EPrefetchStopped("decode stopped");
            }, shape.dataBytes);
        } catch (...) {
            sound = DecodedSound();
            sound.path = path;
            sound.error = std::current_exception();
        }
        lock.lock();
        heldBytes_ -= need;
        changed_.notify_all();
        if (entry->claim) {
            sound.slot = entry->claimSlot;
            entry->claim->set_value(std::move(sound));
            entry->claim.reset();
            entry->state = Entry::State::Taken;
        } else {
            entry->bytes = static_cast<int64_t>(sound.wave.Size());
            heldBytes_ += entry->bytes;
            entry->sound = std::move(sound);
            entry->state = Entry::State::Decoded;
        }
    }
}

std::optional<std::future<DecodedSound>> SoundPrefetch::Take(int slot, const std::filesystem::path& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = byPath_.find(path);
    if (found == byPath_.end() || found->second.empty()) return std::nullopt;
    Entry& entry = *found->second.front();
    found->second.pop_front();
    switch (entry.state) {
        case Entry::State::Decoding:
            entry.claimSlot = slot;
            return entry.claim.emplace().get_future();
        case Entry::State::Decoded: {
            std::promise<DecodedSound> done;
            entry.sound.slot = slot;
            done.set_value(std::move(entry.sound));
            entry.sound = DecodedSound();
            heldBytes_ -= entry.bytes;
            entry.state = Entry::State::Taken;
            changed_.notify_all();
            return done.get_future();
        }
        case Entry::State::Queued:
        case Entry::State::Probing:
        case Entry::State::Taken:
            break;
    }
    // Not begun here: the caller decodes it.
    entry.state = Entry::State::Taken;
    return std::nullopt;
}

}  // namespace engine
