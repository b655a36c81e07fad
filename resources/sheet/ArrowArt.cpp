#include "ArrowArt.h"

#include <algorithm>
#include <cmath>

namespace sheet {

namespace {

// Palette entries of the art. The rest of 10..202 is a colour cube and a grey ramp, so that
// pictures shown on an 8-bit screen with this palette find near colours.
constexpr int kGreen = 10;     // 8 yellow-greens, dark to light
constexpr int kFill = 18;      // 4 pale fills, lightest first
constexpr int kDarkGrey = 22;  // 4 dark greys, dark to light
constexpr int kLightGrey = 26; // 4 light greys, dark to light
constexpr int kBlue = 30;      // 6 blues, dark to light
constexpr int kOrange = 36;    // 4 oranges, dark to light
constexpr int kCube = 40;
constexpr int kBlack = 0;

Palette MakePalette() {
    Palette p{};
    const uint32_t firstStatic[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                      0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
    const uint32_t lastStatic[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                     0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    for (int i = 0; i < 10; ++i) {
        p[static_cast<size_t>(i)] = firstStatic[i];
        p[static_cast<size_t>(246 + i)] = lastStatic[i];
    }
    const uint32_t art[] = {
        0x1E3A00, 0x3A6400, 0x568C00, 0x74B000, 0x92CC10, 0xAEE030, 0xCCF05A, 0xE8FF96,  // greens
        0xFAFFE6, 0xF0FFC4, 0xE2FAA2, 0xD2F282,                                          // fills
        0x2A2A2E, 0x3A3A40, 0x4C4C54, 0x60606A,                                          // dark greys
        0x9C9CA4, 0xB4B4BC, 0xCCCCD2, 0xE4E4E8,                                          // light greys
        0x002C8C, 0x0040C0, 0x1060E8, 0x3C88FF, 0x78B0FF, 0xB4D4FF,                      // blues
        0xB04800, 0xE06C00, 0xFF9420, 0xFFBC64,                                          // oranges
    };
    size_t next = kGreen;
    for (uint32_t c : art) p[next++] = c;
    const uint32_t levels[5] = {0x00, 0x40, 0x80, 0xC0, 0xFF};
    next = kCube;
    for (uint32_t r : levels)
        for (uint32_t g : levels)
            for (uint32_t b : levels) {
                const uint32_t c = (r << 16) | (g << 8) | b;
                if (c == 0xFF00FF) continue;  // magenta only at 198 (and 253), so the colour key is unique
                p[next++] = c;
            }
    // Greys fill what is left up to 202, around the magenta entry.
    const size_t greyCount = (202 - next + 1) - 1;
    for (size_t i = 0; i < greyCount; ++i) {
        const uint32_t v = static_cast<uint32_t>(8 + (240 * i) / (greyCount - 1));
        size_t index = next + i;
        if (index >= kMagenta) ++index;
        p[index] = (v << 16) | (v << 8) | v;
    }
    p[kMagenta] = 0xFF00FF;
    for (int i = kWhite; i <= 245; ++i) p[static_cast<size_t>(i)] = 0xFFFFFF;
    return p;
}

struct Point {
    double x;
    double y;
};

// The up arrow in cell units (0..30): a head with wings that sweep back and a wide shaft.
constexpr Point kArrow[] = {{15, 0},      {30, 15},   {30, 24},     {21.5, 15.5}, {21.5, 30},
                            {8.5, 30},    {8.5, 15.5}, {0, 24},     {0, 15}};
// Where the shaft begins, measured from the tip, and its half width.
constexpr double kShaftStart = 15.5;
constexpr double kShaftHalf = 6.5;

double DistanceToSegment(Point p, Point a, Point b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    const double ex = a.x + t * dx - p.x;
    const double ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

// Depth of a point inside the arrow: distance to the outline, negative outside.
double Depth(Point p) {
    constexpr size_t n = std::size(kArrow);
    double nearest = 1e9;
    bool inside = false;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const Point a = kArrow[i];
        const Point b = kArrow[j];
        nearest = std::min(nearest, DistanceToSegment(p, a, b));
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside ? nearest : -nearest;
}

// A cell point in the frame of the up arrow: u across the arrow, v from the tip along it.
Point ArrowFrame(Direction direction, double x, double y) {
    switch (direction) {
    case Direction::Up: return {x, y};
    case Direction::Down: return {x, kCell - y};
    case Direction::Left: return {y, x};
    case Direction::Right: return {y, kCell - x};
    }
    return {x, y};
}

constexpr int kTransparent = -1;

// Outline and band widths, in cell units from the arrow's edge inwards.
constexpr double kEdge = -0.5;
constexpr double kOutline = 0.9;
constexpr double kBand = 4.1;
constexpr double kInner = 5.0;

int ShadeIndex(int base, int count, double t) {
    const int i = static_cast<int>(std::lround(t * (count - 1)));
    return base + std::clamp(i, 0, count - 1);
}

// The palette entry of a point of a cell, or kTransparent.
int Paint(CellKind kind, Point a) {
    const double depth = Depth(a);
    if (depth < kEdge) return kTransparent;
    // Light falls on the band's outer side; the inner side is in shade.
    const double across = std::clamp((depth - kOutline) / (kBand - kOutline), 0.0, 1.0);
    const bool receptor = kind == CellKind::Receptor || kind == CellKind::ReceptorBright;
    if (receptor) {
        if (depth < kOutline - 0.2 || (depth >= kBand - 0.2 && depth < kInner - 0.2)) return kWhite;
        if (depth >= kInner - 0.2) return kTransparent;
        const int base = kind == CellKind::ReceptorBright ? kLightGrey : kDarkGrey;
        return ShadeIndex(base, 4, 1.0 - across);
    }
    if (depth < kOutline) return kBlack;
    // The glint of phases 2 and 3: a white bar across the shaft, nearer the head in phase 3.
    double glintFrom = 0;
    double glintTo = 0;
    if (kind == CellKind::Note2) {
        glintFrom = 24.0;
        glintTo = 26.0;
    } else if (kind == CellKind::Note3) {
        glintFrom = 18.0;
        glintTo = 20.0;
    }
    const double fromAxis = std::abs(a.x - kCell / 2.0);
    if (fromAxis < kShaftHalf - kOutline && a.y >= glintFrom - 1 && a.y < glintTo + 1)
        return a.y >= glintFrom && a.y < glintTo ? kWhite : kGreen + 7;
    if (depth < kBand) return ShadeIndex(kGreen + 2, 6, 1.0 - across);
    if (depth < kInner) return kind == CellKind::Note0 ? kGreen + 2 : kBlack;
    if (kind == CellKind::Note0) {
        const double along = std::clamp(a.y / kCell, 0.0, 1.0);
        return ShadeIndex(kFill, 4, along);
    }
    return kTransparent;
}

constexpr const char* kGlyphs[] = {
    // 0
    ".#####."
    "##...##"
    "##..###"
    "##.#.##"
    "###..##"
    "##...##"
    "##...##"
    "##...##"
    ".#####.",
    // 2
    ".#####."
    "##...##"
    ".....##"
    "....##."
    "...##.."
    "..##..."
    ".##...."
    "##....."
    "#######",
    // 7
    "#######"
    "##...##"
    "....##."
    "....##."
    "...##.."
    "...##.."
    "..##..."
    "..##..."
    "..##...",
    // N
    "##...##"
    "###..##"
    "###..##"
    "####.##"
    "##.####"
    "##..###"
    "##..###"
    "##...##"
    "##...##",
    // O
    ".#####."
    "##...##"
    "##...##"
    "##...##"
    "##...##"
    "##...##"
    "##...##"
    "##...##"
    ".#####.",
    // R
    "######."
    "##...##"
    "##...##"
    "##...##"
    "######."
    "##.##.."
    "##..##."
    "##...##"
    "##...##",
    // M
    "##...##"
    "###.###"
    "#######"
    "##.#.##"
    "##.#.##"
    "##...##"
    "##...##"
    "##...##"
    "##...##",
    // A
    "..###.."
    ".##.##."
    "##...##"
    "##...##"
    "##...##"
    "#######"
    "##...##"
    "##...##"
    "##...##",
    // L
    "##....."
    "##....."
    "##....."
    "##....."
    "##....."
    "##....."
    "##....."
    "##....."
    "#######",
};
constexpr int kGlyphWidth = 7;
constexpr int kGlyphHeight = 9;

const char* Glyph(char c) {
    const char order[] = "027NORMAL";
    for (int i = 0; order[i] != '\0'; ++i)
        if (order[i] == c) return kGlyphs[i];
    return nullptr;
}

class Canvas {
public:
    explicit Canvas(IndexedPicture& picture) : p_(picture) {}
    void Set(int x, int y, int index) {
        p_.pixels[static_cast<size_t>(y) * static_cast<size_t>(p_.width) + static_cast<size_t>(x)] = static_cast<uint8_t>(index);
    }
    int Get(int x, int y) const { return p_.At(x, y); }
    void Fill(int left, int top, int right, int bottom, int index) {
        for (int y = top; y <= bottom; ++y)
            for (int x = left; x <= right; ++x) Set(x, y, index);
    }

    // A glyph in blue, lighter at the top, with an orange edge around it.
    void Text(int left, int top, const char* text, int advance) {
        for (int i = 0; text[i] != '\0'; ++i) {
            const char* glyph = Glyph(text[i]);
            const int gx = left + i * advance;
            auto on = [&](int x, int y) {
                return x >= 0 && y >= 0 && x < kGlyphWidth && y < kGlyphHeight && glyph[y * kGlyphWidth + x] == '#';
            };
            for (int y = -1; y <= kGlyphHeight; ++y)
                for (int x = -1; x <= kGlyphWidth; ++x) {
                    if (on(x, y)) {
                        Set(gx + x, top + y, kBlue + 5 - (y * 5) / (kGlyphHeight - 1));
                        continue;
                    }
                    bool edge = false;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) edge = edge || on(x + dx, y + dy);
                    if (edge) Set(gx + x, top + y, y < kGlyphHeight / 2 ? kOrange + 2 : kOrange + 1);
                }
        }
    }

private:
    IndexedPicture& p_;
};

}  // namespace

const Palette& SheetPalette() {
    static const Palette palette = MakePalette();
    return palette;
}

IndexedPicture DrawSheet() {
    IndexedPicture picture{kSheetWidth, kSheetHeight,
                           std::vector<uint8_t>(static_cast<size_t>(kSheetWidth) * kSheetHeight, kMagenta)};
    Canvas canvas(picture);
    const Direction columns[4] = {Direction::Left, Direction::Down, Direction::Up, Direction::Right};
    const CellKind rows[6] = {CellKind::Receptor, CellKind::ReceptorBright, CellKind::Note0,
                              CellKind::Note1,    CellKind::Note2,          CellKind::Note3};
    for (int r = 0; r < 6; ++r)
        for (int k = 0; k < 4; ++k)
            for (int y = 0; y < kCell; ++y)
                for (int x = 0; x < kCell; ++x) {
                    const int index = Paint(rows[r], ArrowFrame(columns[k], x + 0.5, y + 0.5));
                    canvas.Set(kPitch * k + 1 + x, kPitch * r + 1 + y, index == kTransparent ? kMagenta : index);
                }
    const int gridBottom = kPitch * 6;
    for (int i = 0; i <= 4; ++i) canvas.Fill(kPitch * i, 0, kPitch * i, gridBottom, kGridLine);
    for (int i = 0; i <= 6; ++i) canvas.Fill(0, kPitch * i, kSheetWidth - 1, kPitch * i, kGridLine);

    // Below the grid: ten digit cells of 11x13 in a framed strip, the label NORMAL in a framed
    // box under it, white to their right.
    canvas.Fill(0, gridBottom + 1, kSheetWidth - 1, kSheetHeight - 1, kWhite);
    const int stripTop = gridBottom + 1;
    const int stripBottom = stripTop + 12;
    for (int j = 0; j <= 10; ++j) canvas.Fill(12 * j, stripTop, 12 * j, stripBottom, kGridLine);
    canvas.Fill(0, stripBottom + 1, 120, stripBottom + 1, kGridLine);
    const char digits[] = "0022222777";
    for (int j = 0; j < 10; ++j) {
        canvas.Fill(12 * j + 1, stripTop, 12 * j + 11, stripBottom, kMagenta);
        const char one[2] = {digits[j], '\0'};
        canvas.Text(12 * j + 3, stripTop + 2, one, 0);
    }
    const int labelTop = stripBottom + 2;
    const int labelBottom = labelTop + 12;
    canvas.Fill(0, labelTop, 0, labelBottom + 1, kGridLine);
    canvas.Fill(72, labelTop - 1, 72, labelBottom + 1, kGridLine);
    canvas.Fill(0, labelBottom + 1, 72, labelBottom + 1, kGridLine);
    canvas.Fill(1, labelTop, 71, labelBottom, kMagenta);
    canvas.Text(5, labelTop + 2, "NORMAL", 11);
    return picture;
}

RgbaPicture DrawIcon(int size) {
    RgbaPicture icon{size, size, std::vector<uint8_t>(static_cast<size_t>(size) * static_cast<size_t>(size) * 4, 0)};
    const Palette& palette = SheetPalette();
    constexpr int kSamples = 4;
    // A small margin so the arrow's outline is not cut at the icon's edge.
    const double scale = (kCell + 2.0) / size;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double r = 0;
            double g = 0;
            double b = 0;
            int covered = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double cx = (x + (sx + 0.5) / kSamples) * scale - 1.0;
                    const double cy = (y + (sy + 0.5) / kSamples) * scale - 1.0;
                    const int index = Paint(CellKind::Note0, {cx, cy});
                    if (index == kTransparent) continue;
                    const uint32_t c = palette[static_cast<size_t>(index)];
                    r += (c >> 16) & 0xFF;
                    g += (c >> 8) & 0xFF;
                    b += c & 0xFF;
                    ++covered;
                }
            uint8_t* px = &icon.pixels[(static_cast<size_t>(y) * static_cast<size_t>(size) + static_cast<size_t>(x)) * 4];
            if (covered == 0) continue;
            px[0] = static_cast<uint8_t>(std::lround(r / covered));
            px[1] = static_cast<uint8_t>(std::lround(g / covered));
            px[2] = static_cast<uint8_t>(std::lround(b / covered));
            px[3] = static_cast<uint8_t>((255 * covered + kSamples * kSamples / 2) / (kSamples * kSamples));
        }
    return icon;
}

}  // namespace sheet
