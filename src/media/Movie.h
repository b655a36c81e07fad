// Movie backgrounds: a chart picture slot whose file is a movie. FFmpeg decodes its video stream
// (the audio is ignored); each picture is placed on the 320×240 screen by the same fit rectangle
// and nearest-neighbour copy as a chart picture, mapped to the slot surface's pixel format, and
// copied into that surface when it is due. A movie shows its first picture until it is started;
// then the picture for the time elapsed since the start; after its end, its last picture.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gui/Exception.h"
#include "gui/Graphics.h"

struct AVFrame;

namespace media {

class TDirectDrawSurface;
class MovieDecoder;
class MovieScreen;

using gui::Exception;
GUI_DECLARE_EXCEPTION(EMovieError, Exception);

class Movie {
public:
    // Ahead: a worker thread decodes a few pictures ahead, and Show never waits for it (pictures
    // it cannot deliver in time are skipped). Exact: Show decodes on the calling thread exactly
    // the picture for the time asked, the same on every run (the offline renderer).
    enum class Timing { Ahead, Exact };

    // Opens the file and decodes its first picture; the file is closed again until the movie is
    // started. Raises EMovieError when it has no video stream of which a picture decodes.
    Movie(const std::string& path, Timing timing);
    ~Movie();
    Movie(const Movie&) = delete;
    Movie& operator=(const Movie&) = delete;

    // The size of the movie's pictures, which the fit rectangle is computed from.
    int Width() const { return width_; }
    int Height() const { return height_; }

    // Puts the pictures into `surface` (a 320×240 slot surface, which must outlive the movie),
    // placed at `fit` like a chart picture, and shows the first one. Call once, before the rest.
    void ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit);
    // Starts from the first picture, which is shown at once.
    void Restart();
    // Shows the picture due `elapsedMs` after the last Restart (nothing before the first one).
    void Show(double elapsedMs);

private:
    struct Picture {
        int64_t us = 0;
        std::vector<uint8_t> pixels;
    };

    void Put(const std::vector<uint8_t>& pixels);
    void ShowExact(int64_t us);
    void ShowAhead(int64_t us);
    void Work();
    std::vector<uint8_t> SparePixels();

    std::string path_;
    Timing timing_;
    int width_ = 0;
    int height_ = 0;
    TDirectDrawSurface* surface_ = nullptr;
    std::unique_ptr<MovieScreen> screen_;
    std::vector<uint8_t> first_;
    bool started_ = false;
    std::atomic<bool> stop_{false};

    // Exact: the decoder, the picture last shown and the next one, already decoded.
    std::unique_ptr<MovieDecoder> decoder_;
    AVFrame* shown_ = nullptr;
    AVFrame* next_ = nullptr;
    int64_t nextUs_ = 0;
    bool haveNext_ = false;
    bool ended_ = false;
    std::vector<uint8_t> converted_;

    // Ahead: the worker and what it shares with Show, under mutex_.
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Picture> queue_;
    std::vector<std::vector<uint8_t>> spare_;
    uint64_t generation_ = 0;
    int64_t wantedUs_ = 0;
    bool workerDone_ = false;
};

}  // namespace media
