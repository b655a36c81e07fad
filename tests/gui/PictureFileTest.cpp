#include "gui/PictureFile.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/Exception.h"
#include "support/BmpBuilder.h"
#include "support/TestFiles.h"

namespace {

using testsupport::TempDir;

// Writes a 4×2 ARGB picture through SDL2_image: opaque red, green, blue, white over a row of
// transparent white, half-transparent white, opaque grey and transparent black.
void SavePicture(const std::filesystem::path& path, bool jpeg) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 4, 2, 32, SDL_PIXELFORMAT_ARGB8888);
    ASSERT_NE(s, nullptr);
    const uint32_t pixels[8] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF,
                                0x00FFFFFF, 0x80FFFFFF, 0xFF808080, 0x00000000};
    for (int y = 0; y < 2; ++y)
        std::memcpy(static_cast<uint8_t*>(s->pixels) + y * s->pitch, pixels + 4 * y, 16);
    const int result = jpeg ? IMG_SaveJPG(s, path.c_str(), 100) : IMG_SavePNG(s, path.c_str());
    SDL_FreeSurface(s);
    ASSERT_EQ(result, 0) << SDL_GetError();
}

std::string MessageOf(const std::vector<uint8_t>& bytes) {
    gui::Bitmap bitmap;
    try {
        gui::LoadPictureFromMemory(bitmap, bytes.data(), bytes.size());
    } catch (const gui::Exception& e) {
        return e.what();
    }
    return "(no error)";
}

// A 1×1 GIF whose one pixel is red, behind a logical screen of `screen` pixels a side, with its
// frame `frame` pixels a side.
std::vector<uint8_t> Gif(uint16_t screen, uint16_t frame) {
    testsupport::Bytes b;
    b.Text("GIF89a").U16(screen).U16(screen).U8(0x80).U8(0).U8(0);
    b.U8(0xFF).U8(0).U8(0).U8(0).U8(0).U8(0);  // two colours: red, black
    b.U8(0x21).U8(0xF9).U8(4).U8(0).U8(0).U8(0).U8(0).U8(0);  // an extension before the frame
    b.U8(0x2C).U16(0).U16(0).U16(frame).U16(frame).U8(0);
    b.U8(2).U8(2).U8(0x44).U8(0x01).U8(0).U8(0x3B);
    return b.Data();
}

// A progressive 16×8 grey JPEG: one scan of the DC coefficients (+255 for each of its two
// blocks, so that its last data byte is a stuffed FF 00), then `acScans` scans of the other
// coefficients, all zero. With `junk`, bytes that start no marker come before the first scan,
// which the decoder skips.
std::vector<uint8_t> ProgressiveJpeg(int acScans, bool junk) {
    testsupport::Bytes b;
    b.U8(0xFF).U8(0xD8);
    b.U8(0xFF).U8(0xDB).U8(0).U8(67).U8(0);
    for (int i = 0; i < 64; ++i) b.U8(1);
    b.U8(0xFF).U8(0xC2).U8(0).U8(11).U8(8).U8(0).U8(8).U8(0).U8(16).U8(1).U8(1).U8(0x11).U8(0);
    // DC and AC table 0, each one code of one bit: category 8 and end of block.
    b.U8(0xFF).U8(0xC4).U8(0).U8(20).U8(0x00).U8(1).Zeros(15).U8(8);
    b.U8(0xFF).U8(0xC4).U8(0).U8(20).U8(0x10).U8(1).Zeros(15).U8(0);
    if (junk) b.U8(0x00).U8(0xFF).U8(0x00);
    const auto scan = [&](uint8_t first, uint8_t last) { b.U8(0xFF).U8(0xDA).U8(0).U8(8).U8(1).U8(1).U8(0).U8(first).U8(last).U8(0); };
    scan(0, 0);
    b.U8(0x7F).U8(0xBF).U8(0xFF).U8(0x00);
    for (int i = 0; i < acScans; ++i) {
        scan(1, 63);
        b.U8(0x3F);
    }
    b.U8(0xFF).U8(0xD9);
    return b.Data();
}

TEST(PictureFile, PngAndJpegAreDecodedWithTransparentPartsOverBlack) {
    TempDir dir;
    SavePicture(dir / "p.png", false);
    gui::Bitmap png;
    gui::LoadPictureFile(png, (dir / "p.png").string());
    ASSERT_EQ(png.Width(), 4);
    ASSERT_EQ(png.Height(), 2);
    const uint32_t expected[8] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080, 0x808080, 0x000000};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(png.Pixel(i % 4, i / 4), expected[i]) << i;

    SavePicture(dir / "p.jpg", true);
    gui::Bitmap jpeg;
    gui::LoadPictureFile(jpeg, (dir / "p.jpg").string());
    ASSERT_EQ(jpeg.Width(), 4);
    EXPECT_GT(jpeg.Pixel(3, 0) & 0xFF, 0xC0u);  // white stays light, whatever the coder's loss
}

TEST(PictureFile, GifAndTgaAreDecodedAndBmpIsOurReadersAlone) {
    gui::Bitmap gif;
    const std::vector<uint8_t> gifBytes = Gif(1, 1);
    gui::LoadPictureFromMemory(gif, gifBytes.data(), gifBytes.size());
    ASSERT_EQ(gif.Width(), 1);
    EXPECT_EQ(gif.Pixel(0, 0), 0xFF0000u);

    // Uncompressed 24-bit TGA, 2×1, bottom-up: blue then yellow (stored as B, G, R).
    testsupport::Bytes tga;
    tga.U8(0).U8(0).U8(2).Zeros(5).U16(0).U16(0).U16(2).U16(1).U8(24).U8(0);
    tga.U8(255).U8(0).U8(0).U8(0).U8(255).U8(255);
    gui::Bitmap targa;
    gui::LoadPictureFromMemory(targa, tga.Data().data(), tga.Size());
    ASSERT_EQ(targa.Width(), 2);
    EXPECT_EQ(targa.Pixel(0, 0), 0x0000FFu);
    EXPECT_EQ(targa.Pixel(1, 0), 0xFFFF00u);

    // A BMP comes out exactly as the BMP reader gives it.
    const std::vector<uint8_t> bmp = testsupport::MakeBmpFile(testsupport::SamplePicture(), {});
    gui::Bitmap ours, theirs;
    ours.LoadFromMemory(bmp.data(), bmp.size());
    gui::LoadPictureFromMemory(theirs, bmp.data(), bmp.size());
    EXPECT_TRUE(testsupport::PictureMatches(theirs.Width(), theirs.Height(),
                                            [&](int x, int y) { return theirs.Pixel(x, y); },
                                            testsupport::SamplePicture()));
}

TEST(PictureFile, OversizedOrBrokenPicturesAreRefusedWithTheBmpReadersMessage) {
    const std::string invalid = "ビットマップイメージが不正です";
    EXPECT_EQ(MessageOf({'n', 'o', 'p', 'e'}), "ストリームからの読み込みエラー");
    EXPECT_EQ(MessageOf(std::vector<uint8_t>(64, 'x')), invalid);
    // Sizes are checked before anything is decoded: a frame larger than its screen counts too.
    EXPECT_EQ(MessageOf(Gif(40000, 1)), invalid);
    EXPECT_EQ(MessageOf(Gif(1, 9000)), invalid);
    testsupport::Bytes png;
    png.Text("\x89PNG\r\n\x1a\n").U32(0x0D000000).Text("IHDR");
    png.U8(0).U8(0).U8(0x9C).U8(0x40).U8(0).U8(0).U8(0x9C).U8(0x40).Zeros(20);  // 40000 × 40000
    EXPECT_EQ(MessageOf(png.Data()), invalid);
    // Each format goes to its own decoder: a WebP header that passes the size check (8225×2057)
    // in front of an SVG picture is not drawn as that picture, at whatever size it asks.
    testsupport::Bytes webp;
    webp.Text("RIFF    WEBPVP8L    /     ");
    webp.Text("<svg xmlns='http://www.w3.org/2000/svg' width='4000' height='3000'><rect width='4000' "
              "height='3000' fill='red'/></svg>");
    EXPECT_EQ(MessageOf(webp.Data()), invalid);
    // A PNG cut short after its header.
    TempDir dir;
    SavePicture(dir / "p.png", false);
    std::string bytes = testsupport::ReadFile(dir / "p.png");
    bytes.resize(bytes.size() / 2);
    EXPECT_EQ(MessageOf(std::vector<uint8_t>(bytes.begin(), bytes.end())), invalid);
    // A file larger than any picture taken is refused unread (sparse: it takes no disk).
    testsupport::WriteFile(dir / "huge.bmp", "");
    std::filesystem::resize_file(dir / "huge.bmp", uint64_t{1} << 30);
    gui::Bitmap bitmap;
    EXPECT_THROW(gui::LoadPictureFile(bitmap, (dir / "huge.bmp").string()), gui::EFileTooLarge);
}

TEST(PictureFile, JpegsWithMoreScansThanEncodersWriteAreRefusedBeforeDecoding) {
    // 32 scans: loaded, the two blocks at their two greys.
    for (const bool junk : {false, true}) {
        gui::Bitmap bitmap;
        const std::vector<uint8_t> jpeg = ProgressiveJpeg(31, junk);
        gui::LoadPictureFromMemory(bitmap, jpeg.data(), jpeg.size());
        ASSERT_EQ(bitmap.Width(), 16);
        EXPECT_NEAR(static_cast<int>(bitmap.Pixel(0, 0) & 0xFF), 160, 2);
        EXPECT_NEAR(static_cast<int>(bitmap.Pixel(8, 0) & 0xFF), 192, 2);
    }
    // 33 scans, and a hundred thousand (1.1 MB, each scan a pass over the picture).
    for (const int acScans : {32, 100000})
        for (const bool junk : {false, true})
            EXPECT_EQ(MessageOf(ProgressiveJpeg(acScans, junk)), "ビットマップイメージが不正です") << acScans << junk;
}

}  // namespace
