#include "media/DXPresenter.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

#include "media/DXDraws.h"

namespace media {

void ConvertForPresentation(const TDirectDrawSurface& surface, const gui::Palette* palette, uint8_t* dest,
                            int destPitch) {
    const int width = surface.Width();
    const int height = surface.Height();
    const uint8_t* source = surface.Bits();
    if (source == nullptr) return;
    const int pitch = surface.Pitch();
    switch (surface.Format()) {
        case gui::PixelFormat::XRGB8888:
            for (int y = 0; y < height; ++y)
                std::memcpy(dest + static_cast<ptrdiff_t>(y) * destPitch, source + static_cast<ptrdiff_t>(y) * pitch,
                            static_cast<size_t>(width) * 4);
            return;
        case gui::PixelFormat::RGB565:
            for (int y = 0; y < height; ++y) {
                const auto* in = reinterpret_cast<const uint16_t*>(source + static_cast<ptrdiff_t>(y) * pitch);
                auto* out = reinterpret_cast<uint32_t*>(dest + static_cast<ptrdiff_t>(y) * destPitch);
                for (int x = 0; x < width; ++x) {
                    const uint32_t p = in[x];
                    const uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
                    out[x] = (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
                }
            }
            return;
        case gui::PixelFormat::Indexed8: {
            std::array<uint32_t, 256> colors{};
            if (palette != nullptr) colors = palette->Entries();
            for (int y = 0; y < height; ++y) {
                const uint8_t* in = source + static_cast<ptrdiff_t>(y) * pitch;
                auto* out = reinterpret_cast<uint32_t*>(dest + static_cast<ptrdiff_t>(y) * destPitch);
                for (int x = 0; x < width; ++x) out[x] = colors[in[x]];
            }
            return;
        }
    }
}

gui::TRect LetterboxRect(int outputWidth, int outputHeight, int width, int height) {
    if (outputWidth <= 0 || outputHeight <= 0 || width <= 0 || height <= 0) return {};
    // The largest whole multiple that fits, so that every picture pixel becomes the same number
    // of screen pixels; an output smaller than the picture gets it shrunk to fit instead.
    const int scale = std::min(outputWidth / width, outputHeight / height);
    int w = 0, h = 0;
    if (scale >= 1) {
        w = width * scale;
        h = height * scale;
    } else {
        w = outputWidth;
        h = static_cast<int>(int64_t{outputWidth} * height / width);
        if (h > outputHeight) {
            h = outputHeight;
            w = static_cast<int>(int64_t{outputHeight} * width / height);
        }
    }
    const int left = (outputWidth - w) / 2;
    const int top = (outputHeight - h) / 2;
    return gui::Bounds(left, top, w, h);
}

TDXPresenter::TDXPresenter(SDL_Renderer* renderer) : renderer_(renderer) {
    SDL_AddEventWatch(&TDXPresenter::EventWatch, this);
}

TDXPresenter::~TDXPresenter() {
    SDL_DelEventWatch(&TDXPresenter::EventWatch, this);
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
}

int TDXPresenter::EventWatch(void* self, SDL_Event* event) {
    if (event->type == SDL_RENDER_TARGETS_RESET || event->type == SDL_RENDER_DEVICE_RESET)
        static_cast<TDXPresenter*>(self)->lost_ = true;
    return 0;
}

bool TDXPresenter::TakeLost() {
    const bool lost = lost_;
    lost_ = false;
    if (lost && texture_ != nullptr) {
        // After a device reset the old texture is no longer usable; make a new one.
        SDL_DestroyTexture(texture_);
        texture_ = nullptr;
    }
    return lost;
}

bool TDXPresenter::Present(const TDirectDrawSurface& surface) {
    if (renderer_ == nullptr || !surface.IsCreated()) return false;
    if (texture_ == nullptr || textureWidth_ != surface.Width() || textureHeight_ != surface.Height()) {
        if (texture_ != nullptr) SDL_DestroyTexture(texture_);
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, surface.Width(),
                                     surface.Height());
        if (texture_ == nullptr) return false;
        SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
        textureWidth_ = surface.Width();
        textureHeight_ = surface.Height();
    }
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture_, nullptr, &pixels, &pitch) != 0) return false;
    ConvertForPresentation(surface, surface.PaletteInForce(), static_cast<uint8_t*>(pixels), pitch);
    SDL_UnlockTexture(texture_);
    int outputWidth = 0, outputHeight = 0;
    if (SDL_GetRendererOutputSize(renderer_, &outputWidth, &outputHeight) != 0) return false;
    const gui::TRect r = LetterboxRect(outputWidth, outputHeight, surface.Width(), surface.Height());
    const SDL_Rect dest{r.Left, r.Top, r.Width(), r.Height()};
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    if (SDL_RenderCopy(renderer_, texture_, nullptr, &dest) != 0) return false;
    SDL_RenderPresent(renderer_);
    return true;
}

}  // namespace media
