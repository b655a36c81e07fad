#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "gui/Graphics.h"

namespace {

// GDI's rule written out: the smallest squared distance, the lowest index among equals.
int Nearest(const gui::Palette& palette, uint32_t xrgb) {
    int best = 0;
    int64_t bestDistance = INT64_MAX;
    for (int i = 0; i < 256; ++i) {
        int64_t distance = 0;
        for (int shift : {0, 8, 16}) {
            const int64_t d = static_cast<int64_t>((palette.Entry(i) >> shift) & 0xFF) - ((xrgb >> shift) & 0xFF);
            distance += d * d;
        }
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

TEST(Palette, NearestIndexFollowsTheRuleForEveryKindOfPalette) {
    std::mt19937 random(7);
    for (int round = 0; round < 4; ++round) {
        gui::Palette palette;
        // Random entries, a few of them repeated (ties go to the lowest index) and some clustered.
        for (int i = 0; i < 256; ++i) {
            uint32_t c = random() & 0xFFFFFF;
            if (round == 1) c &= 0x3F3F3F;
            if (round == 2 && i % 3 == 0) c = palette.Entry(i / 2);
            if (round == 3) c = (i % 7) * 0x242424;
            palette.SetEntry(i, c);
        }
        for (int k = 0; k < 20000; ++k) {
            const uint32_t colour = random() & 0xFFFFFF;
            ASSERT_EQ(palette.NearestIndex(colour), Nearest(palette, colour)) << std::hex << colour;
        }
        for (uint32_t colour : {0x000000u, 0xFFFFFFu, 0x070707u, 0x080808u, 0xF8F8F8u})
            ASSERT_EQ(palette.NearestIndex(colour), Nearest(palette, colour)) << std::hex << colour;
    }
}

TEST(Palette, ANewEntryIsFoundAtOnce) {
    gui::Palette palette;
    const uint32_t colour = 0x123456;
    const uint8_t before = palette.NearestIndex(colour);
    palette.SetEntry(200, colour);
    EXPECT_NE(before, 200);
    EXPECT_EQ(palette.NearestIndex(colour), 200);
    EXPECT_EQ(palette.NearestIndex(0x123457), Nearest(palette, 0x123457));
}

}  // namespace
