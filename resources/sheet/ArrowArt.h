// The arrow sprite sheet, drawn from one vector arrow: a 125x215 palette picture with a grid of
// 30x30 cells (receptors normal and bright, note arrows in four animation phases, one column per
// direction), a digit strip and a label, and application icons rendered from the same arrow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sheet {

constexpr int kSheetWidth = 125;
constexpr int kSheetHeight = 215;
constexpr int kCell = 30;
constexpr int kPitch = 31;
constexpr int kMagenta = 198;
constexpr int kMagentaAgain = 253;
constexpr int kWhite = 203;
constexpr int kGridLine = 5;

// Palette entries as 0xRRGGBB.
using Palette = std::array<uint32_t, 256>;

struct IndexedPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // top row first, one palette index per pixel
    uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

struct RgbaPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // top row first, R, G, B, A
};

enum class Direction { Left, Down, Up, Right };

// Cell rows, top to bottom.
enum class CellKind { Receptor, ReceptorBright, Note0, Note1, Note2, Note3 };

const Palette& SheetPalette();
IndexedPicture DrawSheet();
// A note arrow pointing up, anti-aliased, on a transparent background.
RgbaPicture DrawIcon(int size);

}  // namespace sheet
