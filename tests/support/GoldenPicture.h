// Compares a picture with a golden one in tests/golden/, like SDL's test harness: each channel
// within a tolerance, and on a mismatch both pictures are written beside the build for a person
// to look at. GLIMSTEP_UPDATE_GOLDEN=1 in the environment writes the golden file instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace testsupport {

// `xrgbAt(x, y)` gives the picture's colour 00RRGGBB, y = 0 being the top row. The golden file is
// tests/golden/NAME.bmp; a mismatch writes golden-mismatch/NAME.actual.bmp and NAME.golden.bmp in
// the build folder.
::testing::AssertionResult MatchesGolden(const std::string& name, int width, int height,
                                         const std::function<uint32_t(int x, int y)>& xrgbAt, int tolerance = 0);

}  // namespace testsupport
