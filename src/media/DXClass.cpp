#include "media/DXClass.h"

#include <algorithm>
#include <cmath>

#include "gui/Application.h"
#include "gui/Clock.h"

namespace media {

TCustomDXTimer::TCustomDXTimer(gui::Application& application) : application_(application) {
    activationHook_ = application_.AddActivationHandler([this](bool active) { AppActivation(active); });
}

TCustomDXTimer::~TCustomDXTimer() {
    Stop();
    application_.RemoveActivationHandler(activationHook_);
}

void TCustomDXTimer::Loaded() {
    loading_ = false;
    if (enabled_) Start();
}

void TCustomDXTimer::SetEnabled(bool value) {
    if (enabled_ == value) return;
    enabled_ = value;
    if (loading_) return;
    if (value) Start();
    else Stop();
}

void TCustomDXTimer::SetInterval(int32_t value) {
    if (interval_ == value) return;
    interval_ = std::max(value, 0);
    intervalDivisor_ = static_cast<uint32_t>(std::max(value, 1));
}

void TCustomDXTimer::Start() {
    Stop();
    if (!activeOnly_ || application_.Active()) Attach();
    started_ = true;
}

void TCustomDXTimer::Stop() {
    if (started_) Detach();
    started_ = false;
}

void TCustomDXTimer::Attach() {
    oldTime_ = gui::timeGetTime();
    oldTime2_ = oldTime_;
    application_.SetOnIdle([this] { return IdleStep(); });
}

void TCustomDXTimer::Detach() { application_.SetOnIdle(nullptr); }

void TCustomDXTimer::AppActivation(bool active) {
    if (active) {
        HandleActivate();
        if (started_ && activeOnly_) Attach();
    } else {
        HandleDeactivate();
        if (started_ && activeOnly_) Detach();
    }
}

bool TCustomDXTimer::IdleStep() {
    const uint32_t now = gui::timeGetTime();
    const uint32_t elapsed = now - oldTime_;
    if (elapsed < static_cast<uint32_t>(interval_)) return false;
    oldTime_ = now;
    int lagCount = static_cast<int32_t>(elapsed / intervalDivisor_);
    if (lagCount < 1) lagCount = 1;
    ++frameCount_;
    const int32_t window = std::max(static_cast<int32_t>(now - oldTime2_), 1);
    if (window >= 1000) {
        frameRate_ = static_cast<int32_t>(std::nearbyint(static_cast<double>(frameCount_) * 1000.0 / window));
        frameCount_ = 0;
        oldTime2_ = now;
    }
    HandleTimer(lagCount);
    return false;
}

void TCustomDXTimer::HandleActivate() {
    if (OnActivate) OnActivate(*this);
}

void TCustomDXTimer::HandleDeactivate() {
    if (OnDeactivate) OnDeactivate(*this);
}

void TCustomDXTimer::HandleTimer(int lagCount) {
    if (OnTimer) OnTimer(*this, lagCount);
}

}  // namespace media
