#include "Pictures.h"

#include <algorithm>
#include <cmath>

namespace demo {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Color {
    double r, g, b;
};

Color Mix(Color a, Color b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Color Add(Color a, Color b, double amount)
{
    return {a.r + b.r * amount, a.g + b.g * amount, a.b + b.b * amount};
}

Rgb ToRgb(Color c)
{
    auto channel = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return {channel(c.r), channel(c.g), channel(c.b)};
}

Color Hue(double h)
{
    h -= std::floor(h);
    return {0.5 + 0.5 * std::cos(2 * kPi * h), 0.5 + 0.5 * std::cos(2 * kPi * (h - 1.0 / 3)),
            0.5 + 0.5 * std::cos(2 * kPi * (h - 2.0 / 3))};
}

uint32_t Hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

double Random01(uint32_t seed) { return Hash(seed) / 4294967296.0; }

template <typename Shade>
Picture Paint(Shade shade)
{
    Picture picture(kPictureSize, kPictureSize);
    for (int y = 0; y < kPictureSize; ++y) {
        for (int x = 0; x < kPictureSize; ++x) picture.At(x, y) = ToRgb(shade(x + 0.5, y + 0.5));
    }
    return picture;
}

// Small soft stars scattered over the upper part of a picture.
double StarLight(double x, double y, unsigned seed, int count, double maxY)
{
    double light = 0.0;
    for (int i = 0; i < count; ++i) {
        double sx = Random01(seed + i * 3) * kPictureSize;
        double sy = Random01(seed + i * 3 + 1) * maxY;
        double size = 0.6 + 1.4 * Random01(seed + i * 3 + 2);
        double d2 = (x - sx) * (x - sx) + (y - sy) * (y - sy);
        light += std::exp(-d2 / (size * size));
    }
    return light;
}

}  // namespace

Picture Dawn()
{
    return Paint([](double x, double y) {
        Color top{0.08, 0.05, 0.25}, middle{0.45, 0.2, 0.55}, horizon{1.0, 0.55, 0.45};
        Color sky = y < 120 ? Mix(top, middle, y / 120) : Mix(middle, horizon, (y - 120) / 80);
        double glow = std::exp(-((x - 170) * (x - 170) + (y - 200) * (y - 200)) / 2500.0);
        sky = Add(sky, {1.0, 0.8, 0.5}, 0.5 * glow);
        sky = Add(sky, {1, 1, 1}, 0.9 * StarLight(x, y, 100, 40, 110) * (1.0 - y / 130));
        double hills = 205 + 14 * std::sin(x / 23.0) + 8 * std::sin(x / 9.0 + 1.3);
        double nearHills = 228 + 10 * std::sin(x / 31.0 + 2.0) + 4 * std::sin(x / 7.0);
        if (y > nearHills) return Color{0.1, 0.04, 0.18};
        if (y > hills) return Color{0.25, 0.1, 0.35};
        return sky;
    });
}

Picture SunsetGrid()
{
    return Paint([](double x, double y) {
        constexpr double horizon = 165;
        if (y < horizon) {
            Color sky = Mix({0.25, 0.05, 0.45}, {1.0, 0.45, 0.35}, y / horizon);
            double dx = x - 128, dy = y - 120;
            double r = std::sqrt(dx * dx + dy * dy);
            if (r < 62) {
                // Sun with the bands of a retro sunset cut into its lower half.
                bool cut = dy > 0 && std::fmod(dy, 12.0) > 12.0 - 2.0 - dy / 12.0;
                if (!cut) return Mix({1.0, 0.95, 0.35}, {1.0, 0.3, 0.55}, (dy + 62) / 124);
            }
            return Add(sky, {1.0, 0.6, 0.4}, 0.5 * std::exp(-(r - 62) * (r - 62) / 200.0));
        }
        double depth = (y - horizon) / (kPictureSize - horizon);
        Color floor = Mix({0.12, 0.02, 0.2}, {0.22, 0.03, 0.32}, depth);
        // A floor grid in perspective: rows lie at equal distances, so they crowd towards the
        // horizon; each line is about one pixel thick and fades into the haze far away.
        double rise = y - horizon + 1.0;
        double distance = 900.0 / rise;
        double pixelSpan = 900.0 / (rise * rise);
        double row = std::fmod(distance, 24.0);
        double rowLine = std::clamp(1.2 - std::min(row, 24.0 - row) / std::max(pixelSpan, 0.1), 0.0, 1.0);
        double lane = (x - 128) / rise * 3.0;
        double laneSpan = 3.0 / rise;
        double columnLine =
            std::clamp(1.2 - std::fabs(lane - std::round(lane)) / std::max(laneSpan, 1e-3), 0.0, 1.0);
        double haze = std::clamp(depth * 2.5, 0.0, 1.0);
        double line = std::max(rowLine * std::min(1.0, 3.0 / pixelSpan), columnLine) * haze;
        Color glow = Mix({1.0, 0.4, 0.6}, floor, depth * 4.0);
        return Mix(glow, Mix({1.0, 0.2, 0.8}, {0.3, 0.9, 1.0}, depth), line);
    });
}

Picture Plasma(double phase, bool greenish)
{
    return Paint([=](double x, double y) {
        double u = x / 256.0 * 2 * kPi, v = y / 256.0 * 2 * kPi;
        double value = std::sin(u * 2.0 + phase) + std::sin(v * 3.0 - phase * 0.7) +
                       std::sin((u + v) * 1.5 + phase * 1.3) +
                       std::sin(std::sqrt((x - 128) * (x - 128) + (y - 100) * (y - 100)) / 14.0 - phase);
        double h = value / 8.0 + (greenish ? 0.3 : 0.55);
        Color c = Mix(Hue(h), {0.05, 0.1, 0.3}, 0.35);
        double ripple = 0.5 + 0.5 * std::sin(value * 3.0);
        return Add(c, {0.6, 0.9, 1.0}, 0.25 * ripple * ripple * ripple);
    });
}

Picture StarryNight()
{
    return Paint([](double x, double y) {
        Color sky = Mix({0.01, 0.02, 0.12}, {0.08, 0.1, 0.3}, y / 256);
        // Aurora curtains: a sharp lower edge, fading upwards, in vertical streaks.
        double band = 95 + 22 * std::sin(x / 40.0) + 8 * std::sin(x / 13.0 + 1.0);
        double below = std::max(0.0, y - band), above = std::max(0.0, band - y);
        double streaks = 0.55 + 0.45 * std::sin(x * 0.7 + 3.0 * std::sin(x / 23.0));
        double aurora = std::exp(-below * below / 30.0) * std::exp(-above / 38.0) * streaks;
        sky = Add(sky, Mix({0.15, 1.0, 0.55}, {0.6, 0.35, 1.0}, above / 70.0 + x / 600.0), 0.8 * aurora);
        sky = Add(sky, {1, 1, 0.9}, StarLight(x, y, 500, 90, 256));
        double mx = x - 190, my = y - 55;
        double r = std::sqrt(mx * mx + my * my);
        if (r < 24) {
            double crater = std::exp(-((mx + 8) * (mx + 8) + (my - 5) * (my - 5)) / 30.0) +
                            std::exp(-((mx - 7) * (mx - 7) + (my + 8) * (my + 8)) / 18.0);
            return Mix({1.0, 0.97, 0.85}, {0.75, 0.75, 0.7}, crater);
        }
        sky = Add(sky, {0.8, 0.8, 0.6}, 0.35 * std::exp(-(r - 24) / 12.0));
        if (y > 215 + 6 * std::sin(x / 19.0)) return Color{0.02, 0.02, 0.08};
        return sky;
    });
}

Picture Festival(double turn, double hueShift)
{
    return Paint([=](double x, double y) {
        double dx = x - 128, dy = y - 128;
        double r = std::sqrt(dx * dx + dy * dy);
        double angle = std::atan2(dy, dx) / (2 * kPi) + turn;
        double ray = std::floor(angle * 12.0);
        Color c = Hue(ray / 12.0 + hueShift);
        c = Mix(c, {1, 1, 1}, 0.15);
        double ring = 0.5 + 0.5 * std::cos(r / 7.0);
        c = Mix(c, Hue(hueShift + 0.5 + r / 400.0), 0.35 * ring * ring);
        return Add(c, {1.0, 0.95, 0.8}, 1.2 * std::exp(-r * r / 900.0));
    });
}

Picture Sunrise()
{
    return Paint([](double x, double y) {
        constexpr double horizon = 150;
        double dx = x - 128, dy = y - horizon;
        double r = std::sqrt(dx * dx + dy * dy);
        if (y < horizon) {
            Color sky = Mix({0.3, 0.5, 0.9}, {1.0, 0.55, 0.25}, std::pow(y / horizon, 1.5));
            if (r < 34) return Color{1.0, 0.97, 0.8};
            double angle = std::atan2(dy, dx);
            double rays = 0.5 + 0.5 * std::cos(angle * 14.0);
            return Add(sky, {1.0, 0.8, 0.4}, 0.7 * std::exp(-(r - 34) / 30.0) + 0.12 * rays * (1 - y / horizon));
        }
        Color sea = Mix({0.2, 0.35, 0.6}, {0.05, 0.12, 0.3}, (y - horizon) / (kPictureSize - horizon));
        double shimmer = std::exp(-dx * dx / (200.0 + 8.0 * (y - horizon))) *
                         (0.5 + 0.5 * std::sin(y * 1.3 + std::sin(x / 5.0) * 2.0));
        return Add(sea, {1.0, 0.85, 0.5}, 0.8 * shimmer);
    });
}

Picture Sparkles(unsigned seed)
{
    return Paint([=](double x, double y) {
        Color c{0, 0, 0};
        for (int i = 0; i < 14; ++i) {
            double sx = 10 + Random01(seed + i * 5) * 236, sy = 10 + Random01(seed + i * 5 + 1) * 236;
            double size = 3 + 6 * Random01(seed + i * 5 + 2);
            double dx = std::fabs(x - sx), dy = std::fabs(y - sy);
            // A four-pointed star: bright along the two axes, fading with distance.
            double star = std::max(std::exp(-dy * 1.2) * std::max(0.0, 1 - dx / size),
                                   std::exp(-dx * 1.2) * std::max(0.0, 1 - dy / size));
            star = std::max(star, std::exp(-(dx * dx + dy * dy) / 3.0));
            c = Add(c, Mix({1.0, 1.0, 0.7}, {0.6, 0.95, 1.0}, Random01(seed + i * 5 + 3)), star);
        }
        // Faint pixels would turn into dark fringes; the layer shows only what is clearly lit.
        if (c.r + c.g + c.b < 0.45) return Color{0, 0, 0};
        return c;
    });
}

Picture Blank() { return Picture(16, 16); }

}  // namespace demo
