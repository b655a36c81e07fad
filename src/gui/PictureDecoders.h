// What crosses into the picture module: SDL2_image's decoders of the formats that the picture
// reader recognises, each one called by name.
#pragma once

struct SDL_Surface;
struct SDL_RWops;

namespace gui {

struct PictureDecoders {
    static constexpr unsigned kVersion = 1;
    using Decoder = SDL_Surface* (*)(SDL_RWops*);
    Decoder png;
    Decoder jpeg;
    Decoder gif;
    Decoder webp;
    Decoder tga;
};

}  // namespace gui
