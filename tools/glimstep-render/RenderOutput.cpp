#include "RenderOutput.h"

#include <cstring>

#include "gui/Graphics.h"
#include "media/DXDraws.h"

RenderOutput::RenderOutput(const std::string& path, int sampleRate, const std::optional<media::VideoSettings>& video)
    : settings_(video) {
    if (!video) {
        wav_ = std::make_unique<media::TWaveStream>(path);
        media::TWaveFormatEx format;
        media::MakePcmFormat(format, sampleRate, 16, 2);
        wav_->SetFormat(format);
        wav_->Open();
        return;
    }
    media::VideoSettings settings = *video;
    settings.sampleRate = sampleRate;
    video_ = std::make_unique<media::VideoEncoder>(path, settings);
    picture_.assign(static_cast<size_t>(settings.width) * settings.height, 0);
}

void RenderOutput::Sound(const int16_t* stereo, size_t frames) {
    if (video_) video_->AddSound(stereo, frames);
    else wav_->Write(stereo, frames * 2 * sizeof(int16_t));
}

void RenderOutput::Picture(const media::TDirectDrawSurface& surface) {
    if (!video_) return;
    const gui::PixelBuffer buffer = surface.Buffer();
    const int width = std::min(buffer.width, settings_->width), height = std::min(buffer.height, settings_->height);
    for (int y = 0; y < height; ++y) {
        uint32_t* row = picture_.data() + static_cast<size_t>(y) * settings_->width;
        if (buffer.format == gui::PixelFormat::XRGB8888) {
            std::memcpy(row, buffer.Row(y), static_cast<size_t>(width) * 4);
        } else {
            for (int x = 0; x < width; ++x) row[x] = gui::PixelToXrgb(buffer.Get(x, y), buffer.format, buffer.palette);
        }
    }
}

void RenderOutput::ShowUntil(uint64_t frame) {
    if (!video_ || frame <= shown_) return;
    video_->AddPicture(picture_.data(), static_cast<int64_t>(frame - shown_));
    shown_ = frame;
}

void RenderOutput::Finish() {
    if (video_) video_->Finish();
    else wav_->Close();
}

std::string RenderOutput::Description() const {
    if (!video_) return "WAV";
    return std::string(video_->CodecNames()) + ", " + std::to_string(video_->OutputWidth()) + "x" +
           std::to_string(video_->OutputHeight()) + " at " + std::to_string(settings_->fps) + " fps";
}
