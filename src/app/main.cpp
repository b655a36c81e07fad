// The program block: the application object, then the main form, the data module with the
// sprite sheet and the settings dialog, in that order; then the message loop.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BMCore.h"
#include "app/Setting.h"
#include "app/ViewerLink.h"
#include "engine/SoundPrefetch.h"
#include "gui/Application.h"
#include "gui/MessageBox.h"
#include "gui/QuitRequest.h"
#include "play/DM.h"

namespace {

// The program's own path; the settings file is looked for beside it.
std::string ExecutablePath(const char* argv0) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.string();
    return std::filesystem::absolute(argv0, ec).string();
}

// -P and -S talk to the viewer that plays, if any, before anything heavy is set up. Returns the
// exit status when this launch is done with that; otherwise a -P launch plays, as the viewer
// (with `listener`) when it can listen.
std::optional<int> HandOverOrListen(const app::TCommandLine& line, std::unique_ptr<app::ViewerListener>& listener) {
    // A launch that is no viewer's (not a chart it can play) is refused as a plain one is.
    if (!line.Stop && !app::IsChartName(*line.Chart)) return std::nullopt;
    std::string error;
    const std::string path = app::ViewerSocketPath(error);
    if (path.empty()) {
        std::fprintf(stderr, "glimstep: %s\n", error.c_str());
        if (line.Stop) return 1;
        std::fprintf(stderr, "glimstep: playing without handing over to a viewer\n");
        return std::nullopt;
    }
    app::ViewerRequest request;
    if (line.Stop) {
        request.What = app::ViewerRequest::Kind::Stop;
    } else {
        std::error_code ec;
        request.Chart = std::filesystem::absolute(*line.Chart, ec).lexically_normal().string();
        request.StartMeasure = line.StartMeasure;
        request.Extended = line.Extended;
    }
    // Twice: a viewer that comes up between the look and the listen gets the request instead.
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (app::HandOver(path, request, error)) {
            case app::HandOverResult::Delivered: return 0;
            case app::HandOverResult::Failed:
                std::fprintf(stderr, "glimstep: %s\n", error.c_str());
                if (line.Stop) return 1;
                std::fprintf(stderr, "glimstep: playing without handing over to a viewer\n");
                return std::nullopt;
            case app::HandOverResult::NoViewer: break;
        }
        if (line.Stop) return 0;
        app::ViewerListener::ListenResult result;
        listener = app::ViewerListener::Listen(path, result, error);
        if (result == app::ViewerListener::ListenResult::Listening) return std::nullopt;
        if (result == app::ViewerListener::ListenResult::Failed) {
            std::fprintf(stderr, "glimstep: %s; later charts will play in windows of their own\n", error.c_str());
            return std::nullopt;
        }
    }
    return std::nullopt;
}

int Run(int argc, char** argv, const app::TCommandLine& commandLine, std::unique_ptr<app::ViewerListener> listener) {
    // The chart's sounds decode while the display, the window and the fonts come up.
    std::shared_ptr<engine::SoundPrefetch> prefetch = app::PrefetchChartSounds(commandLine);
    gui::Application application;
    application.SetExeName(ExecutablePath(argv[0]));
    application.Initialize();
    // Asked to quit while the display was being reached: nothing more to set up.
    if (gui::QuitRequested()) return 0;

    std::vector<std::string> args(argv + 1, argv + argc);
    auto mainForm = std::make_unique<app::Tmain>(application, args);
    play::CreateDM();
    auto settings = std::make_unique<app::TF_Set>(application, *mainForm->SettingsFile);
    mainForm->SetSettingsDialog(settings.get());
    mainForm->SetViewerListener(std::move(listener));
    mainForm->SetSoundPrefetch(std::move(prefetch));

    mainForm->Show();
    application.Run();
    const int status = mainForm->Failed() ? 1 : 0;
    settings.reset();
    play::DestroyDM();
    mainForm.reset();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    gui::InstallQuitSignals();
    const app::TCommandLine commandLine = app::ParseCommandLine({argv + std::min(argc, 1), argv + argc});
    if (!commandLine.Error.empty()) {
        std::fprintf(stderr, "glimstep: %s (see glimstep --help)\n", commandLine.Error.c_str());
        return 2;
    }
    if (commandLine.Help || commandLine.Version) {
        std::fputs(commandLine.Help ? app::kUsage : app::kVersionText, stdout);
        return 0;
    }
    std::unique_ptr<app::ViewerListener> listener;
    if (commandLine.Preview || commandLine.Stop) {
        if (const std::optional<int> status = HandOverOrListen(commandLine, listener)) return *status;
    }
    int status = 1;
    try {
        status = Run(argc, argv, commandLine, std::move(listener));
    } catch (const std::exception& e) {
        // Anything that escapes the sequencer's guard still ends with a message, not an abort.
        std::fprintf(stderr, "glimstep: %s\n", e.what());
    }
    // A run ended by SIGINT or SIGTERM ends as the signal would have.
    if (const int signal = gui::QuitSignal()) gui::EndBySignal(signal);
    return status;
}
