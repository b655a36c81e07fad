// Helpers for tests that build their own input files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its contents at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, std::string_view bytes);
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::string ReadFile(const std::filesystem::path& path);

// Sets an environment variable for its lifetime and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

// Little-endian byte builder for binary test files (WAV, BMP, MIDI).
class Bytes {
public:
    Bytes& U8(uint32_t v);
    Bytes& U16(uint32_t v);
    Bytes& U32(uint32_t v);
    Bytes& S32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
    Bytes& Text(std::string_view text);
    Bytes& Append(const std::vector<uint8_t>& more);
    Bytes& Zeros(size_t count);
    size_t Size() const { return data_.size(); }
    const std::vector<uint8_t>& Data() const { return data_; }
    std::vector<uint8_t>& Data() { return data_; }
    // Overwrites 4 bytes at `offset` with a little-endian value (for sizes known at the end).
    void PatchU32(size_t offset, uint32_t v);

private:
    std::vector<uint8_t> data_;
};

}  // namespace testsupport
