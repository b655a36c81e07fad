#include "gui/TextEncoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace gui {
namespace {

// Runs iconv over the whole text into `out` (or only checks it when `out` is null). Invalid
// input sequences are replaced by `replacement` (skipping one byte) when it is given, or make
// the conversion fail otherwise. The output goes through a bounded buffer, so that checking a
// whole chart takes no memory in proportion to it.
bool Convert(const char* to, const char* from, std::string_view text, std::string* out, const char* replacement) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    if (out != nullptr) out->clear();
    std::vector<char> buffer(std::min<size_t>(text.size() * 4 + 16, 64 * 1024));
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    bool ok = true;
    while (inLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        if (out != nullptr) out->append(buffer.data(), buffer.size() - dstLeft);
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (replacement == nullptr) {
            ok = false;
            break;
        }
        if (out != nullptr) *out += replacement;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return ok;
}

const char* IconvName(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf8: return "UTF-8";
        case TextEncoding::ShiftJis: return "CP932";
        case TextEncoding::Cp949: return "CP949";
    }
    return "UTF-8";
}

}  // namespace

bool NextUtf8(std::string_view text, size_t& i, char32_t& codepoint) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
        codepoint = c;
        ++i;
        return true;
    } else if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
    } else {
        ++i;
        return false;
    }
    if (i + extra >= text.size()) {
        ++i;
        return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
        const auto cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        ++i;
        return false;
    }
    codepoint = cp;
    i += extra + 1;
    return true;
}

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    char32_t codepoint;
    while (i < text.size())
        if (!NextUtf8(text, i, codepoint)) return false;
    return true;
}

bool IsValidShiftJis(std::string_view text) { return Convert("UTF-8", "CP932", text, nullptr, nullptr); }

bool IsValidCp949(std::string_view text) { return Convert("UTF-8", "CP949", text, nullptr, nullptr); }

TextEncoding DetectTextEncoding(std::string_view text) {
    if (IsValidUtf8(text)) return TextEncoding::Utf8;
    if (IsValidShiftJis(text) || !IsValidCp949(text)) return TextEncoding::ShiftJis;
    return TextEncoding::Cp949;
}

size_t CharacterLength(std::string_view text, size_t i, TextEncoding encoding) {
    const auto c = static_cast<unsigned char>(text[i]);
    bool lead = false;
    if (encoding == TextEncoding::ShiftJis) lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (encoding == TextEncoding::Cp949) lead = c >= 0x81 && c <= 0xFE;
    return lead && i + 1 < text.size() ? 2 : 1;
}

std::string ToUtf8(std::string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8 && IsValidUtf8(text)) return std::string(text);
    std::string out;
    Convert("UTF-8", IconvName(encoding), text, &out, "\xEF\xBF\xBD");
    return out;
}

std::string ShiftJisToUtf8(std::string_view text) { return ToUtf8(text, TextEncoding::ShiftJis); }

bool Utf8ToShiftJis(std::string_view text, std::string& out) { return Convert("CP932", "UTF-8", text, &out, nullptr); }

std::string ChartTextToUtf8(std::string_view text) { return ToUtf8(text, DetectTextEncoding(text)); }

}  // namespace gui
