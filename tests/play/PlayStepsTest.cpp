// The order of the play steps that the main form and the offline renderer share.
#include <gtest/gtest.h>

#include "engine/BMSEngine.h"
#include "gui/Application.h"
#include "gui/Clock.h"
#include "gui/Exception.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "play/PlaySteps.h"
#include "support/TestFiles.h"

namespace {

struct Steps : ::testing::Test {
    gui::Application application;
    media::TDXDraw display{nullptr};
    media::TDXSound sound{nullptr};
    engine::TBMS bms{&display, &sound};
    std::string message = "unchanged";
    void SetUp() override { gui::Clock::UseManual(5000); }
    void TearDown() override { gui::Clock::UseSystem(); }
    void Run(int32_t& step) { play::RunPlayStep(step, application, display, bms, "missing.bms", message, {}, {}); }
};

TEST_F(Steps, AChartThatCannotBeLoadedEndsAndKeepsTheMessage) {
    int32_t step = play::kStepLoad;
    bms.BgaDisplayMode = 2;
    Run(step);
    EXPECT_EQ(step, play::kStepEnd);
    EXPECT_EQ(message, "unchanged");
}

TEST_F(Steps, StartRestartsTheLeadInAndAFailingMidiCountsAsThePlayStep) {
    int32_t step = play::kStepStart;
    Run(step);
    EXPECT_EQ(step, play::kStepPlay);
    EXPECT_EQ(bms.Clock().ClockBase(), 7000u);

    // Named but never opened (the file is no MIDI file): Play raises, after the step has moved
    // on and before the clock restarts.
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "song.mid", "not a MIDI file");
    testsupport::WriteFile(dir / "song.bms", "#MIDIFILE song.mid\n");
    bms.BgaDisplayMode = 2;
    ASSERT_TRUE(bms.LoadChart((dir / "song.bms").string(), 128));
    ASSERT_EQ(bms.Header().MidiFileName, "song.mid");
    gui::Clock::Advance(100);
    step = play::kStepStart;
    EXPECT_THROW(Run(step), gui::Exception);
    EXPECT_EQ(step, play::kStepPlay);
    EXPECT_EQ(bms.Clock().ClockBase(), 7000u);

    step = play::kStepAfterPlay;
    Run(step);
    EXPECT_EQ(step, play::kStepEnd);
    EXPECT_EQ(message, "");
    EXPECT_FALSE(play::IsPlayStep(play::kStepEnd));
    EXPECT_FALSE(play::IsPlayStep(0));
    EXPECT_TRUE(play::IsPlayStep(play::kStepBeforePlay));
}

}  // namespace
