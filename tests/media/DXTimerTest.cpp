#include <gtest/gtest.h>

#include <vector>

#include "gui/Application.h"
#include "gui/Clock.h"
#include "media/DXClass.h"

using gui::Clock;

namespace {

struct TimerRig : ::testing::Test {
    gui::Application app;
    media::TDXTimer timer{app};
    std::vector<int> lags;

    void SetUp() override {
        Clock::UseManual(1000);
        timer.SetActiveOnly(false);
        timer.OnTimer = [this](media::TCustomDXTimer&, int lag) { lags.push_back(lag); };
    }
    void TearDown() override { Clock::UseSystem(); }
    // One pass of the message loop's idle processing.
    bool Idle() { return app.HasIdleHandler() ? timer.IdleStep() : true; }
};

}  // namespace

TEST_F(TimerRig, IntervalAndLagCount) {
    timer.SetInterval(100);
    timer.Loaded();
    ASSERT_TRUE(app.HasIdleHandler());
    Clock::Advance(99);
    EXPECT_FALSE(Idle());  // never lets the loop sleep
    EXPECT_TRUE(lags.empty());
    Clock::Advance(251);  // 350 ms after attaching
    Idle();
    ASSERT_EQ(lags, std::vector<int>{3});
    Clock::Advance(99);
    Idle();
    EXPECT_EQ(lags.size(), 1u);  // next event 100 ms after this one, no catch-up
    Clock::Advance(1);
    Idle();
    EXPECT_EQ(lags, (std::vector<int>{3, 1}));
}

TEST_F(TimerRig, IntervalZeroAndNegative) {
    timer.SetInterval(-5);
    EXPECT_EQ(timer.Interval(), 0);
    timer.Loaded();
    Idle();
    Clock::Advance(7);
    Idle();
    EXPECT_EQ(lags, (std::vector<int>{1, 7}));
}

TEST_F(TimerRig, ElapsedTimeSurvivesClockWrapAround) {
    Clock::Set(0xFFFFFFF0u);
    timer.SetInterval(10);
    timer.Loaded();
    Clock::Advance(0x20);  // wraps past zero
    Idle();
    EXPECT_EQ(lags, std::vector<int>{3});
}

TEST_F(TimerRig, FrameRateSettlesAfterTheFirstWindow) {
    timer.SetInterval(10);
    timer.Loaded();
    for (int i = 0; i < 99; ++i) {
        Clock::Advance(10);
        Idle();
        EXPECT_EQ(timer.FrameRate(), 0);
    }
    Clock::Advance(10);
    Idle();  // this event closes the first one-second window and counts in it
    EXPECT_EQ(timer.FrameRate(), 100);
    for (int i = 0; i < 50; ++i) {
        Clock::Advance(20);
        Idle();
    }
    EXPECT_EQ(timer.FrameRate(), 50);
}

TEST_F(TimerRig, DisabledTimerRaisesNoEvents) {
    timer.SetInterval(1);
    timer.Loaded();
    timer.SetEnabled(false);
    EXPECT_FALSE(app.HasIdleHandler());
    Clock::Advance(50);
    Idle();
    EXPECT_TRUE(lags.empty());
    timer.SetEnabled(true);
    Clock::Advance(5);
    Idle();
    EXPECT_EQ(lags, std::vector<int>{5});
}

TEST_F(TimerRig, ActiveOnlyDetachesWhileInactiveAndResetsOnReturn) {
    timer.SetActiveOnly(true);
    timer.SetInterval(10);
    timer.Loaded();
    app.SetActive(false);
    EXPECT_FALSE(app.HasIdleHandler());
    Clock::Advance(5000);
    app.SetActive(true);
    ASSERT_TRUE(app.HasIdleHandler());
    Clock::Advance(20);
    Idle();
    EXPECT_EQ(lags, std::vector<int>{2});  // not inflated by the pause
}

TEST_F(TimerRig, InactiveApplicationDoesNotStopATimerThatRunsAlways) {
    int activations = 0;
    timer.OnDeactivate = [&](media::TCustomDXTimer&) { ++activations; };
    timer.SetInterval(10);
    timer.Loaded();
    app.SetActive(false);
    EXPECT_EQ(activations, 1);
    EXPECT_TRUE(app.HasIdleHandler());
}
