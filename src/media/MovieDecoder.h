// The video stream of one movie file, decoded picture by picture. Only movies are opened: regular
// files in the containers of movie backgrounds with the video codecs they use, at most
// kMaxMoviePixels a picture. Every open, read and seek has a deadline, so that no file can keep
// the caller waiting for long.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "gui/Exception.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVIOContext;
struct AVPacket;
struct AVFrame;

namespace media {

using gui::Exception;
GUI_DECLARE_EXCEPTION(EMovieError, Exception);

// The largest movie picture taken: 4096×2304 holds 4K UHD (3840×2160) and DCI 4K (4096×2160),
// beyond anything a chart package carries for a 320×240 screen; one such picture and a decoder's
// reference pictures stay within tens of megabytes, while an 8K picture alone is 50 MB.
constexpr int kMaxMovieSide = 4096;
constexpr int64_t kMaxMoviePixels = int64_t{4096} * 2304;

// What a movie's first picture tells, shared by every decoder of the file.
struct MovieInfo {
    int width = 0;
    int height = 0;
    // The first timestamp of the stream's pictures, from which their times count, once one was seen.
    bool timed = false;
    int64_t firstTs = 0;
    // How long the movie runs, in microseconds, as its container tells; 0 when it does not.
    int64_t durationUs = 0;
};

class MovieDecoder {
public:
    // Opens `path` and, with `known` null, decodes the first picture to learn the movie's size and
    // first timestamp (kept in FirstPicture until taken). Raises EMovieError when the file is no
    // movie we play.
    MovieDecoder(const std::string& path, bool exact, const MovieInfo* known = nullptr);
    ~MovieDecoder();
    MovieDecoder(const MovieDecoder&) = delete;
    MovieDecoder& operator=(const MovieDecoder&) = delete;

    const MovieInfo& Info() const { return info_; }
    // The first picture decoded by the opening, or null when taken or not decoded; the caller owns it.
    AVFrame* TakeFirstPicture();

    // The next picture into `frame`, with its time in microseconds from the first picture (never
    // earlier than the one before). False at the end of the stream, where damage ends it, or when
    // the reads for it overran their deadline.
    bool Next(AVFrame* frame, int64_t& us);
    // Goes back to the keyframe at or before `us`: the next picture is that keyframe. False when
    // the file cannot seek; the decoder must then be opened anew.
    bool SeekTo(int64_t us);
    // Whether to drop the pictures that no other picture is predicted from.
    void SkipDisposable(bool skip);
    // Whether nothing was read since the opening: the next picture is the movie's first (or, for
    // the decoder that found the first picture, the one after it).
    bool AtStart() const { return atStart_; }

    // The decoders open in the process, for tests of the bounds.
    static int OpenCount();
    // The pictures decoded in the process, for tests of the work done.
    static int64_t PictureCount();

private:
    void Open(const std::string& path, const MovieInfo* known);
    void Close();
    void StartDeadline(int64_t budgetMs);
    bool Expired() const;
    bool ReadPicture(AVFrame* frame, int64_t& us);
    int64_t TimeOf(int64_t ts);
    static int Interrupted(void* self);
    static int Read(void* self, uint8_t* buffer, int size);
    static int64_t Seek(void* self, int64_t offset, int whence);

    bool exact_;
    int fd_ = -1;
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* first_ = nullptr;
    int stream_ = -1;
    int timeBaseNum_ = 1;
    int timeBaseDen_ = 1;
    int64_t pictureUs_ = 0;
    MovieInfo info_;
    int64_t lastUs_ = -1;
    // After a seek: pictures are dropped until a keyframe with a timestamp, and then those before it.
    bool seeking_ = false;
    int64_t seekTs_ = 0;
    bool draining_ = false;
    bool atStart_ = true;
    std::atomic<int64_t> deadlineNs_{0};
};

}  // namespace media
