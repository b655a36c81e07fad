// Writes the arrow sprite sheet and the application icons into a folder:
//   SpriteSheetData.cpp  the sheet's DIB as a byte array (resources::SpriteSheetDib)
//   SpriteSheet.bmp      the same picture as a BMP file, to look at
//   glimstep-N.png       icons of N x N pixels
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ArrowArt.h"
#include "ImageFiles.h"

namespace {

// Writes only when the content changed, so that a rebuild does not recompile the data.
bool WriteIfChanged(const std::filesystem::path& path, const std::string& bytes) {
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (old == bytes) return true;
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string AsString(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string DataSource(const std::vector<uint8_t>& dib) {
    std::string s =
        "// Made by the sprite sheet generator (resources/sheet); do not edit.\n"
        "#include \"resources/SpriteSheet.h\"\n\n"
        "namespace resources {\n\nnamespace {\n\nconst uint8_t kSpriteSheet[] = {";
    for (size_t i = 0; i < dib.size(); ++i) {
        if (i % 24 == 0) s += "\n   ";
        // Appended piece by piece: GCC 12 misreports the temporary of " " + to_string(...) under -O3.
        s += ' ';
        s += std::to_string(dib[i]);
        s += ',';
    }
    s += "\n};\n\n}  // namespace\n\n"
         "std::span<const uint8_t> SpriteSheetDib() { return {kSpriteSheet, sizeof kSpriteSheet}; }\n\n"
         "}  // namespace resources\n";
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::vector<uint8_t> dib = sheet::EncodeDib(sheet::DrawSheet(), sheet::SheetPalette());
    bool ok = WriteIfChanged(folder / "SpriteSheetData.cpp", DataSource(dib));
    ok = WriteIfChanged(folder / "SpriteSheet.bmp", AsString(sheet::EncodeBmp(dib))) && ok;
    for (int size : {32, 48, 64, 128, 256})
        ok = WriteIfChanged(folder / ("glimstep-" + std::to_string(size) + ".png"),
                            AsString(sheet::EncodePng(sheet::DrawIcon(size)))) && ok;
    if (!ok) {
        std::fprintf(stderr, "%s: cannot write into %s\n", argv[0], folder.c_str());
        return 1;
    }
    return 0;
}
