#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/DXDraws.h"

using media::TDXDraw;
using media::TDXDrawOptions;

namespace {

// The option set the main form's display carries.
const TDXDrawOptions kMainFormOptions{media::doAllowReboot,     media::doWaitVBlank, media::doAllowPalette256,
                                      media::doStretch,         media::doFlip,       media::doHardware,
                                      media::doRetainedMode,    media::doSelectDriver, media::doRGB};

void SetUpLikeThePlayScreen(TDXDraw& dxd, int bitCount, bool fullScreen) {
    dxd.SetOptions(kMainFormOptions);
    dxd.Display().SetBitCount(bitCount);
    dxd.Display().SetWidth(320);
    dxd.Display().SetHeight(240);
    TDXDrawOptions options = dxd.Options();
    if (fullScreen)
        options.Include(media::doFullScreen);
    else
        options.Exclude(media::doFullScreen);
    dxd.SetOptions(options);
}

}  // namespace

TEST(DXDrawDisplay, BitCountAcceptsOnlyTheFourDepths) {
    TDXDraw dxd(nullptr);
    for (int bits : {8, 16, 24, 32}) {
        dxd.Display().SetBitCount(bits);
        EXPECT_EQ(bits, dxd.Display().BitCount());
    }
    for (int bits : {0, 4, 15, 64}) {
        try {
            dxd.Display().SetBitCount(bits);
            FAIL() << bits;
        } catch (const media::EDirectDrawError& e) {
            EXPECT_STREQ("8, 16, 24, 32 のいずれかの値でなければなりません", e.what());
        }
    }
    EXPECT_EQ(32, dxd.Display().BitCount());
    dxd.Display().SetWidth(-5);
    EXPECT_EQ(0, dxd.Display().Width());
}

TEST(DXDrawDisplay, AssigningCopiesTheSixProperties) {
    media::TDirectDrawDisplay other;
    other.SetBitCount(16);
    other.SetWidth(320);
    other.SetHeight(240);
    other.FixedSize = true;
    TDXDraw dxd(nullptr);
    dxd.SetDisplay(other);
    EXPECT_EQ(16, dxd.Display().BitCount());
    EXPECT_EQ(320, dxd.Display().Width());
    EXPECT_EQ(240, dxd.Display().Height());
    EXPECT_TRUE(dxd.Display().FixedSize);
    dxd.SetDisplay(dxd.Display());
    EXPECT_EQ(16, dxd.Display().BitCount());
}

TEST(DXDrawOptions, EffectiveOptionsOfTheMainForm) {
    TDXDraw dxd(nullptr);
    SetUpLikeThePlayScreen(dxd, 16, false);
    EXPECT_EQ((TDXDrawOptions{media::doWaitVBlank, media::doStretch}), dxd.EffectiveOptions());
    SetUpLikeThePlayScreen(dxd, 16, true);
    EXPECT_EQ((TDXDrawOptions{media::doFullScreen, media::doAllowReboot, media::doWaitVBlank,
                              media::doAllowPalette256, media::doStretch, media::doFlip}),
              dxd.EffectiveOptions());
    TDXDrawOptions withSystemMemory = dxd.Options();
    withSystemMemory.Include(media::doSystemMemory);
    dxd.SetOptions(withSystemMemory);
    EXPECT_FALSE(dxd.EffectiveOptions().Contains(media::doFlip));
}

TEST(DXDrawOptions, FullScreenChangeWhileInitialisedWaitsForTheNextInitialize) {
    TDXDraw dxd(nullptr);
    SetUpLikeThePlayScreen(dxd, 8, false);
    dxd.Initialize();
    EXPECT_EQ(gui::PixelFormat::XRGB8888, dxd.Surface()->Format());
    TDXDrawOptions options = dxd.Options();
    options.Include(media::doFullScreen);
    options.Exclude(media::doStretch);
    dxd.SetOptions(options);
    EXPECT_FALSE(dxd.EffectiveOptions().Contains(media::doFullScreen));
    EXPECT_FALSE(dxd.EffectiveOptions().Contains(media::doStretch));
    dxd.Finalize();
    EXPECT_TRUE(dxd.EffectiveOptions().Contains(media::doFullScreen));
    dxd.Initialize();
    EXPECT_EQ(gui::PixelFormat::Indexed8, dxd.Surface()->Format());
}

TEST(DXDrawLifecycle, WindowSurfacesAreXrgbWhateverTheBitCountAndFullScreenFollowsIt) {
    const struct {
        int bits;
        bool fullScreen;
        gui::PixelFormat format;
    } cases[] = {{8, false, gui::PixelFormat::XRGB8888},  {16, false, gui::PixelFormat::XRGB8888},
                 {8, true, gui::PixelFormat::Indexed8},   {16, true, gui::PixelFormat::RGB565},
                 {32, true, gui::PixelFormat::XRGB8888}};
    for (const auto& c : cases) {
        TDXDraw dxd(nullptr);
        SetUpLikeThePlayScreen(dxd, c.bits, c.fullScreen);
        dxd.Initialize();
        ASSERT_TRUE(dxd.Initialized());
        EXPECT_TRUE(dxd.ReadyToDraw());
        EXPECT_EQ(c.format, dxd.Surface()->Format()) << c.bits << " " << c.fullScreen;
        EXPECT_EQ(320, dxd.Surface()->Width());
        EXPECT_EQ(240, dxd.Surface()->Height());
        EXPECT_EQ(0u, dxd.Surface()->Pixel(319, 239));
        ASSERT_NE(nullptr, dxd.DirectDraw());
        EXPECT_EQ(c.format, dxd.DirectDraw()->SurfaceFormat());
    }
}

TEST(DXDrawLifecycle, FinalizeFreesEverySurfaceAndIsHarmlessTwice) {
    TDXDraw dxd(nullptr);
    dxd.Finalize();
    EXPECT_FALSE(dxd.ReadyToDraw());
    EXPECT_EQ(nullptr, dxd.DirectDraw());
    ASSERT_NE(nullptr, dxd.Surface());
    EXPECT_FALSE(dxd.Surface()->IsCreated());
    SetUpLikeThePlayScreen(dxd, 16, true);
    dxd.Initialize();
    media::TDirectDrawSurface sheet(dxd.DirectDraw());
    sheet.SetSize(125, 215);
    EXPECT_EQ(2, dxd.DirectDraw()->SurfaceCount());
    dxd.Flip();
    dxd.Flip();
    EXPECT_EQ(2, dxd.FlipCount());
    dxd.Finalize();
    dxd.Finalize();
    EXPECT_FALSE(dxd.Initialized());
    EXPECT_FALSE(sheet.IsCreated());
    EXPECT_FALSE(dxd.Surface()->IsCreated());
    EXPECT_FALSE(dxd.ReadyToDraw());
    dxd.Flip();
    EXPECT_EQ(2, dxd.FlipCount());
    // A new Initialize works with a new owner; the old surface stays empty.
    dxd.Initialize();
    EXPECT_TRUE(dxd.ReadyToDraw());
    EXPECT_FALSE(sheet.IsCreated());
}

TEST(DXDrawLifecycle, EventsFireInOrder) {
    TDXDraw dxd(nullptr);
    std::vector<std::string> events;
    dxd.OnInitializing = [&] { events.push_back("initializing"); };
    dxd.OnInitialize = [&] {
        events.push_back("initialize");
        EXPECT_TRUE(dxd.ReadyToDraw());
    };
    dxd.OnInitializeSurface = [&] { events.push_back("initializeSurface"); };
    dxd.OnRestoreSurface = [&] {
        events.push_back("restore");
        EXPECT_FALSE(dxd.ReadyToDraw());
    };
    dxd.OnFinalizeSurface = [&] { events.push_back("finalizeSurface"); };
    dxd.OnFinalize = [&] { events.push_back("finalize"); };
    dxd.Initialize();
    dxd.Finalize();
    EXPECT_EQ((std::vector<std::string>{"initializing", "initialize", "initializeSurface", "restore",
                                        "finalizeSurface", "finalize"}),
              events);
}

TEST(DXDrawLifecycle, FullScreenModeThatCannotBeSetRaisesAfterFinalizing) {
    TDXDraw dxd(nullptr);
    SetUpLikeThePlayScreen(dxd, 16, true);
    dxd.Display().SetWidth(0);
    bool finalized = false;
    dxd.OnFinalize = [&] { finalized = true; };
    try {
        dxd.Initialize();
        FAIL();
    } catch (const media::EDXDrawError& e) {
        EXPECT_STREQ("ディスプレイモードを変更できません (0x240 16bit)", e.what());
    }
    EXPECT_FALSE(dxd.Initialized());
    EXPECT_FALSE(finalized);
    EXPECT_EQ(nullptr, dxd.DirectDraw());
}

TEST(DXDrawLoss, ReadyToDrawRestoresALostPicture) {
    TDXDraw dxd(nullptr);
    SetUpLikeThePlayScreen(dxd, 16, true);
    dxd.Initialize();
    int restores = 0;
    dxd.OnRestoreSurface = [&] { ++restores; };
    media::TDirectDrawSurface* back = dxd.Surface();
    back->Fill(0xFFFF);
    dxd.SurfaceLost();
    EXPECT_TRUE(back->Lost());
    EXPECT_TRUE(dxd.ReadyToDraw());
    EXPECT_EQ(1, restores);
    EXPECT_FALSE(back->Lost());
    EXPECT_EQ(0u, back->Pixel(10, 10));
    EXPECT_TRUE(dxd.ReadyToDraw());
    EXPECT_EQ(1, restores);
}

TEST(DXDrawPalette, ColourTableIsAppliedWithTheSystemColourRule) {
    gui::TColorTable sheet{};
    for (size_t i = 0; i < 256; ++i) sheet[i] = {static_cast<uint8_t>(i), 1, 2, 0};
    for (bool allow256 : {true, false}) {
        TDXDraw dxd(nullptr);
        SetUpLikeThePlayScreen(dxd, 8, true);
        if (!allow256) {
            TDXDrawOptions o = dxd.Options();
            o.Exclude(media::doAllowPalette256);
            dxd.SetOptions(o);
        }
        dxd.ColorTable() = sheet;
        dxd.Initialize();
        const gui::Palette& palette = dxd.DirectDraw()->Palette().Palette();
        EXPECT_EQ(0x020164u, palette.Entry(100));
        const gui::TRGBQuad& white = gui::SystemPalette()[255];
        const uint32_t systemWhite = (uint32_t{white.rgbRed} << 16) | (uint32_t{white.rgbGreen} << 8) | white.rgbBlue;
        if (allow256) {
            EXPECT_EQ(0x0201FFu, palette.Entry(255));
            EXPECT_EQ(0x020100u, palette.Entry(0));
        } else {
            EXPECT_EQ(systemWhite, palette.Entry(255));
            EXPECT_EQ(0x000000u, palette.Entry(0));
        }
        EXPECT_EQ(100u, dxd.Surface()->DeviceColor(gui::RGB(2, 1, 100)));
    }
}
