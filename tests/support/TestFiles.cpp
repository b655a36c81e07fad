#include "support/TestFiles.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) {
        old_ = old;
        hadOld_ = true;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "glimstep-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore write permission so that tests of read-only folders can still be cleaned up.
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ec))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    WriteFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes& Bytes::U8(uint32_t v) {
    data_.push_back(static_cast<uint8_t>(v));
    return *this;
}
Bytes& Bytes::U16(uint32_t v) { return U8(v).U8(v >> 8); }
Bytes& Bytes::U32(uint32_t v) { return U16(v).U16(v >> 16); }
Bytes& Bytes::Text(std::string_view text) {
    data_.insert(data_.end(), text.begin(), text.end());
    return *this;
}
Bytes& Bytes::Append(const std::vector<uint8_t>& more) {
    data_.insert(data_.end(), more.begin(), more.end());
    return *this;
}
Bytes& Bytes::Zeros(size_t count) {
    data_.insert(data_.end(), count, 0);
    return *this;
}
void Bytes::PatchU32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.at(offset + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace testsupport
