#include <gtest/gtest.h>

#include <SDL.h>

#include "gui/Application.h"
#include "gui/Form.h"
#include "media/DXDraws.h"

namespace {

class DXDrawOnAForm : public ::testing::Test {
protected:
    gui::Application app;
    gui::Form form{app, "display", 320, 240};
    media::TDXDraw dxd{&form};

    void SetUp() override {
        form.Show();
        dxd.Display().SetBitCount(16);
        dxd.Display().SetWidth(320);
        dxd.Display().SetHeight(240);
    }
};

}  // namespace

TEST_F(DXDrawOnAForm, WindowModePresentsAndTakesThePictureFromTheFormWhileInitialised) {
    dxd.Initialize();
    EXPECT_TRUE(form.PaintSuspended());
    EXPECT_FALSE(form.FullScreen());
    EXPECT_EQ(gui::PixelFormat::XRGB8888, dxd.Surface()->Format());
    EXPECT_EQ(320, dxd.Surface()->Width());
    dxd.Surface()->Fill(dxd.Surface()->DeviceColor(gui::clRed));
    dxd.Flip();
    EXPECT_EQ(1, dxd.FlipCount());
    dxd.Finalize();
    EXPECT_FALSE(form.PaintSuspended());
}

TEST_F(DXDrawOnAForm, FullScreenFlipWaitsWhileTheFormHasNoFocus) {
    dxd.SetOptions({media::doFullScreen, media::doFlip, media::doAllowPalette256});
    dxd.Initialize();
    EXPECT_TRUE(form.FullScreen());
    EXPECT_EQ(gui::PixelFormat::RGB565, dxd.Surface()->Format());
    // Without a display server the form's focus is the application's activation.
    app.SetActive(false);
    ASSERT_FALSE(form.Focused());
    dxd.Flip();
    EXPECT_EQ(0, dxd.FlipCount());
    app.SetActive(true);
    ASSERT_TRUE(form.Focused());
    dxd.Flip();
    EXPECT_EQ(1, dxd.FlipCount());
    dxd.Finalize();
    EXPECT_FALSE(form.FullScreen());
}

TEST_F(DXDrawOnAForm, ARenderResetLosesThePictureAndReadyToDrawRestoresIt) {
    dxd.Initialize();
    int restores = 0;
    dxd.OnRestoreSurface = [&] { ++restores; };
    dxd.Surface()->Fill(0x123456);
    SDL_Event reset{};
    reset.type = SDL_RENDER_TARGETS_RESET;
    SDL_PushEvent(&reset);
    EXPECT_TRUE(dxd.ReadyToDraw());
    EXPECT_EQ(1, restores);
    EXPECT_EQ(0u, dxd.Surface()->Pixel(0, 0));
    dxd.Flip();
    EXPECT_EQ(1, dxd.FlipCount());
}
