// The settings dialog F_Set: nine settings in section "Screen" of settings.ini. Created hidden at
// start-up; from then on its controls are the live settings that the sequencer and the play
// screen read.
#pragma once

#include <memory>

#include "app/ScreenSettings.h"
#include "gui/Controls.h"
#include "gui/Form.h"
#include "gui/IniFile.h"

namespace app {

constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

class TF_Set : public gui::Form {
public:
    // Creates the dialog, hidden, and loads the settings from `settingsFile` (FormCreate).
    TF_Set(gui::Application& application, const gui::TIniFile& settingsFile);

    void FormCreate(const gui::TIniFile& settingsFile);
    // The live settings as the controls hold them.
    TScreenSettings Settings() const;
    void SBSPChange();
    void Button3Click();
    // Shows the dialog modally with the focus on the first control that can take it; returns
    // mrOk, or mrCancel (also for the close box and Esc). Without a display the keys already
    // queued are handled and then the dialog ends as cancelled, with a line on stderr.
    int ShowModal();
    // Sets the result that ends the modal loop, as the buttons do.
    void SetModalResult(int result) { modalResult_ = result; }
    // Writes the nine keys in their order (step 900 on OK).
    void SaveTo(gui::TIniFile& settingsFile) const;

    gui::TRadioGroup RadioGroup1;  // Size
    gui::TRadioGroup RadioGroup2;  // Color
    gui::TRadioGroup RadioGroup3;  // ShowBGA
    gui::TRadioGroup RadioGroup4;  // Mode
    gui::TRadioGroup RadioGroup5;  // BGAProt
    gui::TRadioGroup RadioGroup6;  // PlaySpeed
    gui::TScrollBar SBSP;          // WaitTime
    gui::TCheckBox CheckBox1;      // ShowParams
    gui::TCheckBox CheckBox2;      // Hidden
    gui::TButton Button1;
    gui::TButton Button2;
    gui::TButton Button3;
    gui::TLabel Label1, Label2, Label3, Label4, Label5;

    static constexpr const char* kSection = kScreenSection;
    static constexpr const char* kHomePage = "https://glimstep.example.org/";

private:
    void Paint();
    int modalResult_ = mrNone;
};

}  // namespace app
