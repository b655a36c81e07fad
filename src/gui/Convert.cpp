#include "gui/Convert.h"

#include <cmath>
#include <limits>
#include <locale.h>
#include <stdlib.h>
#include <string>

#include "gui/Exception.h"

namespace gui {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TryStrToInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > int64_t{1} << 31) return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max()) return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

bool TryStrToUInt64(std::string_view text, uint64_t& value) {
    if (text.empty()) return false;
    uint64_t result = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return false;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (result > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

int32_t StrToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError(Format("'%.*s' は整数ではありません", static_cast<int>(text.size()), text.data()));
    return value;
}

bool TryStrToFloat(std::string_view text, long double& value) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end) return false;
    // The syntax is checked by hand so that strtold's hex, inf and nan forms are refused;
    // the value is then read in the C locale, correctly rounded.
    size_t i = begin;
    if (text[i] == '+' || text[i] == '-') ++i;
    int digits = 0;
    for (; i < end && IsDigit(text[i]); ++i) ++digits;
    if (i < end && text[i] == '.')
        for (++i; i < end && IsDigit(text[i]); ++i) ++digits;
    if (digits == 0) return false;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
        if (i == end || !IsDigit(text[i])) return false;
        while (i < end && IsDigit(text[i])) ++i;
    }
    if (i != end) return false;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string trimmed(text.substr(begin, end - begin));
    const long double result = strtold_l(trimmed.c_str(), nullptr, cLocale);
    if (!std::isfinite(result)) return false;
    value = result;
    return true;
}

long double StrToFloat(std::string_view text) {
    long double value = 0;
    if (!TryStrToFloat(text, value))
        throw EConvertError(Format("'%.*s' は浮動小数点数ではありません", static_cast<int>(text.size()), text.data()));
    return value;
}

int64_t RoundHalfEven(long double value) {
    if (!std::isfinite(value)) throw EConvertError("無効な浮動小数点演算です");
    const long double limit = 9.2e18L;
    if (value > limit || value < -limit) throw EConvertError("浮動小数点オーバーフロー");
    // Floor, then the fraction, which is exact in extended precision: no rounding mode is
    // involved, and this runs in a few nanoseconds (the chart loader rounds once per object
    // and measure-length change).
    int64_t result = static_cast<int64_t>(value);
    if (static_cast<long double>(result) > value) --result;
    const long double fraction = value - static_cast<long double>(result);
    if (fraction > 0.5L || (fraction == 0.5L && (result & 1) != 0)) ++result;
    return result;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace gui
