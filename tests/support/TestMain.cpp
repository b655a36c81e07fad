#include <gtest/gtest.h>

#include <cstdlib>

#include "gui/Modules.h"

int main(int argc, char** argv) {
    // Tests never open a real window or sound card.
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    // The test programs live in a folder of their own; the modules are in the build folder.
    gui::SetModuleFolder(GLIMSTEP_BINARY_DIR);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
