// The fuzzers live in a folder of their own; the modules they reach are in the build folder.
#include "gui/Modules.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gui::SetModuleFolder(GLIMSTEP_BINARY_DIR);
    return 0;
}
