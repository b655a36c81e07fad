#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "gui/Application.h"
#include "gui/Form.h"
#include "support/FormEvents.h"
#include "support/SilentDisplay.h"

namespace {

TEST(ApplicationModal, AModalFormBlocksTheOtherFormsKeysAndCloseBoxUntilItEnds) {
    gui::Application application;
    gui::Form main(application, "main", 320, 240);
    gui::Form box(application, "box", 200, 80);
    std::vector<int> mainKeys, boxKeys;
    main.OnKeyDown = [&](int key) { mainKeys.push_back(key); };
    box.OnKeyDown = [&](int key) { boxKeys.push_back(key); };
    main.Show();
    box.Show();

    testsupport::PushKeyDown(main, SDLK_ESCAPE);
    testsupport::PushKeyDown(main, SDLK_F4);
    testsupport::PushClose(main);
    testsupport::PushKeyDown(box, SDLK_SPACE);
    testsupport::PushKeyDown(box, SDLK_RETURN);
    EXPECT_TRUE(application.RunModal(box, [&] { return boxKeys.size() == 2; }));
    EXPECT_TRUE(mainKeys.empty());
    EXPECT_FALSE(main.Closed());
    EXPECT_FALSE(application.Terminated());
    EXPECT_EQ(boxKeys, (std::vector<int>{gui::VK_SPACE, gui::VK_RETURN}));
    EXPECT_EQ(application.ModalForm(), nullptr);

    // Once the modal loop is over the main form has its keys again.
    testsupport::PushKeyDown(main, SDLK_F4);
    // (SDL may end a pass of the loop at the mark of its previous pass first.)
    application.ProcessMessages();
    application.ProcessMessages();
    EXPECT_EQ(mainKeys, std::vector<int>{gui::VK_F4});
}

TEST(ApplicationModal, WithoutADisplayTheLoopHandlesWhatIsQueuedAndDoesNotWaitForMore) {
    gui::Application application;
    gui::Form box(application, "box", 200, 80);
    ASSERT_FALSE(application.HasDisplay());
    int keys = 0;
    box.OnKeyDown = [&](int) { ++keys; };
    box.Show();
    testsupport::PushKeyDown(box, SDLK_TAB);
    testsupport::PushKeyDown(box, SDLK_TAB);
    EXPECT_FALSE(application.RunModal(box, [] { return false; }));
    EXPECT_EQ(keys, 2);
}

// Sets environment variables for one test and restores them afterwards.
class Environment {
public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        if (value != nullptr) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
            else unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct StartUp {
    bool hasDisplay = false;
    std::string err;
    std::chrono::steady_clock::duration took{};
};

// Initialises an application with DISPLAY set to `display` (unset for nullptr), SDL left to pick
// its driver.
StartUp StartWithDisplay(gui::Application& application, const char* display, const char* drops = nullptr) {
    Environment env;
    env.Set("SDL_VIDEODRIVER", nullptr);
    env.Set("WAYLAND_DISPLAY", nullptr);
    env.Set("WAYLAND_SOCKET", nullptr);
    // Without it no Wayland compositor can be reached, and none is tried.
    env.Set("XDG_RUNTIME_DIR", nullptr);
    env.Set("DISPLAY", display);
    env.Set("GLIMSTEP_TEST_DISPLAY_DROPS", drops);
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    application.Initialize();
    StartUp result;
    result.took = std::chrono::steady_clock::now() - start;
    result.err = testing::internal::GetCapturedStderr();
    result.hasDisplay = application.HasDisplay();
    return result;
}

TEST(ApplicationDisplay, ADisplayThatIsNotThereIsTriedAgainThenReportedAndTheProgramGoesOnWithout) {
    gui::Application application;
    const StartUp started = StartWithDisplay(application, ":4711");
    EXPECT_FALSE(started.hasDisplay);
    // Our message alone: no library's complaints about the drivers tried.
    EXPECT_EQ(started.err, std::string(program_invocation_short_name) +
                               ": cannot open display \":4711\"; going on without a display\n");
    // Four pauses of 100 ms between five attempts.
    EXPECT_GE(started.took, std::chrono::milliseconds(400));
    // Windows still work, drawn into memory.
    gui::Form form(application, "form", 100, 100);
    form.Show();
    form.Repaint();
}

TEST(ApplicationDisplay, WithoutANamedDisplayNothingIsTriedAgainOrReported) {
    gui::Application application;
    const StartUp started = StartWithDisplay(application, nullptr, "3");
    EXPECT_FALSE(started.hasDisplay);
    EXPECT_EQ(started.err, "");
    EXPECT_LT(started.took, std::chrono::milliseconds(300));
}

// A display that accepts the connection and never answers (a stuck ssh tunnel) is given a few
// seconds, then reported as one that is not there.
TEST(ApplicationDisplay, ADisplayThatNeverAnswersIsReportedAndTheProgramGoesOnWithout) {
    testsupport::SilentDisplay display;
    ASSERT_TRUE(display.Listening());
    gui::Application application;
    const StartUp started = StartWithDisplay(application, display.Name().c_str());
    EXPECT_FALSE(started.hasDisplay);
    EXPECT_EQ(started.err, std::string(program_invocation_short_name) + ": cannot open display \"" + display.Name() +
                               "\"; going on without a display\n");
    EXPECT_LT(started.took, std::chrono::seconds(60));
}

}  // namespace
