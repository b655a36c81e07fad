#include <gtest/gtest.h>

#include <string>

#include "media/DIB.h"
#include "support/BmpBuilder.h"

using testsupport::BmpLayout;
using testsupport::MakeDib;
using testsupport::Picture;
using testsupport::SamplePicture;
using testsupport::kSamplePalette;

namespace {

media::TDIB Load(const std::vector<uint8_t>& data) {
    media::TDIB dib;
    dib.LoadFromStream(data.data(), data.size());
    return dib;
}

std::string MessageOf(const std::vector<uint8_t>& data) {
    try {
        Load(data);
    } catch (const gui::Exception& e) {
        return e.what();
    }
    return "(no error)";
}

::testing::AssertionResult SameAs(const media::TDIB& dib, const Picture& picture) {
    return testsupport::PictureMatches(
        dib.Width(), dib.Height(), [&dib](int x, int y) { return dib.PixelXrgb(x, y); }, picture);
}

BmpLayout Indexed(int bits) {
    BmpLayout layout;
    layout.bitCount = bits;
    layout.palette = kSamplePalette;
    return layout;
}

}  // namespace

TEST(DIBReader, AcceptsOnlyTheCoreAndInfoHeaders) {
    for (uint32_t header : {12u, 40u}) {
        BmpLayout layout = Indexed(8);
        layout.headerSize = header;
        EXPECT_TRUE(SameAs(Load(MakeDib(SamplePicture(), layout)), SamplePicture())) << header;
    }
    for (uint32_t header : {52u, 56u, 108u, 124u}) {
        BmpLayout layout;
        layout.headerSize = header;
        EXPECT_EQ("不正な DIB です", MessageOf(MakeDib(SamplePicture(), layout))) << header;
    }
    EXPECT_EQ("不正な DIB です", MessageOf({40, 0, 0}));
    EXPECT_TRUE(Load({}).Empty());
}

TEST(DIBReader, ColourCountComesFromColoursUsed) {
    BmpLayout all = Indexed(8);
    const media::TDIB full = Load(MakeDib(SamplePicture(), all));
    EXPECT_TRUE(SameAs(full, SamplePicture()));
    BmpLayout sixteen = Indexed(8);
    sixteen.colorsUsed = 16;
    const std::vector<uint8_t> data = MakeDib(SamplePicture(), sixteen);
    EXPECT_EQ(40u + 16 * 4 + 2 * 4, data.size());
    const media::TDIB small = Load(data);
    EXPECT_TRUE(SameAs(small, SamplePicture()));
    EXPECT_EQ(0xFFu, small.ColorTable()[1].rgbRed);
    EXPECT_EQ(gui::TRGBQuad{}, small.ColorTable()[200]);
}

TEST(DIBReader, TopDownEqualsBottomUpInEveryDepth) {
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        BmpLayout layout = bits <= 8 ? Indexed(bits) : BmpLayout{};
        layout.bitCount = bits;
        Picture picture = SamplePicture();
        if (bits == 1) {
            layout.palette = {0x000000, 0xFFFFFF};
            picture = {3, 2, {0xFFFFFF, 0, 0, 0, 0, 0xFFFFFF}};
        }
        if (bits == 16) picture = {3, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0xFF00FF}};
        const media::TDIB bottomUp = Load(MakeDib(picture, layout));
        layout.topDown = true;
        const media::TDIB topDown = Load(MakeDib(picture, layout));
        EXPECT_TRUE(SameAs(bottomUp, picture)) << bits;
        EXPECT_TRUE(SameAs(topDown, picture)) << bits;
        EXPECT_EQ(bits, topDown.BitCount());
    }
}

TEST(DIBReader, RunLengthDataIsDecoded) {
    const Picture wide{5, 2, {0xFF0000, 0xFF0000, 0x00FF00, 0x808080, 0x808080, 0, 0, 0, 0, 0xFFFFFF}};
    for (uint32_t compression : {1u, 2u}) {
        BmpLayout layout = Indexed(compression == 1 ? 8 : 4);
        layout.compression = compression;
        const media::TDIB dib = Load(MakeDib(wide, layout));
        EXPECT_TRUE(SameAs(dib, wide)) << compression;
        const media::TDIB copy = dib;
        EXPECT_TRUE(SameAs(copy, wide));
    }
    BmpLayout mismatch = Indexed(4);
    mismatch.compression = 1;
    EXPECT_EQ("不正な DIB です", MessageOf(MakeDib(wide, mismatch)));
}

TEST(DIBReader, BitCountsAndMasksAreChecked) {
    BmpLayout rgb565;
    rgb565.bitCount = 16;
    rgb565.compression = 3;
    rgb565.masks = {0xF800, 0x07E0, 0x001F};
    const media::TDIB dib = Load(MakeDib(SamplePicture(), rgb565));
    EXPECT_EQ(0xF800u, dib.RBitMask());
    EXPECT_EQ(0xF80000u, dib.PixelXrgb(0, 0) & 0xF80000);
    BmpLayout rgb444 = rgb565;
    rgb444.masks = {0x0F00, 0x00F0, 0x000F};
    EXPECT_EQ("不正なピクセルフォーマットです", MessageOf(MakeDib(SamplePicture(), rgb444)));
    BmpLayout bgr32;
    bgr32.bitCount = 32;
    bgr32.compression = 3;
    bgr32.masks = {0xFF, 0xFF00, 0xFF0000};
    EXPECT_EQ("不正なピクセルフォーマットです", MessageOf(MakeDib(SamplePicture(), bgr32)));

    std::vector<uint8_t> data = MakeDib(SamplePicture(), {});
    data[14] = 12;
    EXPECT_EQ("不正なビット数です (12)", MessageOf(data));
    data = MakeDib(SamplePicture(), {});
    data[16] = 4;
    EXPECT_EQ("不正な DIB です", MessageOf(data));
    data = MakeDib(SamplePicture(), {});
    data[4] = data[5] = 0;
    EXPECT_EQ("DIB を作成できません", MessageOf(data));
    data = MakeDib(SamplePicture(), {});
    data[5] = 0x80;
    EXPECT_EQ("DIB を作成できません", MessageOf(data));
    data = MakeDib(SamplePicture(), {});
    data.pop_back();
    EXPECT_EQ("ストリームからの読み込みエラー", MessageOf(data));
}

TEST(DIBFile, NeedsTheBmFileHeader) {
    const std::vector<uint8_t> file = testsupport::MakeBmpFile(SamplePicture(), {});
    media::TDIB dib;
    dib.LoadFromFileData(file.data(), file.size());
    EXPECT_TRUE(SameAs(dib, SamplePicture()));
    dib.LoadFromFileData(nullptr, 0);
    EXPECT_TRUE(SameAs(dib, SamplePicture()));
    std::vector<uint8_t> wrong = file;
    wrong[1] = 'A';
    EXPECT_THROW(dib.LoadFromFileData(wrong.data(), wrong.size()), gui::EInvalidGraphic);
    EXPECT_THROW(dib.LoadFromFileData(file.data(), 10), gui::EInvalidGraphic);
}

TEST(DIBImage, CopiesShareUntilOneChangesAndSaveReadsBack) {
    media::TDIB original = Load(MakeDib(SamplePicture(), Indexed(8)));
    media::TDIB copy = original;
    copy.ScanLine(0)[0] = 3;
    EXPECT_EQ(0xFF0000u, original.PixelXrgb(0, 0));
    EXPECT_EQ(0x0000FFu, copy.PixelXrgb(0, 0));
    const std::vector<uint8_t> saved = copy.SaveToStream();
    const media::TDIB again = Load(saved);
    EXPECT_EQ(0x0000FFu, again.PixelXrgb(0, 0));
    EXPECT_EQ(copy.ColorTable(), again.ColorTable());
    EXPECT_EQ(8, again.BitCount());
}
