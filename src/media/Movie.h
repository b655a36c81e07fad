// Movie backgrounds: a chart picture slot whose file is a movie. FFmpeg decodes its video stream
// (the audio is ignored); each picture is placed on the 320×240 screen by the same fit rectangle
// as a chart picture, mapped to the slot surface's pixel format, and copied into that surface when
// it is due. A movie shows its first picture until it is started; then the picture for the time
// elapsed since the start; after its end, its last picture. The slots that name one file share
// its source (MovieSource); each plays it by its timing's strategy (MoviePlayback). All of that
// lives in the movie module (MovieBackend), loaded with the first movie.
#pragma once

#include <memory>
#include <string>

#include "gui/Graphics.h"
#include "media/MovieDecoder.h"

namespace media {

class TDirectDrawSurface;
class MovieBackend;

class Movie {
public:
    // Ahead: a worker thread decodes a few pictures ahead, and Show never waits for it (pictures
    // it cannot deliver in time are skipped). Exact: Show decodes on the calling thread exactly
    // the picture for the time asked, the same on every run (the offline renderer).
    enum class Timing { Ahead, Exact };

    // Opens the file (or finds it open for another slot) and decodes its first picture. Raises
    // EMovieError when it is no movie we play: not a regular file, not in a movie container, no
    // video stream in a codec we take, a picture larger than kMaxMoviePixels, or none that decodes;
    // also when the movie module cannot be loaded.
    Movie(const std::string& path, Timing timing);
    ~Movie();
    Movie(const Movie&) = delete;
    Movie& operator=(const Movie&) = delete;

    // The size of the movie's pictures, which the fit rectangle is computed from.
    int Width() const;
    int Height() const;
    // How long the movie runs, in milliseconds; 0 when its file does not tell.
    double DurationMs() const;

    // Puts the pictures into `surface` (a 320×240 slot surface, which must outlive the movie),
    // placed at `fit` like a chart picture, and shows the first one. Call once, before the rest.
    void ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit);
    // Starts from the first picture, which is shown at once.
    void Restart();
    // Shows the picture due `elapsedMs` after the last Restart (nothing before the first one).
    void Show(double elapsedMs);

    // What the movies of the process hold, for tests of the bounds: the files open, the decoders
    // open, the decode workers running, and the pictures decoded so far.
    struct Counts {
        int files = 0;
        int decoders = 0;
        int workers = 0;
        int64_t pictures = 0;
    };
    static Counts Current();

private:
    std::unique_ptr<MovieBackend> backend_;
};

}  // namespace media
