#include "engine/Reading.h"

#include "gui/TextEncoding.h"

namespace engine {

std::string_view ChartText(const std::vector<uint8_t>& bytes) {
    constexpr char kCtrlZ = 26;
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (const size_t end = text.find(kCtrlZ); end != std::string_view::npos) text = text.substr(0, end);
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    return text;
}

std::string_view ChartEncoding::Cut(std::string_view raw, size_t maxLength) const {
    if (raw.size() <= maxLength) return raw;
    const gui::TextEncoding encoding = file ? *file : gui::DetectTextEncoding(raw);
    size_t end = 0;
    if (encoding == gui::TextEncoding::Utf8) {
        end = maxLength;
        while (end > 0 && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80) --end;
    } else {
        while (end < raw.size()) {
            const size_t next = end + gui::CharacterLength(raw, end, encoding);
            if (next > maxLength) break;
            end = next;
        }
    }
    return raw.substr(0, end);
}

std::string ChartEncoding::Text(std::string_view raw) const {
    if (file) return gui::ToUtf8(raw, *file);
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
double ReadingHost::SoundLength(int) { return 0; }
double ReadingHost::MovieLength(int) { return 0; }

}  // namespace engine
