// What glimstep-render writes its render into: a WAV file of the sound, or a video file of the
// play's pictures and its sound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/VideoEncoder.h"
#include "media/Wave.h"

namespace media {
class TDirectDrawSurface;
}

class RenderOutput {
public:
    // Opens `path` for writing: a WAV file without `video`, else a video file of its kind.
    RenderOutput(const std::string& path, int sampleRate, const std::optional<media::VideoSettings>& video);

    bool IsVideo() const { return video_ != nullptr; }
    void Sound(const int16_t* stereo, size_t frames);
    // The picture on `surface` is the one shown from the next frame on.
    void Picture(const media::TDirectDrawSurface& surface);
    // Frames up to `frame` (not included) show the picture last given, black before the first.
    void ShowUntil(uint64_t frame);
    // Completes and closes the file.
    void Finish();
    // "H.264 and AAC, 960x720 at 60 fps" for a video.
    std::string Description() const;

private:
    std::unique_ptr<media::TWaveStream> wav_;
    std::unique_ptr<media::VideoEncoder> video_;
    std::optional<media::VideoSettings> settings_;
    std::vector<uint32_t> picture_;
    uint64_t shown_ = 0;
};
