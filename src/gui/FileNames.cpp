#include "gui/FileNames.h"

#include <algorithm>
#include <string>
#include <vector>

#include "gui/Convert.h"
#include "gui/TextEncoding.h"

namespace gui {
namespace fs = std::filesystem;
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// In Shift-JIS the second byte of a double-byte character may be any of 40-FC, a backslash and
// ASCII letters included, and in CP949 it may be an ASCII letter, so such names are walked
// character by character.
thread_local ChartFolderCache* activeCache = nullptr;

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b, TextEncoding encoding) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (CharacterLength(a, i, encoding) == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            ++i;
        } else if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> SplitComponents(std::string_view name, TextEncoding encoding) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && CharacterLength(name, i, encoding) == 2) {
            ++i;
            continue;
        }
        if (i == name.size() || IsSeparator(name[i])) {
            if (i > start) parts.emplace_back(name.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// One step down from `dir`: the exact entry if it exists, else the first entry (in name order,
// so the choice does not depend on the file system) equal to it without regard to case.
bool Descend(fs::path& dir, const std::string& part, TextEncoding encoding) {
    std::error_code ec;
    if (part == ".") return true;
    if (part == "..") {
        dir /= part;
        return true;
    }
    std::string best;
    if (activeCache != nullptr) {
        const std::vector<std::string>& entries = activeCache->Entries(dir);
        if (std::binary_search(entries.begin(), entries.end(), part)) {
            dir /= part;
            return true;
        }
        // In name order, so the first match is the one the scan below keeps.
        for (const std::string& entry : entries) {
            if (EqualIgnoringAsciiCase(entry, part, encoding)) {
                best = entry;
                break;
            }
        }
    } else {
        const fs::path exact = dir / part;
        if (fs::exists(fs::symlink_status(exact, ec))) {
            dir = exact;
            return true;
        }
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string entry = it->path().filename().string();
            if (EqualIgnoringAsciiCase(entry, part, encoding) && (best.empty() || entry < best)) best = entry;
        }
    }
    if (best.empty()) return false;
    dir /= best;
    return true;
}

fs::path Walk(const fs::path& folder, std::string_view name, TextEncoding encoding) {
    const std::vector<std::string> parts = SplitComponents(name, encoding);
    if (parts.empty()) return {};
    fs::path current = folder.empty() ? fs::path(".") : folder;
    for (const std::string& part : parts)
        if (!Descend(current, part, encoding)) return {};
    std::error_code ec;
    if (!fs::is_regular_file(current, ec)) return {};
    return current;
}

std::string_view WithoutTrailingBlanksAndDots(std::string_view name) {
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '.')) name.remove_suffix(1);
    return name;
}

// The name without its extension: up to its last dot, unless a folder separator follows it.
std::string_view Stem(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.find_first_of("\\/", dot) != std::string_view::npos) return name;
    return name.substr(0, dot);
}

}  // namespace

fs::path FindChartFileOrAlternative(const fs::path& folder, std::string_view name,
                                    std::span<const std::string_view> extensions) {
    fs::path found = FindChartFile(folder, name);
    if (!found.empty()) return found;
    const std::vector<std::string> names = ChartFileAlternatives(name, extensions);
    for (size_t i = 1; i < names.size(); ++i) {
        found = FindChartFile(folder, names[i]);
        if (!found.empty()) return found;
    }
    return {};
}

std::vector<std::string> ChartFileAlternatives(std::string_view name, std::span<const std::string_view> extensions) {
    std::vector<std::string> names{std::string(name)};
    const std::string_view stem = Stem(WithoutTrailingBlanksAndDots(name));
    if (stem.empty()) return names;
    for (const std::string_view extension : extensions) {
        std::string alternative = std::string(stem) + std::string(extension);
        if (UpperCase(alternative) != UpperCase(names.front())) names.push_back(std::move(alternative));
    }
    return names;
}

fs::path FindChartFile(const fs::path& folder, std::string_view name) {
    struct Candidate {
        std::string name;
        TextEncoding encoding;
    };
    std::vector<Candidate> candidates;
    // Each name also without trailing blanks and dots, after the names as written.
    const auto addTrimmed = [&](size_t from) {
        const size_t count = candidates.size();
        for (size_t i = from; i < count; ++i) {
            const std::string_view trimmed = WithoutTrailingBlanksAndDots(candidates[i].name);
            if (trimmed.size() != candidates[i].name.size())
                candidates.push_back({std::string(trimmed), candidates[i].encoding});
        }
    };
    // A double-byte name as written, then in its UTF-8 form.
    const auto addDoubleByte = [&](TextEncoding encoding) {
        const size_t from = candidates.size();
        candidates.push_back({std::string(name), encoding});
        candidates.push_back({ToUtf8(name, encoding), TextEncoding::Utf8});
        addTrimmed(from);
    };
    const TextEncoding encoding = DetectTextEncoding(name);
    if (encoding == TextEncoding::Utf8) {
        candidates.push_back({std::string(name), TextEncoding::Utf8});
        std::string sjis;
        if (Utf8ToShiftJis(name, sjis) && sjis != name) candidates.push_back({std::move(sjis), TextEncoding::ShiftJis});
        addTrimmed(0);
    } else {
        addDoubleByte(encoding);
        // A short Korean name often reads as Shift-JIS too: its CP949 forms come after, so that
        // what the Shift-JIS forms find stays found.
        if (encoding == TextEncoding::ShiftJis && IsValidCp949(name)) addDoubleByte(TextEncoding::Cp949);
    }
    for (const Candidate& candidate : candidates) {
        fs::path found = Walk(folder, candidate.name, candidate.encoding);
        if (!found.empty()) return found;
    }
    return {};
}

ChartFolderCache::ChartFolderCache() : previous_(activeCache) { activeCache = this; }

ChartFolderCache::~ChartFolderCache() { activeCache = previous_; }

const std::vector<std::string>& ChartFolderCache::Entries(const fs::path& dir) {
    const auto known = folders_.find(dir);
    if (known != folders_.end()) return known->second;
    std::vector<std::string> entries;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path().filename().string());
    std::sort(entries.begin(), entries.end());
    return folders_.emplace(dir, std::move(entries)).first->second;
}

}  // namespace gui
