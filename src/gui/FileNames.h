// Finds the file that a name written in a chart means. Charts come from Windows: `\` separates
// folders, letter case does not matter there, and names are often Shift-JIS or CP949 while the
// files on disk were unpacked with UTF-8 names.
#pragma once

#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gui {

// Looks for `name` under `folder`: the exact name first, then each folder and the file matched
// without regard to ASCII letter case, one level at a time; a Shift-JIS name is also tried in its
// UTF-8 form (and a UTF-8 name in its Shift-JIS form), a name that is valid CP949 then in its UTF-8
// form read as CP949, and a name with trailing blanks or dots also without them, as Windows
// ignores those. Returns the path of an existing regular file, or an
// empty path when there is none.
std::filesystem::path FindChartFile(const std::filesystem::path& folder, std::string_view name);

// FindChartFile, and when that finds nothing, the same name with its extension (from its last
// dot; a name without one gets it added) replaced by each of `extensions` in turn, written with
// their dot. Every try follows FindChartFile's rules, so letter case is ignored throughout.
std::filesystem::path FindChartFileOrAlternative(const std::filesystem::path& folder, std::string_view name,
                                                 std::span<const std::string_view> extensions);
// The names FindChartFileOrAlternative looks for, in its order: `name`, then each alternative that
// differs from it (letter case aside).
std::vector<std::string> ChartFileAlternatives(std::string_view name, std::span<const std::string_view> extensions);

// While one exists, the lookups of its thread read each folder once and keep its entries, so
// that a chart naming a thousand files (many of them missing, or under another letter case or
// extension) costs a thousand lookups in memory instead of a thousand folder scans. A chart's
// folders do not change while it loads; the results are those of the uncached lookup.
class ChartFolderCache {
public:
    ChartFolderCache();
    ~ChartFolderCache();
    ChartFolderCache(const ChartFolderCache&) = delete;
    ChartFolderCache& operator=(const ChartFolderCache&) = delete;

    // The entry names of `dir` in name order (empty when it cannot be read).
    const std::vector<std::string>& Entries(const std::filesystem::path& dir);

private:
    std::map<std::filesystem::path, std::vector<std::string>> folders_;
    ChartFolderCache* previous_;
};

}  // namespace gui
