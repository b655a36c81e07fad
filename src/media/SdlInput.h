// The input source of the program: SDL's keyboard state, joysticks and relative mouse motion.
// Keys are reported by the keyboard scan codes that the input component's tables use.
#pragma once

#include <memory>

#include "media/InputSource.h"

namespace media {

// The scan code of an SDL scancode, 0 when the key has none.
int ScanCodeFromSdl(int sdlScancode);

std::shared_ptr<InputSource> CreateSdlInputSource();

}  // namespace media
