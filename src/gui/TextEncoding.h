// Text encodings: charts and their file names come as Shift-JIS (code page 932) or UTF-8;
// everything inside the program is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace gui {

bool IsValidUtf8(std::string_view text);
// Converts Shift-JIS (CP932) to UTF-8; bytes that are not valid Shift-JIS become U+FFFD.
std::string ShiftJisToUtf8(std::string_view text);
// Converts UTF-8 to Shift-JIS; returns false when a character has no Shift-JIS form.
bool Utf8ToShiftJis(std::string_view text, std::string& out);
// Chart text is Shift-JIS unless it is valid UTF-8 already.
std::string ChartTextToUtf8(std::string_view text);

}  // namespace gui
