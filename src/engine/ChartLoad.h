// What a chart load is asked to do (LoadOptions) and what it reports (LoadResult).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ControlFlow.h"
#include "media/Movie.h"

namespace engine {

class SoundPrefetch;

// The most decoded sound one chart may hold; a sound that would go past it is refused.
constexpr int64_t kMaxChartSoundBytes = int64_t{2} << 30;
// The largest chart file read: far beyond any chart written by hand or by an editor.
constexpr uint64_t kMaxChartFileBytes = uint64_t{64} << 20;

struct LoadOptions {
    // Read the chart in the extended dialect (ExtendedReader) instead of the fixed one.
    bool Extended = false;
    // Draws the value of each #RANDOM and #SWITCH of the extended reading, 1 to n; when empty,
    // the load seeds a generator from the system's entropy.
    RandomDraw DrawRandom;
    // Threads that decode the sounds; 0 = one per hardware thread, 1 = none beside the loading one.
    unsigned LoadThreads = 0;
    int64_t MaxSoundBytes = kMaxChartSoundBytes;
    // The measure play starts from: above 0, the sounds are decoded once the chart is timed, and
    // those that have ended before that measure are not decoded at all.
    int32_t StartMeasure = 0;
    // Movies decode a few pictures ahead on a worker thread, or exactly the picture for each
    // time asked on the calling thread (the offline renderer, the same on every run).
    media::Movie::Timing MovieTiming = media::Movie::Timing::Ahead;
    // Called every few milliseconds of work while a chart is read and timed, so that the caller
    // can keep its window answering. Returning false abandons the load.
    std::function<bool()> OnProgress;
    // Sounds of this chart decoded ahead of the load (the next load takes them, and drops the rest).
    std::shared_ptr<SoundPrefetch> Prefetch;
};

// Where a load that failed stopped.
enum class LoadStep : uint8_t {
    None,       // it did not fail
    File,       // the chart file could not be read
    Lines,      // while its lines were read and the sounds they name decoded
    TimeTable,  // while it was timed
};

// A chart line that a reading gave up (the rest of it, from where it failed).
struct DroppedLine {
    int32_t Line = 0;  // counted from 1
    std::string Reason;
    bool operator==(const DroppedLine&) const = default;
};

struct LoadResult {
    // Dropped lines kept; a chart of broken lines counts the rest without keeping them.
    static constexpr size_t kMaxDroppedLines = 1000;

    bool Loaded = false;
    LoadStep FailedStep = LoadStep::None;
    // The caller's progress hook asked to stop.
    bool Abandoned = false;
    // Why it failed, for a person who can mend the chart; empty when it loaded.
    std::string Message;
    // The lines dropped, in line order, and how many there were in all.
    std::vector<DroppedLine> Dropped;
    size_t DroppedCount = 0;

    explicit operator bool() const { return Loaded; }
};

}  // namespace engine
