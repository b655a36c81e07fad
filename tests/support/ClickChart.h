// A click chart for timing checks: clicks on every beat and every odd sixteenth at 137 beats a
// minute, a tempo change to 180 at measure 2 and a 3/4 measure 3, then 4/4 at 180 to the end;
// and the onsets of the clicks in a rendered or captured mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace testsupport {

// Writes song.bms and its click sounds into `dir`, `measures` measures long (at least 5), and
// returns the song time in milliseconds of each click, in order, as the tempo map gives it.
std::vector<double> WriteClickChart(const std::filesystem::path& dir, int measures);

// The first frame of each run of sound that follows at least 100 quiet frames, in interleaved
// 16-bit stereo (left channel).
std::vector<size_t> FindOnsets(const int16_t* stereo, size_t frames);

}  // namespace testsupport
