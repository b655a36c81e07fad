// Feeds arbitrary bytes to the movie path of a chart picture slot: opened as a file (through a
// memory file descriptor) past the allow-lists and probed, its first picture fitted into a 320×240
// surface, then played through exactly as glimstep-render plays it, restarted, and played again;
// a second slot of the same file, fitted elsewhere, starts far into the movie (a seek).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/DXDraws.h"
#include "media/Movie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("movie", 0);
    if (fd < 0) return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    media::TDirectDraw directDraw(gui::PixelFormat::Indexed8);
    media::TDirectDrawSurface surface(&directDraw);
    surface.SetSize(320, 240);
    try {
        media::Movie movie(path, media::Movie::Timing::Exact);
        if (movie.Width() <= 0 || movie.Height() <= 0) __builtin_trap();
        movie.ShowOn(surface, gui::Rect(-10, -20, 330, 250));
        for (int round = 0; round < 2; ++round) {
            movie.Restart();
            for (const double ms : {0.0, 33.0, 500.0, 1e4, 1e12}) movie.Show(ms);
        }
        media::TDirectDrawSurface other(&directDraw);
        other.SetSize(320, 240);
        media::Movie second(path, media::Movie::Timing::Exact);
        second.ShowOn(other, gui::Rect(0, 0, 320, 240));
        second.Restart();
        for (const double ms : {5000.0, 5040.0, 1e12}) second.Show(ms);
    } catch (const media::EMovieError&) {
    }
    close(fd);
    return 0;
}
