// The settings reader that needs no window: the dialog's defaults and clamping, the speeds.
#include <gtest/gtest.h>

#include "app/ScreenSettings.h"
#include "engine/BMSEngine.h"
#include "gui/Exception.h"
#include "gui/IniFile.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "support/TestFiles.h"

namespace {

TEST(ScreenSettings, ReadsTheNineKeysClampedLikeTheDialogAndWritesThemBack) {
    testsupport::TempDir dir;
    const gui::TIniFile ini((dir / "settings.ini").string());
    app::TScreenSettings s = app::ReadScreenSettings(ini);
    EXPECT_EQ(s.Color, 1);
    EXPECT_EQ(s.PlaySpeed, 3);
    EXPECT_EQ(s.WaitTime, 1);

    testsupport::WriteFile(dir / "settings.ini",
                           "[screen]\nSize=5\nColor=0\nShowBGA=-7\nMode=0x1\nBGAProt=3\nPlaySpeed=9\n"
                           "WaitTime=-4\nShowParams=2\nHidden=yes\n");
    s = app::ReadScreenSettings(ini);
    EXPECT_EQ(s.Size, 1);
    EXPECT_EQ(s.Color, 0);
    EXPECT_EQ(s.ShowBGA, -1);
    EXPECT_EQ(s.Mode, 1);
    EXPECT_EQ(s.BGAProt, 2);
    EXPECT_EQ(s.PlaySpeed, 5);
    EXPECT_EQ(s.WaitTime, 0);
    EXPECT_TRUE(s.ShowParams);
    EXPECT_FALSE(s.Hidden);

    gui::TIniFile out((dir / "out.ini").string());
    app::WriteScreenSettings(out, s);
    EXPECT_EQ(testsupport::ReadFile(dir / "out.ini"),
              "[Screen]\r\nSize=1\r\nColor=0\r\nShowBGA=-1\r\nMode=1\r\nBGAProt=2\r\nPlaySpeed=5\r\nWaitTime=0\r\n"
              "ShowParams=1\r\nHidden=0\r\n");
}

TEST(ScreenSettings, TheExtendedReadingIsOffUnlessChartExtendedIsOne) {
    testsupport::TempDir dir;
    const gui::TIniFile ini((dir / "settings.ini").string());
    EXPECT_FALSE(app::ReadExtendedReading(ini));
    testsupport::WriteFile(dir / "settings.ini", "[Screen]\nExtended=1\n[Chart]\nExtended=0\n");
    EXPECT_FALSE(app::ReadExtendedReading(ini));
    testsupport::WriteFile(dir / "settings.ini", "[chart]\nextended=1\n");
    EXPECT_TRUE(app::ReadExtendedReading(ini));
}

TEST(ScreenSettings, SpeedsAreTheItemsInPercentAndNoSelectionRaises) {
    const int expected[] = {25, 50, 75, 100, 150, 200};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(app::PlaySpeedPercent(i), expected[i]);
    EXPECT_THROW(app::PlaySpeedPercent(-1), gui::EConvertError);

    media::TDXDraw display(nullptr);
    media::TDXSound sound(nullptr);
    engine::TBMS bms(&display, &sound);
    app::TScreenSettings s;
    s.ShowBGA = 2;
    s.BGAProt = 1;
    s.PlaySpeed = 1;
    app::ApplyToEngine(s, bms);
    EXPECT_EQ(bms.BgaDisplayMode, 2);
    EXPECT_EQ(bms.BgaFitMode, 1);
    EXPECT_EQ(bms.PlaySpeed, 50);
}

}  // namespace
