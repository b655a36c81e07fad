// Number conversions of the run-time library, with the rules charts and settings rely on:
// "." is always the decimal separator, whatever the locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gui {

// Decimal integer with optional leading blanks and an optional sign, nothing after it,
// within the 32-bit signed range.
bool TryStrToInt(std::string_view text, int32_t& value);
// A whole number in decimal digits only (no blanks, sign or exponent), as command-line options
// take it; false for anything else and for a number past 64 bits.
bool TryStrToUInt64(std::string_view text, uint64_t& value);
// Like TryStrToInt, raising EConvertError when the text is not an integer.
int32_t StrToInt(std::string_view text);
// Floating-point value with optional leading and trailing blanks, "." as separator,
// an optional exponent; no hexadecimal, infinities or NaN.
bool TryStrToFloat(std::string_view text, long double& value);
long double StrToFloat(std::string_view text);

// Rounds to the nearest integer, halves to even, in extended precision.
int64_t RoundHalfEven(long double value);

std::string IntToStr(int64_t value);
std::string UpperCase(std::string_view text);  // ASCII letters only, like the run-time library

}  // namespace gui
