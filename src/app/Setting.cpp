#include "app/Setting.h"

#include <imgui.h>

#include <cerrno>
#include <cstdio>

#include "gui/Application.h"
#include "gui/FormFonts.h"

namespace app {

using gui::ControlBounds;
using gui::FormFont;

namespace {

template <size_t N>
std::vector<std::string> Items(const std::array<const char*, N>& items) {
    return {items.begin(), items.end()};
}

}  // namespace

TF_Set::TF_Set(gui::Application& application, const gui::TIniFile& settingsFile)
    : Form(application, "設定", 286, 211),
      RadioGroup1("解像度", Items(kSizeItems), ControlBounds{580, 108, 85, 53}, 0),
      RadioGroup2("カラーモード", Items(kColorItems), ControlBounds{404, 24, 89, 53}, 0),
      RadioGroup3("BGA", Items(kShowBgaItems), ControlBounds{4, 52, 105, 65}, 0),
      RadioGroup4("表示", Items(kModeItems), ControlBounds{4, 0, 105, 49}, 1),
      RadioGroup5("BGA再現法", Items(kBgaProtItems), ControlBounds{4, 120, 105, 65}, 0),
      RadioGroup6("再生速度", Items(kPlaySpeedItems), ControlBounds{112, 76, 73, 109}, 3),
      SBSP(ControlBounds{36, 188, 133, 16}, kWaitTimeMin, kWaitTimeMax, 2, 2),
      CheckBox1("Show Params", ControlBounds{188, 112, 93, 17}),
      CheckBox2("Hidden(なぜ?)", ControlBounds{188, 96, 97, 17}),
      Button1("決定", ControlBounds{192, 132, 89, 21}, mrOk),
      Button2("取消", ControlBounds{192, 156, 89, 21}, mrCancel),
      Button3("HomePage", ControlBounds{192, 184, 89, 21}),
      Label1{"10", 174, 192, 0, FormFont::Gothic12},
      Label2{"Sleep", 4, 192, 0, FormFont::Gothic12},
      Label3{"Glimstep Player", 112, 4, 0, FormFont::ArialBoldItalic19},
      Label4{"Version 1.2", 112, 28, 0, FormFont::ArialBoldItalic15},
      Label5{"2026 Glimstep", 116, 52, 0, FormFont::ArialBold15} {
    RadioGroup1.SetEnabled(false);
    Button1.SetDefault(true);
    Button1.OnClick = [this] { modalResult_ = Button1.ModalResult(); };
    Button2.OnClick = [this] { modalResult_ = Button2.ModalResult(); };
    SBSP.OnChange = [this] { SBSPChange(); };
    Button3.OnClick = [this] { Button3Click(); };
    SetTabOrder({&RadioGroup1, &RadioGroup2, &RadioGroup3, &Button1, &Button2, &RadioGroup4, &Button3, &RadioGroup5,
                 &RadioGroup6, &SBSP, &CheckBox1, &CheckBox2});
    SetInteractive(true);
    OnPaint = [this] { Paint(); };
    // Enter presses the focused button or else the default one (the form does that).
    OnKeyDown = [this](int key) {
        if (key == gui::VK_ESCAPE) modalResult_ = mrCancel;
    };
    FormCreate(settingsFile);
}

void TF_Set::FormCreate(const gui::TIniFile& settingsFile) {
    const TScreenSettings s = ReadScreenSettings(settingsFile);
    RadioGroup1.SetItemIndex(s.Size);
    RadioGroup2.SetItemIndex(s.Color);
    RadioGroup3.SetItemIndex(s.ShowBGA);
    RadioGroup4.SetItemIndex(s.Mode);
    RadioGroup5.SetItemIndex(s.BGAProt);
    RadioGroup6.SetItemIndex(s.PlaySpeed);
    SBSP.SetPosition(s.WaitTime);
    CheckBox1.SetChecked(s.ShowParams);
    CheckBox2.SetChecked(s.Hidden);
    Label1.caption = std::to_string(SBSP.Position());
}

TScreenSettings TF_Set::Settings() const {
    TScreenSettings s;
    s.Size = RadioGroup1.ItemIndex();
    s.Color = RadioGroup2.ItemIndex();
    s.ShowBGA = RadioGroup3.ItemIndex();
    s.Mode = RadioGroup4.ItemIndex();
    s.BGAProt = RadioGroup5.ItemIndex();
    s.PlaySpeed = RadioGroup6.ItemIndex();
    s.WaitTime = SBSP.Position();
    s.ShowParams = CheckBox1.Checked();
    s.Hidden = CheckBox2.Checked();
    return s;
}

void TF_Set::SBSPChange() { Label1.caption = std::to_string(SBSP.Position()); }

void TF_Set::Button3Click() { gui::OpenUrl(kHomePage); }

void TF_Set::SaveTo(gui::TIniFile& settingsFile) const { WriteScreenSettings(settingsFile, Settings()); }

int TF_Set::ShowModal() {
    modalResult_ = mrNone;
    Show();
    // Drawn once before any key arrives, so that the controls can take the focus.
    Repaint();
    SelectFirst();
    const bool answered = App().RunModal(*this, [this] { return modalResult_ != mrNone || Closed(); });
    if (!answered && !App().HasDisplay()) {
        std::fprintf(stderr, "%s: no display to show the settings dialog on; cancelled\n", program_invocation_short_name);
        std::fflush(stderr);
    }
    // A dialog that the program's quit ends saves nothing.
    if (modalResult_ == mrNone || App().Terminated()) modalResult_ = mrCancel;
    Hide();
    return modalResult_;
}

void TF_Set::Paint() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::PushFont(gui::GetFormFont(FormFont::Gothic12));
    ImGui::Begin("##F_Set", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    // Tab order of the form description; RadioGroup1 and RadioGroup2 lie past the right edge.
    RadioGroup1.Draw("RadioGroup1");
    RadioGroup2.Draw("RadioGroup2");
    RadioGroup3.Draw("RadioGroup3");
    Button1.Draw("Button1");
    Button2.Draw("Button2");
    RadioGroup4.Draw("RadioGroup4");
    Button3.Draw("Button3");
    RadioGroup5.Draw("RadioGroup5");
    RadioGroup6.Draw("RadioGroup6");
    SBSP.Draw("SBSP");
    CheckBox1.Draw("CheckBox1");
    CheckBox2.Draw("CheckBox2");
    for (const gui::TLabel* label : {&Label1, &Label2, &Label3, &Label4, &Label5}) label->Draw();
    ImGui::End();
    ImGui::PopFont();
}

}  // namespace app
