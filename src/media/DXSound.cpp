#include "media/DXSound.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "media/AudioDevice.h"

namespace media {

TDXSound::TDXSound(gui::Form* form) : form_(form) {}

TDXSound::~TDXSound() {
    Finalize();
    Notify(TDXSoundNotify::Destroying);
    listeners_.clear();
}

media::Mixer& TDXSound::Mixer() {
    std::call_once(mixerMade_, [this] { mixer_ = std::make_unique<media::Mixer>(44100); });
    return *mixer_;
}

void TDXSound::SetOptions(TDXSoundOptions options) {
    options_ = options;
    if (initialized_) {
        // Only the focus flags change on a running device; the rest waits for the next start.
        constexpr TDXSoundOptions kLive = soGlobalFocus | soStickyFocus;
        effectiveOptions_ = (effectiveOptions_ & ~kLive) | (options & kLive);
        dsound_->GlobalFocus = (options & soGlobalFocus) != 0;
        dsound_->StickyFocus = (options & soStickyFocus) != 0;
    } else {
        effectiveOptions_ = options;
    }
}

void TDXSound::Loaded() {
    if (!AutoInitialize) return;
    try {
        Initialize();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glimstep: no sound: %s\n", e.what());
    }
}

void TDXSound::Initialize() {
    Finalize();
    if (form_ == nullptr && !offline_) throw EDXSoundError("フォームが見つかりません");
    initializing_ = true;
    Notify(TDXSoundNotify::Initializing);
    if (OnInitializing) OnInitializing(*this);
    try {
        if (!offline_) {
            device_ = std::make_unique<AudioDevice>();
            if (!device_->Open(Mixer(), Mixer().Rate())) {
                const std::string reason = device_->Error();
                device_.reset();
                throw EDirectSoundError(gui::Format("%s を初期化できません", "DirectSound") +
                                        (reason.empty() ? "" : " (" + reason + ")"));
            }
        }
        dsound_ = std::make_unique<TDXSoundDirectSound>(Mixer());
        dsound_->OnRateChanged = [this] { ReopenDevice(); };
        dsound_->GlobalFocus = (effectiveOptions_ & soGlobalFocus) != 0;
        primary_ = std::make_unique<TDirectSoundBuffer>(dsound_.get());
        try {
            primary_->CreatePrimary();
        } catch (const gui::Exception&) {
            throw EDXSoundError(gui::Format("%s を作成できません", "プライマリバッファ"));
        }
        initialized_ = true;
        if (effectiveOptions_ & soWritePrimary)
            dsound_->CooperativeLevel = DSSCL_WRITEPRIMARY;
        else if (effectiveOptions_ & soExclusive)
            dsound_->CooperativeLevel = DSSCL_EXCLUSIVE;
        else
            dsound_->CooperativeLevel = DSSCL_NORMAL;
    } catch (...) {
        Finalize();
        throw;
    }
    initializing_ = false;
    Notify(TDXSoundNotify::Initialized);
    if (OnInitialize) OnInitialize(*this);
    calledInitialize_ = true;
    Restore();
}

void TDXSound::Finalize() {
    if (!initialized_ && !initializing_) return;
    if (calledInitialize_ && OnFinalize) OnFinalize(*this);
    calledInitialize_ = false;
    Notify(TDXSoundNotify::Finalizing);
    initialized_ = false;
    initializing_ = false;
    effectiveOptions_ = options_;
    primary_.reset();
    if (device_) device_->Close();
    device_.reset();
    dsound_.reset();
}

void TDXSound::Restore() {
    if (restoring_) return;
    restoring_ = true;
    try {
        Notify(TDXSoundNotify::Restore);
        if (OnRestore) OnRestore(*this);
    } catch (...) {
        restoring_ = false;
        throw;
    }
    restoring_ = false;
}

const AudioDevice* TDXSound::Device() const { return device_ && device_->IsOpen() ? device_.get() : nullptr; }

void TDXSound::ReopenDevice() {
    if (!device_ || device_->Rate() == mixer_->Rate()) return;
    device_->Close();
    device_->Open(*mixer_, mixer_->Rate());
}

int TDXSound::AddListener(Listener listener) {
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void TDXSound::RemoveListener(int id) {
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(), [id](const auto& l) { return l.first == id; }),
                     listeners_.end());
}

void TDXSound::Notify(TDXSoundNotify step) {
    // A listener may unregister itself while being told.
    const auto snapshot = listeners_;
    for (const auto& entry : snapshot) {
        const int id = entry.first;
        const bool stillThere =
            std::any_of(listeners_.begin(), listeners_.end(), [id](const auto& l) { return l.first == id; });
        if (stillThere) entry.second(*this, step);
    }
}

}  // namespace media
