// One movie file as the chart slots that name it share it: its size and first timestamp, its first
// picture on the screen (made once for each fit and pixel format), and a decoder that the slot
// playing it borrows and hands back. The files open in the process are found by their identity, so
// that every slot naming a file gets the same source.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gui/Graphics.h"
#include "media/MovieDecoder.h"

struct AVFrame;

namespace media {

class MovieSource : public std::enable_shared_from_this<MovieSource> {
public:
    // The source of the file at `path`, shared with every other Movie of it with the same timing.
    // Raises EMovieError when the file is no movie we play.
    static std::shared_ptr<MovieSource> Of(const std::string& path, bool exact);
    // The sources alive in the process, for tests of the sharing.
    static int OpenCount();

    MovieSource(std::string path, bool exact, std::unique_ptr<MovieDecoder> decoder);
    ~MovieSource();
    MovieSource(const MovieSource&) = delete;
    MovieSource& operator=(const MovieSource&) = delete;

    const std::string& Path() const { return path_; }
    bool Exact() const { return exact_; }
    const MovieInfo& Info() const { return info_; }

    // The first picture on a screen for `fit` in `format`.
    std::shared_ptr<const std::vector<uint8_t>> FirstScreen(const gui::TRect& fit, gui::PixelFormat format,
                                                           const gui::Palette* palette);
    // The decoder that no slot holds, if any.
    std::unique_ptr<MovieDecoder> TakeDecoder();
    // A new decoder at the start of the movie; null when the file can no longer be opened.
    std::unique_ptr<MovieDecoder> NewDecoder() const;
    // A decoder a slot no longer needs: kept for the next slot of the file, within a small number
    // kept in the whole process.
    void ReturnDecoder(std::unique_ptr<MovieDecoder> decoder);

private:
    struct Screen {
        gui::TRect fit;
        gui::PixelFormat format;
        std::array<uint32_t, 256> palette;
        std::shared_ptr<const std::vector<uint8_t>> pixels;
    };

    std::unique_ptr<MovieDecoder> DropSpare();

    const std::string path_;
    const bool exact_;
    MovieInfo info_;
    std::mutex mutex_;
    AVFrame* first_ = nullptr;
    std::vector<Screen> screens_;
    std::unique_ptr<MovieDecoder> spare_;
};

}  // namespace media
