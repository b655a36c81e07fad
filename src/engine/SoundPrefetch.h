// Decodes the sounds a chart names before its load reaches them: started as the program starts,
// it works while the window, the renderer and the fonts come up, and the load takes its results
// instead of decoding those files again. What the load never asks for is dropped with it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/SoundLoader.h"

namespace engine {

// The file names of the chart's #WAV lines, in file order, as both readings take them; empty for
// a file that cannot be read or is larger than any chart.
std::vector<std::string> SoundLinesOfChart(const std::filesystem::path& chart);

class SoundPrefetch {
public:
    // Decoded sounds not yet taken, and the decodes under way, are held up to this many bytes
    // (as their headers give them); then the decoding waits. A sound larger than that is left to
    // the load.
    static constexpr int64_t kMaxHeldBytes = int64_t{256} << 20;

    // Reads the chart's #WAV lines and decodes their files, from the first, on `threads` threads
    // (at least one). `decode` reads each file (DecodeSound; tests slow one down).
    SoundPrefetch(std::filesystem::path chart, unsigned threads, SoundLoader::Decoder decode = DecodeSound);
    // Stops the decodes under way at their next chunk and drops what was not taken.
    ~SoundPrefetch();
    SoundPrefetch(const SoundPrefetch&) = delete;
    SoundPrefetch& operator=(const SoundPrefetch&) = delete;

    // The sound of `path` for `slot` when a decode of that file was begun here and not taken yet
    // (the oldest such); nothing when the caller must decode the file itself.
    std::optional<std::future<DecodedSound>> Take(int slot, const std::filesystem::path& path);

private:
    struct Entry {
        enum class State { Queued, Probing, Decoding, Decoded, Taken };
        std::filesystem::path path;
        State state = State::Queued;
        DecodedSound sound;
        int64_t bytes = 0;
        // Set when the load took the entry while it was being decoded.
        std::optional<std::promise<DecodedSound>> claim;
        int claimSlot = 0;
    };

    void Scan(const std::filesystem::path& chart);
    void Work();
    // The next entry to decode, or null once there is none or the prefetch stops.
    Entry* NextQueued(std::unique_lock<std::mutex>& lock);

    SoundLoader::Decoder decode_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry> entries_;
    // Per file, the entries not yet taken, oldest first.
    std::map<std::filesystem::path, std::deque<Entry*>> byPath_;
    size_t next_ = 0;
    int64_t heldBytes_ = 0;
    bool scanned_ = false;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace engine
