#include "gui/TextEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace gui {
namespace {

// Runs iconv over the whole text. Invalid input sequences are replaced by `replacement`
// (skipping one byte) when it is given, or make the conversion fail otherwise.
bool Convert(const char* to, const char* from, std::string_view text, std::string& out,
             const char* replacement) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    std::vector<char> buffer(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    bool ok = true;
    while (inLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer.data(), buffer.size() - dstLeft);
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (replacement == nullptr) {
            ok = false;
            break;
        }
        out += replacement;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return ok;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
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
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

std::string ShiftJisToUtf8(std::string_view text) {
    std::string out;
    Convert("UTF-8", "CP932", text, out, "\xEF\xBF\xBD");
    return out;
}

bool Utf8ToShiftJis(std::string_view text, std::string& out) {
    return Convert("CP932", "UTF-8", text, out, nullptr);
}

std::string ChartTextToUtf8(std::string_view text) {
    if (IsValidUtf8(text)) return std::string(text);
    return ShiftJisToUtf8(text);
}

}  // namespace gui
