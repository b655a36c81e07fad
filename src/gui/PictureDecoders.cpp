// The picture module.
#include "gui/PictureDecoders.h"

#include <SDL_image.h>

#include "gui/Modules.h"

GLIMSTEP_MODULE_ENTRY(unsigned version) {
    static const gui::PictureDecoders decoders{&IMG_LoadPNG_RW, &IMG_LoadJPG_RW, &IMG_LoadGIF_RW, &IMG_LoadWEBP_RW,
                                               &IMG_LoadTGA_RW};
    return version == gui::PictureDecoders::kVersion ? &decoders : nullptr;
}
