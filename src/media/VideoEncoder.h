// Writes a video file from play pictures and mixed sound with FFmpeg: H.264 and AAC in MP4, VP9
// and Opus in WebM, H.264 and FLAC in Matroska. Pictures are enlarged by pixel repetition and
// converted to yuv420p with the colour matrix that the stream states; the encoding runs on a
// thread of its own (and the encoders' threads), so that the caller goes on drawing and mixing.
// The encoders' thread counts are fixed, so the same input gives the same file on any machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gui/Exception.h"

namespace media {

using gui::Exception;
GUI_DECLARE_EXCEPTION(EVideoError, Exception);

enum class VideoKind { Mp4, WebM, Mkv };

// The kind a file name's extension asks for (any letter case), none for other extensions.
std::optional<VideoKind> VideoKindOf(const std::string& path);

// Whether FFmpeg has the encoder of that name; the tests put a stand-in in its place.
using EncoderLookup = std::function<bool(const std::string& name)>;
bool HasEncoder(const std::string& name);

// Empty when every encoder `kind` needs is there; otherwise a message that names the missing
// ones and the kinds that can be written instead.
std::string MissingEncoders(VideoKind kind, const EncoderLookup& has = HasEncoder);

struct VideoSettings {
    VideoKind kind = VideoKind::Mp4;
    int width = 320;   // of the pictures given
    int height = 240;
    int scale = 3;     // each picture pixel becomes scale × scale pixels
    int fps = 60;
    int quality = 3;   // kMinQuality (smallest file) to kMaxQuality (best picture and sound)
    int sampleRate = 44100;  // of the interleaved 16-bit stereo sound given
};

constexpr int kMinQuality = 1;
constexpr int kMaxQuality = 5;
constexpr int kDefaultQuality = 3;

class VideoEncoder {
public:
    // Creates `path` (its extension does not matter: the container is the settings' kind) and
    // sets the encoders up. Raises EVideoError when that fails.
    VideoEncoder(const std::string& path, const VideoSettings& settings);
    // Stops the encoding thread; a file not finished is left incomplete for the caller to remove.
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // The picture (width × height pixels of 00RRGGBB, rows in order) of the next `frames` frames.
    void AddPicture(const uint32_t* xrgb, int64_t frames);
    // The next `frames` frames of sound.
    void AddSound(const int16_t* stereo, size_t frames);
    // Encodes what is left, completes the file and closes it. Raises EVideoError when anything in
    // the encoding or the writing failed (the Add calls raise it too, once it is known).
    void Finish();

    // The size of the pictures in the file.
    int OutputWidth() const;
    int OutputHeight() const;
    // "H.264 and AAC", for messages.
    const char* CodecNames() const;

private:
    class Work;
    std::unique_ptr<Work> work_;
};

}  // namespace media
