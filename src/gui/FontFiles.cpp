#include "gui/FontFiles.h"

#include <fontconfig/fontconfig.h>

#include <map>
#include <mutex>
#include <tuple>

#include "gui/TextEncoding.h"

namespace gui {
namespace {

bool HasNonAscii(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

std::string Lookup(const FontRequest& request) {
    static std::once_flag initOnce;
    std::call_once(initOnce, [] { FcInit(); });

    // fontconfig does not alias the Japanese Windows families; ask for a Japanese gothic instead.
    const bool japanese = request.family.empty() || HasNonAscii(request.family) || request.family == "MS PGothic" ||
                          request.family == "MS Gothic";
    std::string pattern = japanese ? "IPAPGothic,sans-serif:lang=ja" : request.family;
    if (request.bold) pattern += ":weight=bold";
    if (request.italic) pattern += ":slant=italic";

    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str()));
    if (pat == nullptr) return {};
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    std::string path;
    if (match != nullptr) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr)
            path = reinterpret_cast<const char*>(file);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pat);
    return path;
}

}  // namespace

std::string FindFontFile(const FontRequest& request) {
    static std::mutex mutex;
    static std::map<std::tuple<std::string, bool, bool>, std::string> cache;
    std::lock_guard lock(mutex);
    const auto key = std::make_tuple(request.family, request.bold, request.italic);
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.emplace(key, Lookup(request)).first;
    return it->second;
}

}  // namespace gui
