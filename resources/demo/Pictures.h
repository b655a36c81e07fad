// The demo's background pictures: abstract scenes painted pixel by pixel.
#pragma once

#include "Files.h"

namespace demo {

// 256×256 fills the 320×240 play screen exactly when pictures are enlarged to full screen,
// the player's default fitting.
constexpr int kPictureSize = 256;

Picture Dawn();
Picture SunsetGrid();
Picture Plasma(double phase, bool greenish);
Picture StarryNight();
Picture Festival(double turn, double hueShift);
Picture Sunrise();
// Layer pictures: black is transparent on the layer, so only the sparkles show.
Picture Sparkles(unsigned seed);
Picture Blank();

}  // namespace demo
