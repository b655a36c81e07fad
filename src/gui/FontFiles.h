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

struct FontMatch {
    std::string file;       // empty when fontconfig finds nothing
    bool boldMissing = false;  // bold was asked for and the family has no bold face
};

// The best matching font file. Japanese family names resolve to a Japanese proportional gothic
// (asked for with lang=ja); Arial resolves to a metric-compatible sans.
FontMatch FindFont(const FontRequest& request);
// FindFont's file, or empty when fontconfig finds nothing.
std::string FindFontFile(const FontRequest& request);
// For a character that the requested font lacks (Hangul in the Japanese gothic, say): the file of
// the sans font that fontconfig ranks best among those that have it, or empty when none has.
std::string FindFallbackFontFile(char32_t codepoint);

}  // namespace gui
