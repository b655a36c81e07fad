#include "gui/FileNames.h"

#include <algorithm>
#include <string>
#include <vector>

#include "gui/TextEncoding.h"

namespace gui {
namespace fs = std::filesystem;
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// In Shift-JIS the second byte of a double-byte character may be any of 40-FC, a backslash and
// ASCII letters included, so such names are walked character by character.
bool IsShiftJisLead(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

thread_local ChartFolderCache* activeCache = nullptr;

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b, bool shiftJis) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (shiftJis && IsShiftJisLead(a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            ++i;
        } else if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> SplitComponents(std::string_view name, bool shiftJis) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && shiftJis && IsShiftJisLead(name[i])) {
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
bool Descend(fs::path& dir, const std::string& part, bool shiftJis) {
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
            if (EqualIgnoringAsciiCase(entry, part, shiftJis)) {
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
            if (EqualIgnoringAsciiCase(entry, part, shiftJis) && (best.empty() || entry < best)) best = entry;
        }
    }
    if (best.empty()) return false;
    dir /= best;
    return true;
}

fs::path Walk(const fs::path& folder, std::string_view name, bool shiftJis) {
    const std::vector<std::string> parts = SplitComponents(name, shiftJis);
    if (parts.empty()) return {};
    fs::path current = folder.empty() ? fs::path(".") : folder;
    for (const std::string& part : parts)
        if (!Descend(current, part, shiftJis)) return {};
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
    const std::string_view stem = Stem(WithoutTrailingBlanksAndDots(name));
    if (stem.empty()) return {};
    for (const std::string_view extension : extensions) {
        found = FindChartFile(folder, std::string(stem) + std::string(extension));
        if (!found.empty()) return found;
    }
    return {};
}

fs::path FindChartFile(const fs::path& folder, std::string_view name) {
    struct Candidate {
        std::string name;
        bool shiftJis;
    };
    std::vector<Candidate> candidates;
    if (IsValidUtf8(name)) {
        candidates.push_back({std::string(name), false});
        std::string sjis;
        if (Utf8ToShiftJis(name, sjis) && sjis != name) candidates.push_back({std::move(sjis), true});
    } else {
        candidates.push_back({std::string(name), true});
        candidates.push_back({ShiftJisToUtf8(name), false});
    }
    const size_t count = candidates.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string_view trimmed = WithoutTrailingBlanksAndDots(candidates[i].name);
        if (trimmed.size() != candidates[i].name.size()) candidates.push_back({std::string(trimmed), candidates[i].shiftJis});
    }
    for (const Candidate& candidate : candidates) {
        fs::path found = Walk(folder, candidate.name, candidate.shiftJis);
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
