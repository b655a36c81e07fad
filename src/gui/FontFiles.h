// Finds font files through fontconfig, mapping the family names that forms ask for
// ("ＭＳ Ｐゴシック", Arial) to fonts that a Linux system has.
#pragma once

#include <string>

namespace gui {

struct FontRequest {
    std::string family;  // as a form names it
    bool bold = false;
    bool italic = false;
};

// The path of the best matching font file, or empty when fontconfig finds nothing.
// Japanese family names resolve to a Japanese proportional gothic (asked for with lang=ja);
// Arial resolves to a metric-compatible sans.
std::string FindFontFile(const FontRequest& request);

}  // namespace gui
