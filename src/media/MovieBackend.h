// What crosses into the movie module (FFmpeg): opening a slot's movie, the slot's movie itself,
// and the counts of what the movies of the process hold.
#pragma once

#include <memory>
#include <string>

#include "gui/Graphics.h"
#include "media/Movie.h"

namespace media {

class TDirectDrawSurface;

// One slot's movie, as Movie describes it.
class MovieBackend {
public:
    virtual ~MovieBackend() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // The file's own duration; 0 when it states none.
    virtual double DurationMs() const = 0;
    virtual void ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit) = 0;
    virtual void Restart() = 0;
    virtual void Show(double elapsedMs) = 0;
};

struct MovieModule {
    static constexpr unsigned kVersion = 2;
    // Raises EMovieError when the file is no movie we play.
    std::unique_ptr<MovieBackend> (*open)(const std::string& path, Movie::Timing timing);
    Movie::Counts (*current)();
};

}  // namespace media
