// Windows-style ini file with the semantics of the system profile functions: no cache, every
// read reads the file, every write updates the file at once and keeps all other sections, keys
// and lines as they were. A missing file reads as empty.
#pragma once

#include <cstdint>
#include <string>

#include "gui/Exception.h"

namespace gui {

class TIniFile {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const { return fileName_; }

    // The value text of `key` in `section` (at most 2047 characters), or `defaultValue`.
    // Section and key names match without regard to ASCII letter case; blanks around names and
    // values are ignored, and a value enclosed in matching quotes loses them.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
    // Decimal integer, or hexadecimal after "0x"/"0X" when the text is longer than two characters;
    // anything else gives the default.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t defaultValue) const;
    // An integer read with default 0 or 1; any non-zero value is true.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;

    // Writes through a temporary file and a rename, so the file is never left half-written.
    // Raises EIniFileException "%s に書き込めません" when the file cannot be written, also when
    // it exists and this user may not write to it (a read-only file is not replaced).
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    static constexpr size_t kMaxValueLength = 2047;

private:
    std::string fileName_;
};

// Where settings.ini lives: beside the executable when that folder is writable, otherwise in
// $XDG_CONFIG_HOME/glimstep/ (default ~/.config/glimstep/), which is created when needed.
std::string SettingsFilePath(const std::string& exePath);

}  // namespace gui
