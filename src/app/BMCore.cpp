#include "app/BMCore.h"

#include <imgui.h>

#include <cstdio>
#include <filesystem>

#include "app/ScreenSettings.h"
#include "app/Setting.h"
#include "engine/BMSEngine.h"
#include "engine/SoundPrefetch.h"
#include "gui/Application.h"
#include "gui/Clock.h"
#include "gui/Convert.h"
#include "gui/FormFonts.h"
#include "gui/MessageBox.h"
#include "gui/Screen.h"
#include "gui/ThreadPool.h"
#include "play/PlaySteps.h"
#include "play/TapoModule.h"

namespace app {

std::string ChartExtension(const std::string& path) {
    const size_t separator = path.find_last_of("\\/:");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return {};
    return path.substr(dot);
}

bool IsChartName(const std::string& path) {
    return gui::UpperCase(ChartExtension(path)) == ".BMS" || IsExtendedChartName(path);
}

bool IsExtendedChartName(const std::string& path) {
    const std::string extension = gui::UpperCase(ChartExtension(path));
    return extension == ".BME" || extension == ".BML" || extension == ".PMS";
}

const char* const kUsage =
    "usage: glimstep [--extended] [-P] [-N MEASURE] [--] [CHART]\n"
    "       glimstep -S\n"
    "Plays a BMS chart (.bms, .bme, .bml or .pms) as a four-arrow dance-step chart; without a chart,\n"
    "opens the settings dialog.\n"
    "  --extended   read the chart in the extended dialect: sounds on every channel, long notes,\n"
    "               base-36 slots, #BPMxx and #STOPxx, #RANDOM blocks (settings.ini: [Chart] Extended=1);\n"
    "               .bme, .bml and .pms charts are always read so\n"
    "  -P           play as a chart editor's viewer: in the extended dialect, and in the window of the\n"
    "               viewer already playing, if any (it stops and plays this chart instead)\n"
    "  -N MEASURE   start from measure MEASURE, 0 (the start) to 999; also -NMEASURE\n"
    "  -S           stop the viewer that is playing and close it\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n";
const char* const kVersionText = "glimstep " GLIMSTEP_VERSION "\n";

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine line;
    const auto fail = [&line](std::string error) {
        if (line.Error.empty()) line.Error = std::move(error);
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool beforeChart = !line.Chart;
        if (arg == "-P") {
            line.Preview = true;
        } else if (arg == "-S") {
            line.Stop = true;
        } else if (arg.starts_with("-N")) {
            std::string value = arg.substr(2);
            if (value.empty()) {
                if (i + 1 >= args.size()) {
                    fail("-N needs a measure (0 to 999)");
                    continue;
                }
                value = args[++i];
            }
            uint64_t measure = 0;
            if (value.find_first_not_of("0123456789") != std::string::npos || !gui::TryStrToUInt64(value, measure) ||
                measure > static_cast<uint64_t>(kMaxStartMeasure)) {
                fail("-N wants a measure from 0 to 999, not \"" + value + "\"");
            } else {
                line.StartMeasure = static_cast<int32_t>(measure);
            }
        } else if (!beforeChart) {
            continue;
        } else if (arg == "--extended") {
            line.Extended = true;
        } else if (arg == "--help") {
            line.Help = true;
        } else if (arg == "--version") {
            line.Version = true;
        } else if (arg == "--") {
            if (i + 1 < args.size()) line.Chart = args[i + 1];
            break;
        } else if (arg.starts_with("-")) {
            fail("unknown option " + arg);
        } else {
            line.Chart = arg;
        }
    }
    if (line.Preview && !line.Stop && !line.Chart) fail("-P needs a chart");
    return line;
}

std::shared_ptr<engine::SoundPrefetch> PrefetchChartSounds(const TCommandLine& line) {
    // A play from a measure decodes only what it will play, once the chart is read.
    if (!line.Error.empty() || line.Help || line.Version || line.Stop || !line.Chart || !IsChartName(*line.Chart) ||
        line.StartMeasure > 0)
        return nullptr;
    return std::make_shared<engine::SoundPrefetch>(*line.Chart, gui::ThreadPool::MachineThreads());
}

Tmain::Tmain(gui::Application& application, std::vector<std::string> args)
    : Form(application, kCaption, gui::kScreenWidth, gui::kScreenHeight),
      DXD(this),
      DXS(this),
      DXInput1(this),
      DXTimer1(application),
      commandLine_(ParseCommandLine(args)) {
    // As the form description sets them up.
    DXD.SetSurfaceWidth(gui::kScreenWidth);
    DXD.SetSurfaceHeight(gui::kScreenHeight);
    DXD.Display().SetBitCount(16);
    DXD.Display().SetWidth(gui::kScreenWidth);
    DXD.Display().SetHeight(gui::kScreenHeight);
    DXD.Display().FixedBitCount = true;
    DXD.Display().FixedRatio = true;
    DXD.Display().FixedSize = false;
    DXD.SetOptions({media::doAllowReboot, media::doWaitVBlank, media::doAllowPalette256, media::doStretch, media::doFlip,
                    media::doHardware, media::doRetainedMode, media::doSelectDriver, media::doRGB});
    DXS.SetOptions(media::soGlobalFocus | media::soStickyFocus | media::soExclusive);
    DXS.OnInitialize = [this](media::TDXSound&) { DXSInitialize(); };
    DXInput1.SetActiveOnly(true);
    DXInput1.SetUseDirectInput(true);
    DXTimer1.SetActiveOnly(false);
    DXTimer1.SetInterval(100);
    DXTimer1.OnTimer = [this](media::TCustomDXTimer&, int lagCount) { DXTimer1Timer(lagCount); };
    OnKeyDown = [this](int key) { FormKeyDown(key); };
    OnPaint = [this] { PaintTitlePanel(); };
    FormCreate();
    DXS.Loaded();
    DXTimer1.Loaded();
}

Tmain::~Tmain() {
    App().SetOnLoop(nullptr);
    // The engine's players and sound buffers go before the components they play through.
    Engine.reset();
}

void Tmain::SetViewerListener(std::unique_ptr<ViewerListener> listener) {
    viewer_ = std::move(listener);
    // A launch waiting to hand over is answered within a pass of the main loop, not at the next
    // step of the timer (100 ms apart before play); the request is acted on at that step, so it
    // is taken only while the timer runs.
    App().SetOnLoop([this] {
        if (DXTimer1.Enabled()) PollViewer();
    });
}

void Tmain::FormCreate() {
    Step = 0;
    StartTick = gui::GetTickCount();
    DXTimer1.SetEnabled(true);
    ExitMessage = kDefaultExitMessage;
    SetCursorHidden(true);
    SettingsFile = std::make_unique<gui::TIniFile>(gui::SettingsFilePath(App().ExeName()));
}

void Tmain::DXSInitialize() {
    media::TWaveFormatEx format;
    media::MakePcmFormat(format, 44100, 16, 2);
    DXS.Primary()->SetFormat(format);
}

void Tmain::FormKeyDown(int key) {
    if (key == gui::VK_ESCAPE) {
        App().ShowCursor(true);
        Close();
    }
    if (key == gui::VK_F4) {
        media::TDXDrawOptions options = DXD.Options();
        if (options.Contains(media::doFullScreen)) {
            options.Exclude(media::doFullScreen);
            SetCaption("window");
        } else {
            options.Include(media::doFullScreen);
            SetCaption("Full");
        }
        DXD.SetOptions(options);
    }
}

void Tmain::DXTimer1Timer(int) {
    PollViewer();
    if (pendingRequest_) {
        TakeViewerRequest();
        return;
    }
    try {
        RunStep();
    } catch (const gui::Exception&) {
        ExitMessage = "ステップ" + std::to_string(Step) + "において異常あり";
        Step = 999;
        // Step 900 has switched the timer off already: the final step runs at once.
        if (!DXTimer1.Enabled()) FinalStep();
    }
    // A request that came during a load has abandoned it.
    if (pendingRequest_) TakeViewerRequest();
}

void Tmain::PollViewer() {
    if (viewer_ == nullptr) return;
    if (std::optional<ViewerRequest> request = viewer_->Poll()) pendingRequest_ = std::move(request);
}

void Tmain::TakeViewerRequest() {
    const ViewerRequest request = std::move(*pendingRequest_);
    pendingRequest_.reset();
    if (request.What == ViewerRequest::Kind::Stop) {
        Engine.reset();
        App().ShowCursor(true);
        Close();
        return;
    }
    // The editor may have rewritten or removed its preview file since it started the launch.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(request.Chart, ec)) {
        std::fprintf(stderr, "glimstep: the chart %s is not there; playing on\n", request.Chart.c_str());
        return;
    }
    std::fprintf(stderr, "glimstep: playing %s from measure %d\n", request.Chart.c_str(),
                 static_cast<int>(request.StartMeasure));
    // The engine's sounds and MIDI player stop with it; the next start-up step makes a new one.
    Engine.reset();
    prefetch_.reset();
    commandLine_.Chart = request.Chart;
    commandLine_.StartMeasure = request.StartMeasure;
    commandLine_.Extended = request.Extended;
    commandLine_.Preview = true;
    ExitMessage = kDefaultExitMessage;
    Step = 0;
    StartTick = gui::GetTickCount();
    DXTimer1.SetEnabled(true);
}

void Tmain::RunStep() {
    switch (Step) {
        case 0: StartUpStep(); break;
        case 900: SettingsStep(); break;
        case 999: FinalStep(); break;
        default:
            if (play::IsPlayStep(Step))
                play::RunPlayStep(Step, App(), DXD, *Engine, commandLine_.Chart.value(), ExitMessage,
                                  CurrentPlaySettings(), Step == play::kStepPlay ? play::ReadFrameInput(DXInput1, DXTimer1) : play::FrameInput{});
            break;
    }
}

play::PlaySettings Tmain::CurrentPlaySettings() const {
    play::PlaySettings settings = PlaySettingsOf(settingsDialog_->Settings());
    settings.StartMeasure = commandLine_.StartMeasure;
    return settings;
}

void Tmain::StartUpStep() {
    Repaint();
    if (gui::GetTickCount() - StartTick <= 20) return;
    if (!commandLine_.Chart) {
        Step = 900;
        return;
    }
    if (!IsChartName(*commandLine_.Chart)) {
        ExitMessage = kNotAChartMessage;
        Step = 999;
        return;
    }
    TF_Set& settings = *settingsDialog_;
    Panel1Visible = false;
    DXTimer1.SetInterval(1);
    Engine = std::make_unique<engine::TBMS>(&DXD, &DXS);
    // A long load keeps the window answering; Esc, the close box and a quit request end the run
    // as during play.
    Engine->Options.OnProgress = [this] {
        App().DispatchEvents();
        PollViewer();
        return !Closed() && !App().Terminated() && !pendingRequest_;
    };
    if (settings.RadioGroup3.ItemIndex() == 2) {
        SetClientSize(200, 0);
        SetPosition(0, -100);
        SetPosition(0, 0);
    }
    if (settings.RadioGroup4.ItemIndex() == 0 && settings.RadioGroup3.ItemIndex() < 2) App().ShowCursor(false);
    ApplyToEngine(settings.Settings(), *Engine);
    Engine->Options.Prefetch = std::move(prefetch_);
    Engine->Options.Extended = commandLine_.Extended || commandLine_.Preview ||
                               IsExtendedChartName(*commandLine_.Chart) || ReadExtendedReading(*SettingsFile);
    Step = play::kStepLoad;
}

void Tmain::SettingsStep() {
    DXTimer1.SetEnabled(false);
    App().ShowCursor(true);
    if (settingsDialog_->ShowModal() == mrOk) {
        settingsDialog_->SaveTo(*SettingsFile);
        gui::ShowMessage(App(), kSavedMessage);
    }
    Close();
}

void Tmain::FinalStep() {
    DXTimer1.SetEnabled(false);
    if (DXD.Initialized()) DXD.Finalize();
    Panel1Visible = true;
    Invalidate();
    App().ShowCursor(true);
    if (!ExitMessage.empty()) {
        failed_ = true;
        Repaint();
        gui::ShowMessage(App(), ExitMessage);
    }
    Close();
}

void Tmain::PaintTitlePanel() {
    if (!Panel1Visible) return;
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::PushStyleColor(ImGuiCol_WindowBg, ImVec4(0, 0, 0, 1));
    ImGui::Begin("##main", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoInputs);
    // Panel1 at (8, 72), 304×84, border 3 and bevel 2; Panel2 fills it with a lowered outer and
    // a raised inner bevel.
    constexpr int left = 8, top = 72, width = 304, height = 84;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(ImVec2(left, top), ImVec2(left + width, top + height), gui::ImColorFromRgb(gui::kButtonFace));
    gui::DrawBevel(left, top, width, height, true, 2);
    gui::DrawBevel(left + 5, top + 5, width - 10, height - 10, false, 1);
    gui::DrawBevel(left + 6, top + 6, width - 12, height - 12, true, 1);
    constexpr int panel2Left = left + 5, panel2Top = top + 5, panel2Width = width - 10, panel2Height = height - 10;
    const gui::TLabel labels[] = {
        {"BMS to Tapo Player", panel2Left + 40, panel2Top + 4, 0, gui::FormFont::ArialItalic24},
        {"Version 1.2", panel2Left, panel2Top + 28, 276, gui::FormFont::Bold12, gui::kButtonShadow,
         gui::TAlignment::RightJustify},
        {"無断複製・転載を禁じます", panel2Left + 24, panel2Top + 44, 237, gui::FormFont::Gothic12, 0x0000FF,
         gui::TAlignment::Center},
        {"2026 Glimstep  https://glimstep.example.org/", panel2Left, panel2Top + panel2Height - 16, panel2Width,
         gui::FormFont::Gothic12, 0x000000, gui::TAlignment::Center},
    };
    for (const gui::TLabel& label : labels) label.Draw();
    ImGui::End();
    ImGui::PopStyleColor();
}

}  // namespace app
