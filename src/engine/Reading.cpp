#include "engine/Reading.h"

#include "gui/TextEncoding.h"

namespace engine {
namespace {

// Length of the character that starts at text[i] in a Shift-JIS text.
size_t ShiftJisCharLength(std::string_view text, size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    return lead && i + 1 < text.size() ? 2 : 1;
}

}  // namespace

std::string_view ChartEncoding::Cut(std::string_view raw, size_t maxLength) const {
    if (raw.size() <= maxLength) return raw;
    const bool utf8 = kind == Kind::PerText ? gui::IsValidUtf8(raw) : kind == Kind::Utf8;
    size_t end = 0;
    if (utf8) {
        end = maxLength;
        while (end > 0 && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80) --end;
    } else {
        while (end < raw.size()) {
            const size_t next = end + ShiftJisCharLength(raw, end);
            if (next > maxLength) break;
            end = next;
        }
    }
    return raw.substr(0, end);
}

std::string ChartEncoding::Text(std::string_view raw) const {
    switch (kind) {
        case Kind::Utf8: return std::string(raw);
        case Kind::ShiftJis: return gui::ShiftJisToUtf8(raw);
        case Kind::PerText: break;
    }
    return gui::ChartTextToUtf8(raw);
}

void ReadingHost::LoadSound(int, std::string_view) {}
void ReadingHost::LoadPicture(int, std::string_view) {}
bool ReadingHost::ShowsPictures() const { return false; }
void ReadingHost::AddSlots(int) {}
std::filesystem::path ReadingHost::FindFile(std::string_view) { return {}; }
void ReadingHost::OpenMidi(const std::filesystem::path&) {}
void ReadingHost::Echo(const std::string&) {}
void ReadingHost::Drop(const std::string&) {}
void ReadingHost::Progress() {}

}  // namespace engine
