// Puts a back surface on the screen through an SDL renderer: converts it into a streaming
// texture and draws it centred, scaled by the largest whole multiple that fits the output
// (black bars, nearest pixel). The only display file of the media layer that talks to SDL.
#pragma once

#include <cstdint>

#include "gui/Graphics.h"

struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

namespace media {

class TDirectDrawSurface;

// Converts a surface's pixels to 00RRGGBB rows (`destPitch` bytes apart) through `palette` at
// 8 bits. Plain code, used by the presenter and measured by the benchmarks.
void ConvertForPresentation(const TDirectDrawSurface& surface, const gui::Palette* palette, uint8_t* dest,
                            int destPitch);

// The centred destination rectangle of a picture of `width` × `height` in an output: scaled by
// the largest whole multiple that fits, or, in an output smaller than the picture, shrunk to fit
// with its shape kept.
gui::TRect LetterboxRect(int outputWidth, int outputHeight, int width, int height);

class TDXPresenter {
public:
    explicit TDXPresenter(SDL_Renderer* renderer);
    ~TDXPresenter();
    TDXPresenter(const TDXPresenter&) = delete;
    TDXPresenter& operator=(const TDXPresenter&) = delete;

    // Shows the surface; false when the renderer refuses (the picture is then lost).
    bool Present(const TDirectDrawSurface& surface);
    // True once after SDL reported that render targets or the device were reset.
    bool TakeLost();

private:
    SDL_Renderer* renderer_;
    SDL_Texture* texture_ = nullptr;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    bool lost_ = false;
    static int EventWatch(void* self, SDL_Event* event);
};

}  // namespace media
