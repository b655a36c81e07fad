// The benchmarks live in a folder of their own; the modules are in the build folder.
#include "gui/Modules.h"

namespace {

[[maybe_unused]] const bool kModuleFolderSet = (gui::SetModuleFolder(GLIMSTEP_BINARY_DIR), true);

}  // namespace
