// The frame timer: raises its event from the application's idle processing at most every
// Interval milliseconds of the multimedia clock, and keeps the loop polling while it runs.
#pragma once

#include <cstdint>
#include <functional>

namespace gui {
class Application;
}

namespace media {

class TCustomDXTimer {
public:
    using TDXTimerEvent = std::function<void(TCustomDXTimer& sender, int lagCount)>;
    using TNotifyEvent = std::function<void(TCustomDXTimer& sender)>;

    explicit TCustomDXTimer(gui::Application& application);
    virtual ~TCustomDXTimer();
    TCustomDXTimer(const TCustomDXTimer&) = delete;
    TCustomDXTimer& operator=(const TCustomDXTimer&) = delete;

    // Ends the reading of the form description: starts the timer when it is enabled.
    void Loaded();

    bool ActiveOnly() const { return activeOnly_; }
    void SetActiveOnly(bool value) { activeOnly_ = value; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    int32_t Interval() const { return interval_; }
    void SetInterval(int32_t value);
    int32_t FrameRate() const { return frameRate_; }

    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TDXTimerEvent OnTimer;

    // One idle pass; returns false ("idle work not finished") so the loop polls again at once.
    bool IdleStep();

protected:
    virtual void HandleActivate();
    virtual void HandleDeactivate();
    virtual void HandleTimer(int lagCount);

private:
    void Start();
    void Stop();
    void Attach();
    void Detach();
    void AppActivation(bool active);

    gui::Application& application_;
    int activationHook_ = 0;
    bool loading_ = true;
    bool activeOnly_ = true;
    bool enabled_ = true;
    int32_t interval_ = 1000;
    uint32_t intervalDivisor_ = 1000;
    uint32_t oldTime_ = 0;
    uint32_t oldTime2_ = 0;
    int32_t frameCount_ = 0;
    int32_t frameRate_ = 0;
    bool started_ = false;
};

class TDXTimer : public TCustomDXTimer {
public:
    using TCustomDXTimer::TCustomDXTimer;
};

}  // namespace media
