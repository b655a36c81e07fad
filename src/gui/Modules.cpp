#include "gui/Modules.h"

#include <dlfcn.h>
#include <errno.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

namespace gui {
namespace {

namespace fs = std::filesystem;

struct Registry {
    std::mutex mutex;
    std::string folder;
    // Every module asked for, loaded or not: null when it could not be loaded.
    std::map<std::string, const void*> tables;
};

Registry& Modules() {
    static Registry registry;
    return registry;
}

// The folders a module is looked for in, in order: the one set by SetModuleFolder, the
// program's own (a build folder), and the install's module folder relative to it.
std::vector<fs::path> Folders(const std::string& folder) {
    std::vector<fs::path> folders;
    if (!folder.empty()) folders.emplace_back(folder);
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        folders.push_back(self.parent_path());
        folders.push_back((self.parent_path() / GLIMSTEP_MODULE_RELDIR).lexically_normal());
    }
    return folders;
}

// Loads the module and returns its table, or says why not in `error`.
const void* Load(const std::string& folder, const std::string& file, unsigned version, std::string& error) {
    const std::vector<fs::path> folders = Folders(folder);
    for (const fs::path& dir : folders) {
        const fs::path path = dir / file;
        std::error_code ec;
        if (!fs::exists(path, ec)) continue;
        // Every symbol is bound now: a library that lacks one is refused here rather than
        // ending the program at its first call.
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* reason = dlerror();
            error = reason != nullptr ? reason : path.string();
            return nullptr;
        }
        // Never closed: the tables and the objects made through them live as long as the program.
        const auto entry = reinterpret_cast<ModuleEntryFunction>(dlsym(handle, "GlimstepModule"));
        const void* table = entry != nullptr ? entry(version) : nullptr;
        if (table == nullptr) error = path.string() + " belongs to another build of the program";
        return table;
    }
    error = file + " is in none of";
    for (const fs::path& dir : folders) {
        error += ' ';
        error += dir.string();
    }
    return nullptr;
}

}  // namespace

const void* LoadModule(const char* name, unsigned version, const char* without) {
    Registry& modules = Modules();
    const std::lock_guard<std::mutex> lock(modules.mutex);
    const auto known = modules.tables.find(name);
    if (known != modules.tables.end()) return known->second;
    std::string error;
    const void* table = Load(modules.folder, std::string("glimstep-") + name + ".so", version, error);
    modules.tables.emplace(name, table);
    if (table == nullptr)
        std::fprintf(stderr, "%s: cannot load the %s module (%s); %s\n", program_invocation_short_name, name,
                     error.c_str(), without);
    return table;
}

void SetModuleFolder(const std::string& folder) {
    Registry& modules = Modules();
    const std::lock_guard<std::mutex> lock(modules.mutex);
    modules.folder = folder;
}

}  // namespace gui
