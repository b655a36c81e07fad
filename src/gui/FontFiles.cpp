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

void InitFontconfig() {
    static std::once_flag initOnce;
    std::call_once(initOnce, [] { FcInit(); });
}

FontMatch Lookup(const FontRequest& request) {
    InitFontconfig();

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
    FontMatch found;
    if (match != nullptr) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr)
            found.file = reinterpret_cast<const char*>(file);
        // fontconfig's own rule for a bold request that only a regular face answers.
        FcBool embolden = FcFalse;
        found.boldMissing = request.bold && FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden) == FcResultMatch &&
                            embolden == FcTrue;
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pat);
    return found;
}

}  // namespace

FontMatch FindFont(const FontRequest& request) {
    static std::mutex mutex;
    static std::map<std::tuple<std::string, bool, bool>, FontMatch> cache;
    std::lock_guard lock(mutex);
    const auto key = std::make_tuple(request.family, request.bold, request.italic);
    auto it = cache.find(key);
    if (it == cache.end()) {
        FontMatch found = Lookup(request);
        // Without fontconfig's rule: the bold request found the very file of the regular one.
        if (request.bold && !found.file.empty() && !found.boldMissing)
            found.boldMissing = Lookup({request.family, false, request.italic}).file == found.file;
        it = cache.emplace(key, found).first;
    }
    return it->second;
}

std::string FindFontFile(const FontRequest& request) { return FindFont(request).file; }

std::string FindFallbackFontFile(char32_t codepoint) {
    static std::mutex mutex;
    static std::map<char32_t, std::string> cache;
    std::lock_guard lock(mutex);
    if (const auto known = cache.find(codepoint); known != cache.end()) return known->second;
    InitFontconfig();
    std::string file;
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    FcCharSet* wanted = FcCharSetCreate();
    if (pat != nullptr && wanted != nullptr && FcCharSetAddChar(wanted, codepoint)) {
        FcPatternAddCharSet(pat, FC_CHARSET, wanted);
        FcConfigSubstitute(nullptr, pat, FcMatchPattern);
        FcDefaultSubstitute(pat);
        FcResult result = FcResultNoMatch;
        // The charset only ranks the fonts: the first one that has the character is taken.
        if (FcFontSet* fonts = FcFontSort(nullptr, pat, FcTrue, nullptr, &result)) {
            for (int i = 0; i < fonts->nfont && file.empty(); ++i) {
                FcCharSet* has = nullptr;
                FcChar8* path = nullptr;
                if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &has) == FcResultMatch &&
                    FcCharSetHasChar(has, codepoint) && FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &path) == FcResultMatch &&
                    path != nullptr)
                    file = reinterpret_cast<const char*>(path);
            }
            FcFontSetDestroy(fonts);
        }
    }
    if (wanted != nullptr) FcCharSetDestroy(wanted);
    if (pat != nullptr) FcPatternDestroy(pat);
    cache.emplace(codepoint, file);
    return file;
}

}  // namespace gui
