// The codec modules: shared objects that hold the code calling the movie (FFmpeg), picture
// (SDL2_image), compressed-sound (libsndfile) and MIDI (FluidSynth) libraries, so that those
// libraries load only when a chart needs them and the program starts without them. A module is
// the file glimstep-<name>.so beside the program or in the install's module folder; its one
// exported function, GlimstepModule, hands out the table of functions that cross into it.
#pragma once

#include <string>

namespace gui {

// The function every module exports: its table when `version` is the one it was built with,
// else null.
using ModuleEntryFunction = const void* (*)(unsigned version);
#define GLIMSTEP_MODULE_ENTRY extern "C" __attribute__((visibility("default"))) const void* GlimstepModule

// The table of module `name` for interface `version`, loading the module at the first call
// (from any thread). Null when the module, a library it needs or the interface is missing:
// the first such call says so on stderr, naming `without`, what goes missing (for example
// "movies stay black"); later calls return null quietly.
const void* LoadModule(const char* name, unsigned version, const char* without);

// Where modules are looked for before the program's own folders: for programs that run from
// elsewhere than the build folder (tests, benchmarks). Call before the first LoadModule.
void SetModuleFolder(const std::string& folder);

}  // namespace gui
