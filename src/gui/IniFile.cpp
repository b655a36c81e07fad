#include "gui/IniFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "gui/Convert.h"

namespace gui {
namespace {

namespace fs = std::filesystem;

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) { return UpperCase(a) == UpperCase(b); }

std::vector<std::string> ReadLines(const std::string& fileName) {
    std::vector<std::string> lines;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "[name]" with optional blanks; returns false for other lines.
bool SectionName(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value" lines; comments (";") and lines without "=" are not entries.
bool Entry(const std::string& line, std::string& key, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';') return false;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

[[noreturn]] void CannotWrite(const std::string& fileName) {
    throw EIniFileException(Format("%s に書き込めません", fileName.c_str()));
}

// Whether this user may write to the file itself, as a direct write would need: a settings.ini
// made read-only must stay as it is, although the folder would allow replacing it. Root may open
// any file for writing, so a file without a write bit counts as read-only for every user.
bool ExistingFileWritable(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat st {};
    const bool writable = ::fstat(fd, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    ::close(fd);
    return writable;
}

void WriteAtomically(const std::string& fileName, const std::string& content) {
    if (!ExistingFileWritable(fileName)) CannotWrite(fileName);
    const fs::path target(fileName);
    std::string tmpl = (target.parent_path().empty() ? fs::path(".") : target.parent_path()).string() + "/." +
                       target.filename().string() + ".XXXXXX";
    const int fd = mkstemp(tmpl.data());
    if (fd < 0) CannotWrite(fileName);
    bool ok = true;
    size_t done = 0;
    while (ok && done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    // Keep the permissions of an existing file; a new one gets the usual 0644 less the umask.
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(fileName.c_str(), &st) == 0) mode = st.st_mode & 07777;
    else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmpl.c_str(), fileName.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        CannotWrite(fileName);
    }
}

// Tried by creating a file: access() says yes to root even on read-only or virtual file systems.
bool FolderWritable(const fs::path& folder) {
    std::string probe = (folder / ".glimstep-probe-XXXXXX").string();
    const int fd = mkstemp(probe.data());
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

}  // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    bool inSection = false;
    for (const std::string& line : ReadLines(fileName_)) {
        std::string name, k, v;
        if (SectionName(line, name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection || !Entry(line, k, v) || !SameName(k, key)) continue;
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
        if (v.size() > kMaxValueLength) v.resize(kMaxValueLength);
        return v;
    }
    return defaultValue;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t defaultValue) const {
    const std::string text = ReadString(section, key, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t value = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            const char c = text[i];
            int digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            else return defaultValue;
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > 0xFFFFFFFFu) return defaultValue;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    std::vector<std::string> lines = ReadLines(fileName_);
    const std::string entry = key + "=" + value;
    bool inSection = false, sectionFound = false, written = false;
    size_t sectionEnd = lines.size();
    for (size_t i = 0; i < lines.size() && !written; ++i) {
        std::string name, k, v;
        if (SectionName(lines[i], name)) {
            if (inSection) {
                sectionEnd = i;
                break;
            }
            inSection = SameName(name, section);
            sectionFound = sectionFound || inSection;
            continue;
        }
        if (inSection && Entry(lines[i], k, v) && SameName(k, key)) {
            lines[i] = entry;
            written = true;
        }
    }
    if (!written) {
        if (sectionFound) {
            // After the section's last non-blank line, like the profile functions.
            size_t at = sectionEnd;
            while (at > 0 && Trim(lines[at - 1]).empty()) --at;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
        } else {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        }
    }
    std::string content;
    for (const std::string& line : lines) content += line + "\r\n";
    WriteAtomically(fileName_, content);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

std::string SettingsFilePath(const std::string& exePath) {
    fs::path folder = fs::path(exePath).parent_path();
    if (folder.empty()) folder = ".";
    if (FolderWritable(folder)) return (folder / "settings.ini").string();
    const char* xdg = getenv("XDG_CONFIG_HOME");
    fs::path config;
    if (xdg != nullptr && xdg[0] == '/') config = xdg;
    else if (const char* home = getenv("HOME"); home != nullptr && home[0] != '\0') config = fs::path(home) / ".config";
    else config = folder;
    const fs::path dir = config / "glimstep";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return (dir / "settings.ini").string();
}

}  // namespace gui
