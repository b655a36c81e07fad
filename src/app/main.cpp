// The program block: the application object, then the main form, the data module with the
// sprite sheet and the settings dialog, in that order; then the message loop.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/BMCore.h"
#include "app/Setting.h"
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

int Run(int argc, char** argv) {
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
    // No viewer plays: nothing to stop.
    if (commandLine.Stop) return 0;
    int status = 1;
    try {
        status = Run(argc, argv);
    } catch (const std::exception& e) {
        // Anything that escapes the sequencer's guard still ends with a message, not an abort.
        std::fprintf(stderr, "glimstep: %s\n", e.what());
    }
    // A run ended by SIGINT or SIGTERM ends as the signal would have.
    if (const int signal = gui::QuitSignal()) gui::EndBySignal(signal);
    return status;
}
