// The sound component (TDXSound): the mixer, the audio device it opens (or none, offline,
// where its owner renders the mix block by block) and the steps of the device's life that its
// listeners follow.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "media/SoundBuffer.h"

namespace gui {
class Form;
}

namespace media {

class AudioDevice;

GUI_DECLARE_EXCEPTION(EDXSoundError, Exception);

// The sound component's device object, with the focus flags that new buffers take.
class TDXSoundDirectSound : public TDirectSound {
public:
    using TDirectSound::TDirectSound;
    bool GlobalFocus = false;
    bool StickyFocus = false;
    int CooperativeLevel = 0;
};

using TDXSoundOptions = unsigned;
constexpr TDXSoundOptions soGlobalFocus = 1u << 0;
constexpr TDXSoundOptions soStickyFocus = 1u << 1;
constexpr TDXSoundOptions soExclusive = 1u << 2;
constexpr TDXSoundOptions soWritePrimary = 1u << 3;

// What the sound component tells its listeners.
enum class TDXSoundNotify { Destroying = 0, Initializing = 1, Initialized = 2, Finalizing = 3, Restore = 4 };

class TDXSound {
public:
    using Listener = std::function<void(TDXSound& sender, TDXSoundNotify step)>;
    using NotifyEvent = std::function<void(TDXSound& sender)>;

    // `form` is the form the component belongs to; without one, Initialize raises (unless
    // offline, where no window is involved).
    explicit TDXSound(gui::Form* form);
    ~TDXSound();
    TDXSound(const TDXSound&) = delete;
    TDXSound& operator=(const TDXSound&) = delete;

    bool AutoInitialize = true;
    NotifyEvent OnInitializing;
    NotifyEvent OnInitialize;
    NotifyEvent OnFinalize;
    NotifyEvent OnRestore;

    TDXSoundOptions Options() const { return options_; }
    void SetOptions(TDXSoundOptions options);
    gui::Form* Form() const { return form_; }

    // Runs once the owning form has been set up: initialises when AutoInitialize is set. A
    // failure leaves the component uninitialised (the program then plays silently) and is
    // reported once on stderr.
    void Loaded();
    void Initialize();
    void Finalize();
    bool Initialized() const { return initialized_; }
    // The restore step: listeners restore their buffers, then OnRestore.
    void Restore();

    TDXSoundDirectSound* DSound() const { return dsound_.get(); }
    TDirectSoundBuffer* Primary() const { return primary_.get(); }
    // Made at the first call (from any thread): its command and voice tables are megabytes that
    // a program that never plays (glimstep-info) need not fill.
    media::Mixer& Mixer();

    // Offline: Initialize opens no device; the owner paints the mix with Render.
    void SetOffline(bool offline) { offline_ = offline; }
    bool Offline() const { return offline_; }
    void Render(int16_t* out, int frames) { Mixer().Render(out, frames); }
    // The open device, or null (offline or not initialised).
    const AudioDevice* Device() const;
    // Reopens the device at the mixer's rate (after the primary format changed).
    void ReopenDevice();

    int AddListener(Listener listener);
    void RemoveListener(int id);

private:
    void Notify(TDXSoundNotify step);

    gui::Form* form_;
    TDXSoundOptions options_ = 0;
    TDXSoundOptions effectiveOptions_ = 0;
    bool initialized_ = false;
    bool initializing_ = false;
    bool calledInitialize_ = false;
    bool restoring_ = false;
    bool offline_ = false;
    std::once_flag mixerMade_;
    std::unique_ptr<media::Mixer> mixer_;
    std::unique_ptr<AudioDevice> device_;
    std::unique_ptr<TDXSoundDirectSound> dsound_;
    std::unique_ptr<TDirectSoundBuffer> primary_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListenerId_ = 1;
};

}  // namespace media
