#include <gtest/gtest.h>

#include "app/Setting.h"
#include "gui/Application.h"
#include "support/FormEvents.h"
#include "support/TestFiles.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct SettingsRig : ::testing::Test {
    TempDir dir;
    gui::Application application;
    std::string Path() const { return (dir / "settings.ini").string(); }
    std::unique_ptr<app::TF_Set> Open(const std::string& content) {
        if (!content.empty()) WriteFile(dir / "settings.ini", content);
        gui::TIniFile ini(Path());
        return std::make_unique<app::TF_Set>(application, ini);
    }
};

}  // namespace

TEST_F(SettingsRig, NoFileGivesTheProgramDefaults) {
    auto f = Open("");
    EXPECT_EQ(f->RadioGroup1.ItemIndex(), 0);
    EXPECT_EQ(f->RadioGroup2.ItemIndex(), 1);  // 65536 colours, not the form's own 0
    EXPECT_EQ(f->RadioGroup3.SelectedText(), "表示");
    EXPECT_EQ(f->RadioGroup4.SelectedText(), "全画面");
    EXPECT_EQ(f->RadioGroup5.SelectedText(), "全画面拡大");
    EXPECT_EQ(f->RadioGroup6.SelectedText(), "1.00");
    EXPECT_EQ(f->SBSP.Position(), 1);
    EXPECT_EQ(f->Label1.caption, "1");
    EXPECT_FALSE(f->CheckBox1.Checked());
    EXPECT_FALSE(f->CheckBox2.Checked());
}

TEST_F(SettingsRig, StoredValuesAreReadAndClamped) {
    auto f = Open("[Screen]\nPlaySpeed=9\nWaitTime=25\nShowParams=2\nHidden=yes\nMode=1\nShowBGA=-7\n");
    EXPECT_EQ(f->RadioGroup6.SelectedText(), "2.00");
    EXPECT_EQ(f->SBSP.Position(), 10);
    EXPECT_EQ(f->Label1.caption, "10");
    EXPECT_TRUE(f->CheckBox1.Checked());
    EXPECT_FALSE(f->CheckBox2.Checked());
    EXPECT_EQ(f->RadioGroup4.SelectedText(), "ウインドウ");
    EXPECT_EQ(f->RadioGroup3.ItemIndex(), -1);
    EXPECT_EQ(f->RadioGroup3.SelectedText(), "");

    f = Open("[Screen]\nPlaySpeed=0x2\nWaitTime=-4\n");
    EXPECT_EQ(f->RadioGroup6.SelectedText(), "0.75");
    EXPECT_EQ(f->SBSP.Position(), 0);
    EXPECT_EQ(f->Label1.caption, "0");

    f = Open("[Screen]\nPlaySpeed=fast\n");
    EXPECT_EQ(f->RadioGroup6.SelectedText(), "1.00");
}

TEST_F(SettingsRig, MovingTheScrollBarUpdatesItsLabel) {
    auto f = Open("");
    f->SBSP.SetPosition(7);
    EXPECT_EQ(f->Label1.caption, "7");
    f->SBSP.SetPosition(99);
    EXPECT_EQ(f->Label1.caption, "10");
}

TEST_F(SettingsRig, SavingWritesAllNineKeysInOrder) {
    auto f = Open("[Screen]\nColor=0\nSize=1\n");
    gui::TIniFile ini(Path());
    f->SaveTo(ini);
    EXPECT_EQ(ReadFile(dir / "settings.ini"),
              "[Screen]\r\nColor=0\r\nSize=1\r\nShowBGA=0\r\nMode=0\r\nBGAProt=0\r\nPlaySpeed=3\r\nWaitTime=1\r\n"
              "ShowParams=0\r\nHidden=0\r\n");
    gui::TIniFile fresh((dir / "fresh.ini").string());
    f->CheckBox2.SetChecked(true);
    f->SaveTo(fresh);
    EXPECT_EQ(ReadFile(dir / "fresh.ini"),
              "[Screen]\r\nSize=1\r\nColor=0\r\nShowBGA=0\r\nMode=0\r\nBGAProt=0\r\nPlaySpeed=3\r\nWaitTime=1\r\n"
              "ShowParams=0\r\nHidden=1\r\n");
}

TEST_F(SettingsRig, SavingKeepsTheExtendedReadingThatTheDialogDoesNotShow) {
    auto f = Open("[Chart]\nExtended=1\n[Screen]\nMode=1\n");
    gui::TIniFile ini(Path());
    f->CheckBox1.SetChecked(true);
    f->SaveTo(ini);
    const gui::TIniFile saved(Path());
    EXPECT_TRUE(app::ReadExtendedReading(saved));
    EXPECT_TRUE(app::ReadScreenSettings(saved).ShowParams);
}

TEST_F(SettingsRig, EnterConfirmsEscAndTheCloseBoxCancel) {
    auto f = Open("");
    testsupport::PushKeyDown(*f, SDLK_RETURN);
    EXPECT_EQ(f->ShowModal(), app::mrOk);
    EXPECT_FALSE(f->Visible());
    testsupport::PushKeyDown(*f, SDLK_ESCAPE);
    EXPECT_EQ(f->ShowModal(), app::mrCancel);
    testsupport::PushClose(*f);
    EXPECT_EQ(f->ShowModal(), app::mrCancel);
}
