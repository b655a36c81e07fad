// The main form: the program's only visible window, its components, the two hot keys and the
// step sequencer that the frame timer drives through a whole run.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/Controls.h"
#include "gui/Form.h"
#include "gui/IniFile.h"
#include "media/DXClass.h"
#include "media/DXDraws.h"
#include "media/DXInput.h"
#include "media/DXSounds.h"
#include "app/ViewerLink.h"
#include "play/PlaySettings.h"

namespace engine {
class TBMS;
class SoundPrefetch;
}

namespace app {

class TF_Set;

// The command line after the program name. Options come first ("--" ends them); the first other
// argument is the chart. After the chart only the editors' options -P, -N and -S count, and
// anything else is ignored as it always was. An argument before the chart that starts with "-"
// and is no option of ours is an error.
struct TCommandLine {
    bool Help = false;
    bool Version = false;
    bool Extended = false;
    // -P: play as an editor's viewer (the extended reading, one player at a time).
    bool Preview = false;
    // -S: stop the viewer that plays, if any.
    bool Stop = false;
    // -N: the measure play starts from, 0 (the start) to kMaxStartMeasure.
    int32_t StartMeasure = 0;
    std::optional<std::string> Chart;  // none: the settings dialog
    // Why the command line makes no sense (the first reason), empty when it does.
    std::string Error;
};
constexpr int32_t kMaxStartMeasure = 999;
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// What --help and --version print.
extern const char* const kUsage;
extern const char* const kVersionText;

class Tmain : public gui::Form {
public:
    // `args` are the command-line arguments after the program name.
    Tmain(gui::Application& application, std::vector<std::string> args);
    ~Tmain() override;

    void FormCreate();
    void DXTimer1Timer(int lagCount);
    void FormKeyDown(int key);
    void DXSInitialize();

    // Gives the sequencer the settings dialog, created after this form.
    void SetSettingsDialog(TF_Set* dialog) { settingsDialog_ = dialog; }
    // Makes this form the editors' viewer: the requests of later -P and -S launches come in
    // through `listener` (a new chart plays at once in this window; stop closes it).
    void SetViewerListener(std::unique_ptr<ViewerListener> listener);
    // Sounds of the command line's chart decoded while the program comes up; its load takes them.
    void SetSoundPrefetch(std::shared_ptr<engine::SoundPrefetch> prefetch) { prefetch_ = std::move(prefetch); }
    // True when the run ended with a failure message (the program's exit status is then 1).
    bool Failed() const { return failed_; }

    int32_t Step = 0;
    uint32_t StartTick = 0;
    std::unique_ptr<engine::TBMS> Engine;
    std::string ExitMessage;
    std::unique_ptr<gui::TIniFile> SettingsFile;

    media::TDXDraw DXD;
    media::TDXSound DXS;
    media::TDXInput DXInput1;
    media::TDXTimer DXTimer1;
    bool Panel1Visible = false;

    static constexpr const char* kCaption = "BMS to Tapo Player 2026 Glimstep";
    static constexpr const char* kDefaultExitMessage = "何らかの異常があります";
    static constexpr const char* kNotAChartMessage = "BMSファイルをドロップしてね（汗）";
    static constexpr const char* kSavedMessage = "設定を保存しました。";

private:
    void RunStep();
    void StartUpStep();
    void SettingsStep();
    void FinalStep();
    void PaintTitlePanel();
    // The play settings as the settings dialog's controls hold them at the moment of a call.
    play::PlaySettings CurrentPlaySettings() const;
    // Takes the latest request waiting on the viewer socket, if any, into pendingRequest_.
    void PollViewer();
    // Stops and closes, or stops and starts over with the chart of the pending request.
    void TakeViewerRequest();

    TCommandLine commandLine_;
    TF_Set* settingsDialog_ = nullptr;
    bool failed_ = false;
    std::unique_ptr<ViewerListener> viewer_;
    std::optional<ViewerRequest> pendingRequest_;
    std::shared_ptr<engine::SoundPrefetch> prefetch_;
};

// Starts decoding the sounds of the chart the command line plays, if it plays one, so that they
// are decoded while the window and its fonts come up; null otherwise.
std::shared_ptr<engine::SoundPrefetch> PrefetchChartSounds(const TCommandLine& line);

// The extension of `path` as the sequencer compares it: from the last dot after the last "\",
// "/" or drive colon, the dot included; empty when there is none.
std::string ChartExtension(const std::string& path);
// Whether `path` names a chart by its extension, in any letter case: .bms, .bme, .bml or .pms.
bool IsChartName(const std::string& path);
// Whether a chart so named is always read in the extended reading: .bme, .bml and .pms are,
// being names the fixed dialect's player never took.
bool IsExtendedChartName(const std::string& path);

}  // namespace app
