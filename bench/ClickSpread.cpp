// How exactly glimstep-render starts key sounds: renders the click chart of the tests (137 BPM,
// clicks on every beat and odd sixteenth, a tempo change and a 3/4 measure) at three speeds and
// prints, for each, how far the clicks start from the tempo map's times relative to the first.
//     bench_click_spread path/to/glimstep-render
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/Wave.h"
#include "support/ClickChart.h"
#include "support/TestFiles.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_click_spread path/to/glimstep-render\n");
        return 2;
    }
    const std::string renderer = argv[1];
    testsupport::TempDir dir;
    const std::vector<double> times = testsupport::WriteClickChart(dir.Path(), 7);
    for (int speed : {100, 75, 150}) {
        const auto out = dir / "clicks.wav";
        const std::string command = "'" + renderer + "' '" + (dir / "song.bms").string() + "' --speed " +
                                    std::to_string(speed) + " -o '" + out.string() + "' > /dev/null";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "bench_click_spread: %s failed\n", renderer.c_str());
            return 1;
        }
        media::TWave wave;
        wave.LoadFromFile(out.string());
        const auto* mix = reinterpret_cast<const int16_t*>(wave.Data());
        const std::vector<size_t> onsets = testsupport::FindOnsets(mix, wave.Size() / 4);
        if (onsets.size() != times.size()) {
            std::fprintf(stderr, "bench_click_spread: %zu clicks heard, %zu in the chart\n", onsets.size(), times.size());
            return 1;
        }
        double early = 0, late = 0;
        for (size_t i = 1; i < onsets.size(); ++i) {
            const double expected = (times[i] - times[0]) * 100 / speed * 44.1;
            const double error = static_cast<double>(onsets[i] - onsets[0]) - expected;
            early = std::min(early, error);
            late = std::max(late, error);
        }
        std::printf("speed %d: %zu clicks, from %.1f to %.1f samples (%.2f to %.2f ms), spread %.2f ms\n", speed,
                    onsets.size(), early, late, early / 44.1, late / 44.1, (late - early) / 44.1);
    }
    return 0;
}
