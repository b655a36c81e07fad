// glimstep-display-demo [--fullscreen] [--bits 8|16|32] [--seconds N]
// Draws an animated test picture through the display component until the time is up or the
// window is closed: a pulsing backdrop, a smooth gradient (banded at 8 bits, where the picture
// is mapped to the 256 colours in force), colour-keyed sprites, sprites fading out with
// DrawBlended, a console bitmap and Japanese text through the surface canvas.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gui/Application.h"
#include "gui/Bitmap.h"
#include "gui/Clock.h"
#include "gui/Form.h"
#include "media/DIB.h"
#include "media/DXDraws.h"

namespace {

// A 4×2 sheet of 30×30 cells on magenta: arrows in four colours, row 1 brighter.
media::TDIB MakeSheet() {
    media::TDIB dib;
    dib.SetSize(124, 62, 8);
    gui::TColorTable table = gui::SystemPalette();
    const gui::TRGBQuad colors[8] = {{255, 64, 64, 0},  {64, 255, 64, 0},  {64, 64, 255, 0},  {64, 255, 255, 0},
                                     {255, 160, 160, 0}, {160, 255, 160, 0}, {160, 160, 255, 0}, {160, 255, 255, 0}};
    for (int i = 0; i < 8; ++i) table[static_cast<size_t>(20 + i)] = colors[i];
    dib.SetColorTable(table);
    for (int y = 0; y < 62; ++y) {
        uint8_t* row = dib.ScanLine(y);
        for (int x = 0; x < 124; ++x) {
            const int cellX = x % 31, cellY = y % 31, column = x / 31, band = y / 31;
            // A triangle pointing up inside each cell, with a black outline.
            const int half = cellY / 2;
            const bool inside = cellY > 3 && cellY < 28 && std::abs(cellX - 15) <= half;
            const bool edge = inside && (std::abs(cellX - 15) >= half - 1 || cellY >= 26);
            row[x] = edge ? 0 : inside ? static_cast<uint8_t>(20 + column + 4 * band) : 253;
        }
    }
    return dib;
}

}  // namespace

int main(int argc, char** argv) {
    bool fullScreen = false;
    int bits = 16;
    double seconds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fullscreen") == 0) fullScreen = true;
        else if (std::strcmp(argv[i], "--bits") == 0 && i + 1 < argc) bits = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atof(argv[++i]);
    }
    try {
        gui::Application app;
        app.Initialize();
        gui::Form form(app, "Glimstep display demo", 320, 240);
        form.OnClose = [&app] { app.Terminate(); };
        form.Show();

        media::TDXDraw dxd(&form);
        dxd.Display().SetBitCount(bits);
        dxd.Display().SetWidth(320);
        dxd.Display().SetHeight(240);
        media::TDXDrawOptions options{media::doAllowReboot, media::doWaitVBlank, media::doAllowPalette256,
                                      media::doStretch, media::doFlip};
        if (fullScreen) options.Include(media::doFullScreen);
        dxd.SetOptions(options);
        const media::TDIB sheetPicture = MakeSheet();
        dxd.ColorTable() = sheetPicture.ColorTable();
        dxd.Initialize();

        media::TDirectDrawSurface* back = dxd.Surface();
        back->SetTransparentColor(back->DeviceColor(gui::clBlack));
        media::TDirectDrawSurface sheet(dxd.DirectDraw());
        sheet.LoadGraphic(sheetPicture);
        sheet.SetTransparentColor(sheet.DeviceColor(gui::clFuchsia));

        gui::Bitmap gradient;
        gradient.SetSize(320, 24);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 320; ++x)
                gradient.SetPixel(x, y, (static_cast<uint32_t>(x * 255 / 319) << 16) | (static_cast<uint32_t>(y * 10) << 8) |
                                            static_cast<uint32_t>(255 - x * 255 / 319));

        gui::Bitmap console;
        console.Canvas().Brush().Color = gui::clBlack;
        console.SetSize(150, 44);
        const char* lines[] = {"Welcome to Glimstep Player!", "Version 1.2", "読み込み中… 日本語"};
        const gui::TColor lineColors[] = {gui::clWhite, gui::clYellow, gui::clAqua};
        for (int i = 0; i < 3; ++i) {
            console.Canvas().Font().Color = lineColors[i];
            console.Canvas().Draw(0, -14, console);
            console.Canvas().FillRect(gui::Rect(0, 30, 150, 44));
            console.Canvas().TextOut(0, 30, lines[i]);
        }

        const uint32_t start = gui::GetTickCount();
        int frame = 0;
        while (!app.Terminated() && gui::GetTickCount() - start < seconds * 1000) {
            app.ProcessMessages();
            if (!dxd.ReadyToDraw()) continue;
            const int p = frame * 2;
            const int red = std::abs(2 * (p % 254) - 255);
            back->Fill(back->DeviceColor(gui::RGB(red, 0, 255)));
            back->Canvas().Draw(0, 200, gradient);
            back->Canvas().Draw(165, 4, console);
            for (int k = 0; k < 4; ++k)
                back->FastBlit(8 + 32 * k, 32, gui::Bounds(31 * k, (p / 8) % 4 == 0 ? 31 : 0, 30, 30), 1, &sheet);
            for (int k = 0; k < 8; ++k) {
                const int y = 240 - (p + 30 * k) % 240;
                const int lane = k % 4;
                const gui::TRect cell = gui::Bounds(31 * lane, 0, 30, 30);
                const int alpha = 2 * (y - 70);
                if (alpha >= 255) {
                    if (y + 30 <= 240) back->FastBlit(8 + 32 * lane, y, cell, 1, &sheet);
                } else if (alpha > 0) {
                    back->DrawBlended(gui::Bounds(8 + 32 * lane, y, 30, 30), cell, &sheet, true, alpha);
                }
            }
            for (int k = 0; k < 5; ++k)
                back->DrawBlended(gui::Bounds(150 + 32 * k, 120, 30, 30), gui::Bounds(31 * (k % 4), 31, 30, 30), &sheet,
                                  true, 255 - 55 * k);
            back->DrawBlended(gui::Bounds(150, 155, 60, 40), gui::Bounds(0, 0, 30, 30), &sheet, true, 160);
            gui::TCanvas& canvas = back->Canvas();
            canvas.Brush().Style = gui::TBrushStyle::bsClear;
            canvas.Font().Color = gui::clWhite;
            canvas.TextOut(150, 60, "日本語テキスト: 表示テスト");
            canvas.Font().Color = gui::clYellow;
            canvas.TextOut(150, 78, std::to_string(bits) + " bit " + (fullScreen ? "full screen" : "window"));
            canvas.Release();
            dxd.Flip();
            ++frame;
        }
        std::printf("frames drawn %d, flipped %d\n", frame, dxd.FlipCount());
        dxd.Finalize();
    } catch (const gui::Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
