#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "resources/SpriteSheet.h"
#include "support/TestFiles.h"

namespace {

constexpr int kWidth = 125;
constexpr int kHeight = 215;
constexpr size_t kBits = 40 + 256 * 4;
constexpr int kMagenta = 198;
constexpr int kWhite = 203;
constexpr int kBlack = 0;
constexpr int kGrid = 5;

uint32_t U32(std::span<const uint8_t> d, size_t at) {
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}

uint32_t Rgb(std::span<const uint8_t> d, int entry) {
    const size_t at = 40 + static_cast<size_t>(entry) * 4;
    return (static_cast<uint32_t>(d[at + 2]) << 16) | (d[at + 1] << 8) | d[at];
}

struct Sheet {
    std::span<const uint8_t> dib = resources::SpriteSheetDib();
    // The picture is stored bottom-up, 128 bytes a row.
    int At(int x, int y) const { return dib[kBits + static_cast<size_t>(kHeight - 1 - y) * 128 + static_cast<size_t>(x)]; }
};

// The source rectangles the play frame cuts: receptors in rows 0 and 1, note phases in rows 2 to 5.
struct Cell {
    int left;
    int top;
};
Cell ReceptorCell(int column, bool bright) { return {31 * column + 1, bright ? 32 : 1}; }
Cell NoteCell(int column, int phase) { return {31 * column + 1, 31 * phase + 63}; }

// Width of the drawing on one line of a cell, across or along.
int Span(const Sheet& s, Cell c, int line, bool row) {
    int first = -1;
    int last = -1;
    for (int i = 0; i < 30; ++i) {
        const int p = row ? s.At(c.left + i, c.top + line) : s.At(c.left + line, c.top + i);
        if (p == kMagenta) continue;
        if (first < 0) first = i;
        last = i;
    }
    return first < 0 ? 0 : last - first + 1;
}

int Count(const Sheet& s, Cell c, int entry) {
    int n = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) n += s.At(c.left + x, c.top + y) == entry;
    return n;
}

}  // namespace

TEST(SpriteSheet, HeaderAndPaletteAreAsTheScreenExpects) {
    Sheet s;
    ASSERT_EQ(s.dib.size(), 28584u);
    EXPECT_EQ(U32(s.dib, 0), 40u);
    EXPECT_EQ(U32(s.dib, 4), 125u);
    EXPECT_EQ(U32(s.dib, 8), 215u);
    EXPECT_EQ(s.dib[12] | (s.dib[13] << 8), 1);
    EXPECT_EQ(s.dib[14] | (s.dib[15] << 8), 8);
    EXPECT_EQ(U32(s.dib, 16), 0u);
    EXPECT_EQ(U32(s.dib, 20), 27520u);
    const uint32_t firstStatic[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                      0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
    const uint32_t lastStatic[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                     0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Rgb(s.dib, i), firstStatic[i]) << i;
        EXPECT_EQ(Rgb(s.dib, 246 + i), lastStatic[i]) << 246 + i;
    }
    for (int i = 203; i <= 245; ++i) EXPECT_EQ(Rgb(s.dib, i), 0xFFFFFFu) << i;
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(s.dib[40 + static_cast<size_t>(i) * 4 + 3], 0) << i;
        // Magenta only at 198 and 253, so the colour key finds the background's entry.
        EXPECT_EQ(Rgb(s.dib, i) == 0xFF00FF, i == kMagenta || i == 253) << i;
    }
}

TEST(SpriteSheet, GridLinesFrameThirtyPixelCells) {
    Sheet s;
    for (int y = 0; y <= 186; ++y)
        for (int x : {0, 31, 62, 93, 124}) ASSERT_EQ(s.At(x, y), kGrid) << x << "," << y;
    for (int y : {0, 31, 62, 93, 124, 155, 186})
        for (int x = 0; x < kWidth; ++x) ASSERT_EQ(s.At(x, y), kGrid) << x << "," << y;
    int used253 = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) used253 += s.At(x, y) == 253;
    EXPECT_EQ(used253, 0);
    for (size_t row = 0; row < kHeight; ++row)
        for (size_t pad = 125; pad < 128; ++pad) EXPECT_EQ(s.dib[kBits + row * 128 + pad], 0);
}

TEST(SpriteSheet, EveryDrawingTouchesTheFourEdgesOfItsCell) {
    Sheet s;
    for (int row = 0; row < 6; ++row)
        for (int column = 0; column < 4; ++column) {
            const Cell c{31 * column + 1, 31 * row + 1};
            for (int line : {0, 29}) {
                EXPECT_GT(Span(s, c, line, true), 0) << column << "," << row;
                EXPECT_GT(Span(s, c, line, false), 0) << column << "," << row;
            }
            // The background is magenta, entry 198.
            for (auto [x, y] : {std::pair{0, 0}, {29, 0}, {0, 29}, {29, 29}})
                EXPECT_EQ(s.At(c.left + x, c.top + y), kMagenta) << column << "," << row;
        }
}

TEST(SpriteSheet, ArrowsPointLeftDownUpRight) {
    Sheet s;
    for (int phase = -2; phase < 4; ++phase)
        for (int column = 0; column < 4; ++column) {
            const Cell c = phase < 0 ? ReceptorCell(column, phase == -1) : NoteCell(column, phase);
            // The tip is a narrow point; the opposite end is the shaft, wider; the widest line is the wings.
            int tip = 0;
            int tail = 0;
            switch (column) {
            case 0: tip = Span(s, c, 0, false), tail = Span(s, c, 29, false); break;
            case 1: tip = Span(s, c, 29, true), tail = Span(s, c, 0, true); break;
            case 2: tip = Span(s, c, 0, true), tail = Span(s, c, 29, true); break;
            case 3: tip = Span(s, c, 29, false), tail = Span(s, c, 0, false); break;
            }
            EXPECT_LE(tip, 4) << column << "/" << phase;
            EXPECT_GE(tail, 10) << column << "/" << phase;
            EXPECT_LE(tail, 16) << column << "/" << phase;
            EXPECT_EQ(Span(s, c, 15, column == 1 || column == 2), 30) << column << "/" << phase;
        }
}

TEST(SpriteSheet, ReceptorsAreHollowWhiteOutlinedAndNotesHaveBlackOutlines) {
    Sheet s;
    for (int column = 0; column < 4; ++column) {
        const Cell normal = ReceptorCell(column, false);
        const Cell bright = ReceptorCell(column, true);
        EXPECT_GT(Count(s, normal, kWhite), 40);
        EXPECT_EQ(Count(s, normal, kBlack), 0);
        // The same shape, a lighter band.
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x)
                ASSERT_EQ(s.At(normal.left + x, normal.top + y) == kMagenta, s.At(bright.left + x, bright.top + y) == kMagenta);
        const int centre = s.At(normal.left + 15, normal.top + 15);
        EXPECT_EQ(centre, kMagenta) << "hollow";
        for (int phase = 0; phase < 4; ++phase) EXPECT_GT(Count(s, NoteCell(column, phase), kBlack), 60);
        // Phase 0 is filled; the others are hollow, and 2 and 3 carry a white glint at different places.
        EXPECT_LT(Count(s, NoteCell(column, 0), kMagenta), Count(s, NoteCell(column, 1), kMagenta) - 40);
        EXPECT_EQ(Count(s, NoteCell(column, 1), kWhite), 0);
        EXPECT_GT(Count(s, NoteCell(column, 2), kWhite), 8);
        EXPECT_GT(Count(s, NoteCell(column, 3), kWhite), 8);
        bool differ = false;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x)
                differ = differ || (s.At(NoteCell(column, 2).left + x, NoteCell(column, 2).top + y) == kWhite) !=
                                       (s.At(NoteCell(column, 3).left + x, NoteCell(column, 3).top + y) == kWhite);
        EXPECT_TRUE(differ);
    }
}

TEST(SpriteSheet, DigitStripAndLabelBelowTheGrid) {
    Sheet s;
    for (int j = 0; j <= 10; ++j)
        for (int y = 187; y <= 199; ++y) ASSERT_EQ(s.At(12 * j, y), kGrid) << j;
    for (int x = 0; x <= 120; ++x) EXPECT_EQ(s.At(x, 200), kGrid) << x;
    for (int x = 0; x <= 72; ++x) EXPECT_EQ(s.At(x, 214), kGrid) << x;
    for (int y = 201; y <= 213; ++y) {
        EXPECT_EQ(s.At(0, y), kGrid);
        EXPECT_EQ(s.At(72, y), kGrid);
        for (int x = 73; x < kWidth; ++x) EXPECT_EQ(s.At(x, y), kWhite) << x << "," << y;
    }
    for (int y = 187; y <= 199; ++y)
        for (int x = 121; x < kWidth; ++x) EXPECT_EQ(s.At(x, y), kWhite) << x << "," << y;
    // Every digit cell and the label hold a glyph.
    for (int j = 0; j < 10; ++j) {
        int ink = 0;
        for (int y = 187; y <= 199; ++y)
            for (int x = 12 * j + 1; x <= 12 * j + 11; ++x) ink += s.At(x, y) != kMagenta;
        EXPECT_GT(ink, 20) << j;
    }
    // Equal glyphs look equal: the strip reads 0 0 2 2 2 2 2 7 7 7.
    auto same = [&](int a, int b) {
        for (int y = 187; y <= 199; ++y)
            for (int x = 1; x <= 11; ++x)
                if (s.At(12 * a + x, y) != s.At(12 * b + x, y)) return false;
        return true;
    };
    EXPECT_TRUE(same(0, 1));
    EXPECT_TRUE(same(2, 6));
    EXPECT_TRUE(same(7, 9));
    EXPECT_FALSE(same(1, 2));
    EXPECT_FALSE(same(6, 7));
}

TEST(SpriteSheet, IconsAreWrittenInFiveSizes) {
    for (int size : {32, 48, 64, 128, 256}) {
        const auto path = std::filesystem::path(GLIMSTEP_BINARY_DIR) / "resources/sheet" /
                          ("glimstep-" + std::to_string(size) + ".png");
        const std::string png = testsupport::ReadFile(path);
        ASSERT_GT(png.size(), 33u) << path;
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        auto be = [&](size_t at) {
            return (static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24) |
                   (static_cast<uint8_t>(png[at + 1]) << 16) | (static_cast<uint8_t>(png[at + 2]) << 8) |
                   static_cast<uint8_t>(png[at + 3]);
        };
        EXPECT_EQ(be(16), static_cast<uint32_t>(size));
        EXPECT_EQ(be(20), static_cast<uint32_t>(size));
    }
}
