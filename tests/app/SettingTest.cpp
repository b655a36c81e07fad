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

namespace {

// The dialog shown and drawn once with the focus on its first control, as ShowModal leaves it,
// for tests that follow the focus key by key.
struct KeyboardRig : SettingsRig {
    std::unique_ptr<app::TF_Set> f;
    void ShowDialog(const std::string& ini = "") {
        f = Open(ini);
        f->Show();
        f->Repaint();
        f->SelectFirst();
    }
    void Press(SDL_Keycode key, uint16_t modifiers = KMOD_NONE) {
        testsupport::PushKeyDown(*f, key, modifiers);
        application.ProcessMessages();
    }
    const gui::TWinControl* Focus() const { return f->FocusedControl(); }
};

}  // namespace

TEST_F(KeyboardRig, TabAndShiftTabFollowTheTabOrderPastControlsThatCannotTakeTheFocus) {
    ShowDialog();
    // RadioGroup1 is disabled and RadioGroup2 lies beyond the client area.
    EXPECT_EQ(Focus(), &f->RadioGroup3);
    const std::vector<const gui::TWinControl*> order{&f->Button1,     &f->Button2,     &f->RadioGroup4, &f->Button3,
                                                     &f->RadioGroup5, &f->RadioGroup6, &f->SBSP,        &f->CheckBox1,
                                                     &f->CheckBox2,   &f->RadioGroup3};
    for (const gui::TWinControl* expected : order) {
        Press(SDLK_TAB);
        EXPECT_EQ(Focus(), expected);
    }
    Press(SDLK_TAB, KMOD_LSHIFT);
    EXPECT_EQ(Focus(), &f->CheckBox2);
    Press(SDLK_TAB, KMOD_RSHIFT);
    EXPECT_EQ(Focus(), &f->CheckBox1);
}

TEST_F(KeyboardRig, ArrowsChangeARadioGroupSpaceTicksABoxAndTheScrollBarMovesBySmallAndLargeSteps) {
    ShowDialog();
    ASSERT_EQ(Focus(), &f->RadioGroup3);
    // Down and Right select the next item, Up and Left the previous one, wrapping around; the
    // focus stays in the group.
    Press(SDLK_DOWN);
    EXPECT_EQ(f->RadioGroup3.SelectedText(), "非表示");
    Press(SDLK_RIGHT);
    EXPECT_EQ(f->RadioGroup3.SelectedText(), "再生のみ");
    Press(SDLK_DOWN);
    EXPECT_EQ(f->RadioGroup3.SelectedText(), "表示");
    Press(SDLK_UP);
    EXPECT_EQ(f->RadioGroup3.SelectedText(), "再生のみ");
    Press(SDLK_LEFT);
    EXPECT_EQ(f->RadioGroup3.SelectedText(), "非表示");
    EXPECT_EQ(Focus(), &f->RadioGroup3);

    for (int i = 0; i < 7; ++i) Press(SDLK_TAB);
    ASSERT_EQ(Focus(), &f->SBSP);
    ASSERT_EQ(f->SBSP.Position(), 1);
    Press(SDLK_RIGHT);
    EXPECT_EQ(f->SBSP.Position(), 2);
    EXPECT_EQ(f->Label1.caption, "2");
    Press(SDLK_PAGEDOWN);
    EXPECT_EQ(f->SBSP.Position(), 4);
    Press(SDLK_PAGEUP);
    Press(SDLK_LEFT);
    EXPECT_EQ(f->SBSP.Position(), 1);
    Press(SDLK_END);
    EXPECT_EQ(f->SBSP.Position(), 10);
    Press(SDLK_PAGEDOWN);
    EXPECT_EQ(f->SBSP.Position(), 10);
    Press(SDLK_HOME);
    EXPECT_EQ(f->SBSP.Position(), 0);
    EXPECT_EQ(f->Label1.caption, "0");
    EXPECT_EQ(Focus(), &f->SBSP);

    Press(SDLK_TAB);
    ASSERT_EQ(Focus(), &f->CheckBox1);
    Press(SDLK_SPACE);
    EXPECT_TRUE(f->CheckBox1.Checked());
    Press(SDLK_SPACE);
    EXPECT_FALSE(f->CheckBox1.Checked());
    // A tick box has no use for arrows: they move the focus on like Tab and Shift+Tab.
    Press(SDLK_DOWN);
    EXPECT_EQ(Focus(), &f->CheckBox2);
    Press(SDLK_LEFT);
    EXPECT_EQ(Focus(), &f->CheckBox1);
}

TEST_F(KeyboardRig, SpaceOrEnterPressTheFocusedButtonAndEnterElsewhereTheDefaultOne) {
    // Everything from the keyboard, queued before the dialog opens as a fast typist would.
    auto typed = [&](std::initializer_list<std::pair<SDL_Keycode, uint16_t>> keys) {
        f = Open("");
        for (const auto& [key, modifiers] : keys) testsupport::PushKeyDown(*f, key, modifiers);
        return f->ShowModal();
    };
    // Tab to 取消, Enter.
    EXPECT_EQ(typed({{SDLK_TAB, 0}, {SDLK_TAB, 0}, {SDLK_RETURN, 0}}), app::mrCancel);
    EXPECT_EQ(typed({{SDLK_TAB, 0}, {SDLK_TAB, 0}, {SDLK_SPACE, 0}}), app::mrCancel);
    // Enter on a radio group presses the default button 決定; so does Space on 決定.
    EXPECT_EQ(typed({{SDLK_DOWN, 0}, {SDLK_RETURN, 0}}), app::mrOk);
    EXPECT_EQ(f->RadioGroup3.ItemIndex(), 1);
    EXPECT_EQ(typed({{SDLK_TAB, KMOD_SHIFT}, {SDLK_SPACE, 0}, {SDLK_TAB, 0}, {SDLK_TAB, 0}, {SDLK_SPACE, 0}}),
              app::mrOk);
    EXPECT_TRUE(f->CheckBox2.Checked());
    // Keys after the answer are not taken.
    EXPECT_EQ(typed({{SDLK_RETURN, 0}, {SDLK_ESCAPE, 0}}), app::mrOk);
}

TEST_F(KeyboardRig, TheFocusedControlCarriesAVisibleMark) {
    ShowDialog();
    // Whether each pixel of the dialog's picture has the focus mark's colour.
    auto markAt = [&] {
        f->Repaint();
        std::vector<uint32_t> pixels(286 * 211);
        EXPECT_EQ(SDL_RenderReadPixels(f->Renderer(), nullptr, SDL_PIXELFORMAT_XRGB8888, pixels.data(), 286 * 4), 0);
        const uint32_t mark = gui::ImColorFromRgb(gui::kFocusMark);
        const uint32_t markXrgb = ((mark & 0xFF) << 16) | (mark & 0xFF00) | ((mark >> 16) & 0xFF);
        return [pixels, markXrgb](int x, int y) { return (pixels[static_cast<size_t>(y * 286 + x)] & 0xFFFFFF) == markXrgb; };
    };
    // Counts them around a control.
    auto markPixels = [&](const gui::ControlBounds& around) {
        const auto marked = markAt();
        int count = 0;
        for (int y = std::max(around.top - 6, 0); y < std::min(around.top + around.height + 6, 211); ++y)
            for (int x = std::max(around.left - 6, 0); x < std::min(around.left + around.width + 6, 286); ++x)
                count += marked(x, y);
        return count;
    };
    const gui::ControlBounds bga{4, 52, 105, 65}, speed{112, 76, 73, 109}, sleep{36, 188, 133, 16};
    EXPECT_GT(markPixels(bga), 20);
    EXPECT_EQ(markPixels(speed), 0);
    for (int i = 0; i < 6; ++i) Press(SDLK_TAB);
    ASSERT_EQ(Focus(), &f->RadioGroup6);
    EXPECT_EQ(markPixels(bga), 0);
    EXPECT_GT(markPixels(speed), 20);
    Press(SDLK_TAB);
    EXPECT_GT(markPixels(sleep), 20);

    // The mark of a control that reaches the dialog's right edge is a closed frame inside it:
    // every column of its outline's sides and every row of its top and bottom are marked.
    Press(SDLK_TAB);
    Press(SDLK_TAB);
    ASSERT_EQ(Focus(), &f->CheckBox2);
    const gui::ControlBounds box = f->CheckBox2.GetBounds();
    ASSERT_EQ(box.left + box.width, 285);
    const auto marked = markAt();
    int left = 286, right = -1, top = 211, bottom = -1;
    for (int y = 0; y < 211; ++y)
        for (int x = 0; x < 286; ++x)
            if (marked(x, y)) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    ASSERT_GE(right - left, 20);
    ASSERT_GE(bottom - top, 8);
    EXPECT_GE(left, box.left);
    EXPECT_LT(right, box.left + box.width);
    for (int y = top; y <= bottom; ++y) EXPECT_TRUE(marked(left, y) && marked(right, y)) << "row " << y;
    for (int x = left; x <= right; ++x) EXPECT_TRUE(marked(x, top) && marked(x, bottom)) << "column " << x;
}

TEST_F(SettingsRig, ClickingTheScrollBarTrackBesideTheThumbMovesByTheLargeStep) {
    // The real mouse path runs under Xvfb in tests/app/dialog-keyboard.sh; here the geometry.
    auto f = Open("[Screen]\nWaitTime=5\n");
    gui::TScrollBar& bar = f->SBSP;
    // Arrow buttons of 16 pixels at both ends; the 16-pixel thumb travels over the 85 between.
    EXPECT_EQ(bar.ThumbWidth(), 16);
    EXPECT_EQ(bar.ThumbLeft(), 36 + 16 + 43);  // 85 × 5 / 10 = 42.5, rounded
    EXPECT_EQ(bar.ClickTrack(bar.ThumbLeft() - 1), -1);
    EXPECT_EQ(bar.Position(), 3);
    EXPECT_EQ(f->Label1.caption, "3");
    EXPECT_EQ(bar.ClickTrack(bar.ThumbLeft() + 16), 1);
    EXPECT_EQ(bar.Position(), 5);
    // The far end of the track still moves one large step, not to the click.
    EXPECT_EQ(bar.ClickTrack(36 + 133 - 17), 1);
    EXPECT_EQ(bar.Position(), 7);
    EXPECT_EQ(bar.ClickTrack(bar.ThumbLeft()), 0);
    EXPECT_EQ(bar.ClickTrack(bar.ThumbLeft() + 15), 0);
    EXPECT_EQ(bar.Position(), 7);
    bar.SetPosition(9);
    EXPECT_EQ(bar.ClickTrack(36 + 133 - 17), 1);
    EXPECT_EQ(bar.Position(), 10);
    // Dragging the thumb still follows the pointer.
    bar.DragThumbTo(36 + 16 + 17);
    EXPECT_EQ(bar.Position(), 2);
    bar.DragThumbTo(0);
    EXPECT_EQ(bar.Position(), 0);
    bar.DragThumbTo(500);
    EXPECT_EQ(bar.Position(), 10);
}

TEST_F(SettingsRig, WithoutADisplayTheDialogTakesTheQueuedKeysThenEndsAsCancelled) {
    ASSERT_FALSE(application.HasDisplay());
    auto f = Open("");
    testsupport::PushKeyDown(*f, SDLK_DOWN);
    testing::internal::CaptureStderr();
    EXPECT_EQ(f->ShowModal(), app::mrCancel);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no display to show the settings dialog on; cancelled"), std::string::npos) << err;
    EXPECT_EQ(f->RadioGroup3.ItemIndex(), 1);
    EXPECT_FALSE(f->Visible());
}
