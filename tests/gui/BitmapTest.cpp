#include <gtest/gtest.h>

#include <string>

#include "gui/Bitmap.h"
#include "support/BmpBuilder.h"
#include "support/TestFiles.h"

using testsupport::BmpLayout;
using testsupport::MakeBmpFile;
using testsupport::Picture;
using testsupport::SamplePicture;
using testsupport::kSamplePalette;

namespace {

gui::Bitmap Load(const std::vector<uint8_t>& file) {
    gui::Bitmap bitmap;
    bitmap.LoadFromMemory(file.data(), file.size());
    return bitmap;
}

::testing::AssertionResult SameAs(const gui::Bitmap& bitmap, const Picture& picture, int tolerance = 0) {
    return testsupport::PictureMatches(
        bitmap.Width(), bitmap.Height(), [&bitmap](int x, int y) { return bitmap.Pixel(x, y); }, picture, tolerance);
}

std::string MessageOf(const std::vector<uint8_t>& file) {
    try {
        Load(file);
    } catch (const gui::Exception& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(BitmapFile, ReadsEveryHeaderSize) {
    // 16 and 64 are the OS/2 2.x headers, read as the info header they extend.
    for (uint32_t header : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        BmpLayout layout;
        layout.headerSize = header;
        EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), layout)), SamplePicture())) << header;
        layout.bitCount = 8;
        layout.palette = kSamplePalette;
        EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), layout)), SamplePicture())) << header << " 8-bit";
    }
}

TEST(BitmapFile, Os2HeadersReadRunLengthsButNotHuffmanOrRle24) {
    BmpLayout rle;
    rle.headerSize = 64;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.palette = kSamplePalette;
    EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), rle)), SamplePicture()));
    // OS/2's compression 3 is Huffman coding (no bit fields there) and 4 is RLE24.
    for (const uint32_t compression : {3u, 4u}) {
        BmpLayout layout;
        layout.headerSize = 64;
        std::vector<uint8_t> file = MakeBmpFile(SamplePicture(), layout);
        file[30] = static_cast<uint8_t>(compression);
        EXPECT_EQ("ビットマップイメージが不正です", MessageOf(file)) << compression;
    }
    // A short header that ends inside the file's own data.
    EXPECT_EQ("ストリームからの読み込みエラー",
              MessageOf({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 3, 0, 0, 0, 2}));
}

TEST(BitmapFile, ReadsEveryBitCountAndBitFields) {
    for (int bits : {4, 8, 24, 32}) {
        BmpLayout layout;
        layout.bitCount = bits;
        if (bits <= 8) layout.palette = kSamplePalette;
        EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), layout)), SamplePicture())) << bits;
    }
    BmpLayout mono;
    mono.bitCount = 1;
    mono.palette = {0x000000, 0xFFFFFF};
    const Picture checker{9, 2, {0xFFFFFF, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFF, 0, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFF}};
    EXPECT_TRUE(SameAs(Load(MakeBmpFile(checker, mono)), checker));

    const Picture exact{2, 1, {0xFF00FF, 0x00FF00}};
    BmpLayout rgb555;
    rgb555.bitCount = 16;
    EXPECT_TRUE(SameAs(Load(MakeBmpFile(exact, rgb555)), exact));
    BmpLayout rgb565 = rgb555;
    rgb565.compression = 3;
    rgb565.masks = {0xF800, 0x07E0, 0x001F};
    EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), rgb565)), SamplePicture(), 8));
    BmpLayout bgr32;
    bgr32.bitCount = 32;
    bgr32.compression = 3;
    bgr32.masks = {0x0000FF00, 0x00FF0000, 0xFF000000};
    EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), bgr32)), SamplePicture()));
    bgr32.headerSize = 108;
    EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), bgr32)), SamplePicture()));
}

TEST(BitmapFile, TopDownEqualsBottomUpAndRleDecodes) {
    BmpLayout layout;
    layout.topDown = true;
    EXPECT_TRUE(SameAs(Load(MakeBmpFile(SamplePicture(), layout)), SamplePicture()));
    const Picture wide{7, 3, {0xFF0000, 0xFF0000, 0xFF0000, 0x00FF00, 0x00FF00, 0x0000FF, 0x0000FF,
                              0,        0,        0,        0,        0,        0,        0xFFFFFF,
                              0x808080, 0xFF0000, 0x808080, 0x808080, 0x808080, 0x808080, 0x808080}};
    for (uint32_t compression : {1u, 2u}) {
        BmpLayout rle;
        rle.bitCount = compression == 1 ? 8 : 4;
        rle.compression = compression;
        rle.palette = kSamplePalette;
        EXPECT_TRUE(SameAs(Load(MakeBmpFile(wide, rle)), wide)) << compression;
    }
}

TEST(BitmapFile, RleAbsoluteRunsDeltasAndOverrunsStayInside) {
    // 4×3 RLE8: absolute run of 3, delta (1, 1), a run far past the row end, end of bitmap.
    std::vector<uint8_t> file{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 14 + 40 + 8, 0, 0, 0};
    testsupport::Bytes dib;
    dib.U32(40).S32(4).S32(3).U16(1).U16(8).U32(1).U32(14).U32(0).U32(0).U32(2).U32(0);
    dib.U32(0x000000).U32(0xFFFFFF);
    dib.U8(0).U8(3).U8(1).U8(0).U8(1).U8(0);  // absolute: 1 0 1 (+ pad)
    dib.U8(0).U8(2).U8(1).U8(1);              // delta right 1, up 1
    dib.U8(255).U8(1);                        // long run cut at the row end
    dib.U8(0).U8(1);
    file.insert(file.end(), dib.Data().begin(), dib.Data().end());
    const gui::Bitmap bitmap = Load(file);
    ASSERT_EQ(4, bitmap.Width());
    // Bottom row (y = 2): 1 0 1 0; middle row from x = 4 on: nothing visible; top row untouched.
    EXPECT_EQ(0xFFFFFFu, bitmap.Pixel(0, 2));
    EXPECT_EQ(0x000000u, bitmap.Pixel(1, 2));
    EXPECT_EQ(0xFFFFFFu, bitmap.Pixel(2, 2));
    EXPECT_EQ(0x000000u, bitmap.Pixel(3, 2));
    EXPECT_EQ(0x000000u, bitmap.Pixel(3, 1));
    EXPECT_EQ(0x000000u, bitmap.Pixel(0, 0));
}

TEST(BitmapFile, RefusesWithTheFrameworksMessages) {
    const std::string invalid = "ビットマップイメージが不正です";
    const std::string readError = "ストリームからの読み込みエラー";
    std::vector<uint8_t> file = MakeBmpFile(SamplePicture(), {});
    std::vector<uint8_t> wrongType = file;
    wrongType[0] = 'X';
    EXPECT_EQ(invalid, MessageOf(wrongType));
    BmpLayout twoPlanes;
    twoPlanes.planes = 2;
    EXPECT_EQ(invalid, MessageOf(MakeBmpFile(SamplePicture(), twoPlanes)));
    // Header sizes that no format uses.
    for (const uint8_t size : {0, 11, 20, 41, 60, 100, 125}) {
        std::vector<uint8_t> oddHeader = file;
        oddHeader[14] = size;
        EXPECT_EQ(invalid, MessageOf(oddHeader)) << int{size};
    }
    std::vector<uint8_t> badBits = file;
    badBits[28] = 7;
    EXPECT_EQ(invalid, MessageOf(badBits));
    std::vector<uint8_t> jpeg = file;
    jpeg[30] = 4;
    EXPECT_EQ(invalid, MessageOf(jpeg));
    // Width × height far beyond any screen, and a zero height.
    std::vector<uint8_t> huge = file;
    huge[18] = huge[19] = huge[20] = 0xFF;
    huge[21] = 0x3F;
    huge[22] = huge[23] = huge[24] = 0xFF;
    huge[25] = 0x3F;
    EXPECT_EQ(invalid, MessageOf(huge));
    std::vector<uint8_t> flat = file;
    flat[22] = 0;
    EXPECT_EQ(invalid, MessageOf(flat));
    // Files that end early, in the header, the colour table or the pixels.
    EXPECT_EQ(readError, MessageOf({'B', 'M', 0, 0}));
    EXPECT_EQ(readError, MessageOf(std::vector<uint8_t>(file.begin(), file.begin() + 30)));
    EXPECT_EQ(readError, MessageOf(std::vector<uint8_t>(file.begin(), file.end() - 1)));
    BmpLayout indexed;
    indexed.bitCount = 8;
    indexed.palette = kSamplePalette;
    const std::vector<uint8_t> table = MakeBmpFile(SamplePicture(), indexed);
    EXPECT_EQ(readError, MessageOf(std::vector<uint8_t>(table.begin(), table.begin() + 14 + 40 + 100)));
}

TEST(BitmapFile, LoadFromFileReportsFilesThatCannotBeOpened) {
    testsupport::TempDir dir;
    gui::Bitmap bitmap;
    const std::string missing = (dir / "missing.bmp").string();
    try {
        bitmap.LoadFromFile(missing);
        FAIL();
    } catch (const gui::EFOpenError& e) {
        EXPECT_EQ("ファイル " + missing + " は開けません", e.what());
    }
    EXPECT_THROW(bitmap.LoadFromFile(dir.Path().string()), gui::EFOpenError);
    testsupport::WriteFile(dir / "ok.bmp", MakeBmpFile(SamplePicture(), {}));
    bitmap.LoadFromFile((dir / "ok.bmp").string());
    EXPECT_TRUE(SameAs(bitmap, SamplePicture()));
}

TEST(BitmapFile, AFailedLoadKeepsThePreviousPicture) {
    gui::Bitmap bitmap = Load(MakeBmpFile(SamplePicture(), {}));
    const std::vector<uint8_t> broken{'B', 'M', 1, 2, 3};
    EXPECT_THROW(bitmap.LoadFromMemory(broken.data(), broken.size()), gui::EReadError);
    EXPECT_TRUE(SameAs(bitmap, SamplePicture()));
}

TEST(BitmapSize, NewAreaTakesTheBrushColour) {
    gui::Bitmap bitmap;
    bitmap.Canvas().Brush().Color = gui::clBlack;
    bitmap.SetWidth(4);
    bitmap.SetHeight(2);
    EXPECT_EQ(0u, bitmap.Pixel(3, 1));
    bitmap.SetPixel(1, 1, 0x123456);
    bitmap.Canvas().Brush().Color = gui::clYellow;
    bitmap.SetSize(5, 3);
    EXPECT_EQ(0x123456u, bitmap.Pixel(1, 1));
    EXPECT_EQ(0xFFFF00u, bitmap.Pixel(4, 0));
    EXPECT_EQ(0xFFFF00u, bitmap.Pixel(0, 2));
    bitmap.SetSize(-1, 3);
    EXPECT_TRUE(bitmap.Empty());
}
