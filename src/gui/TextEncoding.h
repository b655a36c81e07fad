// Text encodings: charts and their file names come as Shift-JIS (code page 932), UTF-8 or, from
// Korean authors, CP949 (EUC-KR with the UHC extension); everything inside the program is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gui {

enum class TextEncoding { Utf8, ShiftJis, Cp949 };

bool IsValidUtf8(std::string_view text);
// Reads the UTF-8 character at text[i] (i < size) into `codepoint` and moves i past it; at a byte
// that starts no valid character, moves i one byte on and returns false.
bool NextUtf8(std::string_view text, size_t& i, char32_t& codepoint);
// Whether every byte sequence is a character that code page 932 assigns (its lead and trail byte
// ranges, and a code that the table holds: a Korean text usually has some that it does not).
bool IsValidShiftJis(std::string_view text);
// The same for code page 949.
bool IsValidCp949(std::string_view text);
// The encoding a chart's text is read in, decided once for a whole file: UTF-8 when it is valid
// UTF-8, else Shift-JIS when it is valid Shift-JIS, else CP949 when it is valid CP949, else
// Shift-JIS (its invalid bytes then show as U+FFFD).
TextEncoding DetectTextEncoding(std::string_view text);
// The length of the character that starts at text[i]: 1 or 2 in the double-byte encodings, 1
// for every byte of UTF-8 (whose bytes past ASCII are never letters or separators).
size_t CharacterLength(std::string_view text, size_t i, TextEncoding encoding);

// Converts text in `encoding` to UTF-8; bytes that are no character of it become U+FFFD.
std::string ToUtf8(std::string_view text, TextEncoding encoding);
// Converts Shift-JIS (CP932) to UTF-8; bytes that are not valid Shift-JIS become U+FFFD.
std::string ShiftJisToUtf8(std::string_view text);
// Converts UTF-8 to Shift-JIS; returns false when a character has no Shift-JIS form.
bool Utf8ToShiftJis(std::string_view text, std::string& out);
// A text decoded in the encoding that DetectTextEncoding finds for it.
std::string ChartTextToUtf8(std::string_view text);

}  // namespace gui
