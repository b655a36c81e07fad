// The sound component (TDXSound), its wave list (TDXWaveList) with one item per chart sound
// slot, and the sound buffers behind them. Buffers are voices of our mixer; a buffer's
// duplicates share its decoded samples. The component opens the audio device, or runs
// offline, where its owner renders the mix block by block.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/DirectX.h"
#include "media/Mixer.h"
#include "media/Wave.h"

namespace gui {
class Form;
}

namespace media {

class AudioDevice;
class TDXSound;
class TWaveCollection;

GUI_DECLARE_EXCEPTION(EDirectSoundError, EDirectXError);
GUI_DECLARE_EXCEPTION(EDirectSoundBufferError, EDirectSoundError);
GUI_DECLARE_EXCEPTION(EDXSoundError, Exception);
GUI_DECLARE_EXCEPTION(EWaveCollectionError, Exception);

constexpr HResult DSERR_BUFFERLOST = static_cast<HResult>(0x88780096u);
constexpr HResult DSERR_INVALIDPARAM = static_cast<HResult>(0x80070057u);
constexpr HResult DSERR_BADFORMAT = static_cast<HResult>(0x88780064u);
constexpr HResult DSERR_INVALIDCALL = static_cast<HResult>(0x88780032u);
constexpr HResult DSERR_NODRIVER = static_cast<HResult>(0x88780078u);

constexpr uint32_t DSBSTATUS_PLAYING = 0x1;
constexpr uint32_t DSBSTATUS_BUFFERLOST = 0x2;
constexpr uint32_t DSBSTATUS_LOOPING = 0x4;

constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr uint32_t DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr uint32_t DSBCAPS_CTRLPAN = 0x40;
constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x80;
constexpr uint32_t DSBCAPS_STICKYFOCUS = 0x4000;
constexpr uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;

constexpr int DSSCL_NORMAL = 1;
constexpr int DSSCL_EXCLUSIVE = 3;
constexpr int DSSCL_WRITEPRIMARY = 4;

constexpr int DSBFREQUENCY_ORIGINAL = 0;
constexpr int DSBFREQUENCY_MIN = 100;
constexpr int DSBFREQUENCY_MAX = 200000;
constexpr int DSBPAN_LEFT = -10000;
constexpr int DSBPAN_RIGHT = 10000;
constexpr int DSBVOLUME_MIN = -10000;
constexpr int DSBVOLUME_MAX = 0;

class TDirectSoundBuffer;

// The sound device: the mixer that stands for it and the buffers made on it.
class TDirectSound : public TDirectX {
public:
    explicit TDirectSound(Mixer& mixer) : mixer_(mixer) {}
    ~TDirectSound() override;
    TDirectSound(const TDirectSound&) = delete;
    TDirectSound& operator=(const TDirectSound&) = delete;

    Mixer& GetMixer() const { return mixer_; }
    const std::vector<TDirectSoundBuffer*>& Buffers() const { return buffers_; }
    // Called when the primary format changed the output rate.
    std::function<void()> OnRateChanged;

private:
    friend class TDirectSoundBuffer;
    Mixer& mixer_;
    std::vector<TDirectSoundBuffer*> buffers_;
};

// The sound component's device object, with the focus flags that new buffers take.
class TDXSoundDirectSound : public TDirectSound {
public:
    using TDirectSound::TDirectSound;
    bool GlobalFocus = false;
    bool StickyFocus = false;
    int CooperativeLevel = 0;
};

// A sound buffer. The primary buffer carries the output format; a secondary buffer holds one
// wave's decoded samples and plays them on a mixer voice. Calls other than creation record
// their result in LastResult and raise only when the buffer has no device buffer.
class TDirectSoundBuffer : public TDirectX {
public:
    // `dsound` may be null: such a buffer can never be created (it stands for "no buffer").
    explicit TDirectSoundBuffer(TDirectSound* dsound);
    ~TDirectSoundBuffer() override;
    TDirectSoundBuffer(const TDirectSoundBuffer&) = delete;
    TDirectSoundBuffer& operator=(const TDirectSoundBuffer&) = delete;

    TDirectSound* DSound() const { return dsound_; }
    // True once a device buffer exists (CreatePrimary, CreateBuffer or Duplicate).
    bool Created() const { return created_; }
    bool IsPrimary() const { return primary_; }
    uint32_t Caps() const { return caps_; }

    void CreatePrimary();
    // Makes a device buffer from the wave (raises EDirectSoundBufferError "サウンドバッファ を
    // 作成できません" for a wave without format or data, or when the mixer has no free voice).
    // A format the mixer cannot play gives a buffer that plays silence.
    void CreateBuffer(const TWave& wave, uint32_t caps);
    // Another buffer over the same samples, with the source's frequency, pan and volume.
    bool Duplicate(const TDirectSoundBuffer& source);
    void Release();

    // Primary buffer: the output format (16-bit stereo output at the format's rate).
    bool SetFormat(const TWaveFormatEx& format);
    TWaveFormatEx Format() const;

    int Frequency() const;
    bool SetFrequency(int hz);  // 0 = the wave's own rate
    int Pan() const;
    bool SetPan(int pan);
    int Volume() const;
    bool SetVolume(int volume);
    uint32_t Status() const;
    // Starts from the beginning.
    bool Play(bool looping = false);
    bool Stop();
    // The same on output frame `frame` of the mixer, as though started `elapsed` output frames
    // before it (Mixer::PlayAt).
    bool PlayAt(uint64_t frame, bool looping = false, uint64_t elapsed = 0);
    bool StopAt(uint64_t frame);

    const SampleData* Samples() const { return samples_.get(); }

private:
    friend class TDirectSound;
    void RequireCreated() const;
    // Sets pan or volume (`field`) when `value` lies in [low, high].
    bool SetLevel(int& field, int value, int low, int high);
    // Play and Stop, now or (with `frame`) on that output frame.
    bool Start(const uint64_t* frame, bool looping, uint64_t elapsed = 0);
    bool Halt(const uint64_t* frame);
    void DropVoice();
    double Ratio() const;

    TDirectSound* dsound_;
    bool created_ = false;
    bool primary_ = false;
    uint32_t caps_ = 0;
    TWaveFormatEx format_;
    std::shared_ptr<const SampleData> samples_;
    const TWave* decodedFrom_ = nullptr;
    uint64_t decodedRevision_ = 0;
    int voice_ = -1;
    int frequency_ = 0;
    int pan_ = 0;
    int volume_ = 0;
    bool looping_ = false;
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
    media::Mixer& Mixer() { return *mixer_; }

    // Offline: Initialize opens no device; the owner paints the mix with Render.
    void SetOffline(bool offline) { offline_ = offline; }
    bool Offline() const { return offline_; }
    void Render(int16_t* out, int frames) { mixer_->Render(out, frames); }
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
    std::unique_ptr<media::Mixer> mixer_;
    std::unique_ptr<AudioDevice> device_;
    std::unique_ptr<TDXSoundDirectSound> dsound_;
    std::unique_ptr<TDirectSoundBuffer> primary_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListenerId_ = 1;
};

// One chart sound slot: its wave, the playback settings, the main buffer and the copies that
// are actually played.
class TWaveCollectionItem {
public:
    explicit TWaveCollectionItem(TWaveCollection& collection);
    ~TWaveCollectionItem();
    TWaveCollectionItem(const TWaveCollectionItem&) = delete;
    TWaveCollectionItem& operator=(const TWaveCollectionItem&) = delete;

    std::string Name;

    TWave& Wave() { return wave_; }
    TWaveCollection& Collection() const { return collection_; }

    int Frequency() const { return frequency_; }
    void SetFrequency(int hz);
    int Pan() const { return pan_; }
    void SetPan(int pan);
    int Volume() const { return volume_; }
    void SetVolume(int volume);
    bool Looped() const { return looped_; }
    void SetLooped(bool looped);
    int MaxPlayingCount() const { return maxPlayingCount_; }
    void SetMaxPlayingCount(int count);

    bool Initialized() const { return initialized_; }
    // The main buffer, restored first when the component is initialised and the item has no
    // device buffer yet. Never null: without a sound device it is a buffer that was never
    // created, whose calls raise "IDirectSoundBuffer は作成されていません".
    TDirectSoundBuffer* Buffer();
    int CopyCount() const { return static_cast<int>(copies_.size()); }
    TDirectSoundBuffer* Copy(int index) const { return copies_.at(static_cast<size_t>(index)).get(); }

    void Initialize();
    void Finalize();
    void Restore();
    // Starts the sound from its beginning on an idle copy (or the main buffer when looped).
    // With `wait`, returns when it has finished (only while a device plays it).
    void Play(bool wait = false);
    void Stop();
    // Stop and Play on output frame `frame` of the mixer, so that the sound starts on its exact
    // sample; what is sounding until then goes on until then. With `elapsed`, the sound is heard
    // from `frame` on as though it had started `elapsed` output frames earlier (a play that
    // begins part-way through the song).
    void PlayAt(uint64_t frame, uint64_t elapsed = 0);
    void StopAt(uint64_t frame);

private:
    TDirectSoundBuffer& MakeCopy();
    TDirectSoundBuffer& ChooseCopy();
    // Play without waiting, now or (with `frame`) on that frame; returns the buffer started.
    TDirectSoundBuffer* Start(const uint64_t* frame, uint64_t elapsed = 0);

    TWaveCollection& collection_;
    TWave wave_;
    int frequency_ = 0;
    int pan_ = 0;
    int volume_ = 0;
    bool looped_ = false;
    int maxPlayingCount_ = 0;
    bool initialized_ = false;
    std::unique_ptr<TDirectSoundBuffer> buffer_;
    std::vector<std::unique_ptr<TDirectSoundBuffer>> copies_;
    TDirectSoundBuffer noBuffer_{nullptr};
};

class TWaveCollection {
public:
    TWaveCollection() = default;
    ~TWaveCollection();
    TWaveCollection(const TWaveCollection&) = delete;
    TWaveCollection& operator=(const TWaveCollection&) = delete;

    // A new item at the end, not initialised, with an empty wave. Items keep their address.
    TWaveCollectionItem& Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TWaveCollectionItem& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
    TWaveCollectionItem& operator[](int index) const { return Items(index); }
    // The first item with this name, or null.
    TWaveCollectionItem* Find(const std::string& name) const;
    void Clear();

    // The component the collection was initialised with; initialised while that component is.
    TDXSound* DXSound() const { return sound_; }
    bool Initialized() const;
    void Initialize(TDXSound* sound);
    void Finalize();
    void Restore();

private:
    TDXSound* sound_ = nullptr;
    std::vector<std::unique_ptr<TWaveCollectionItem>> items_;
};

class TDXWaveList {
public:
    explicit TDXWaveList(TDXSound* sound = nullptr);
    ~TDXWaveList();
    TDXWaveList(const TDXWaveList&) = delete;
    TDXWaveList& operator=(const TDXWaveList&) = delete;

    TDXSound* DXSound() const { return sound_; }
    void SetDXSound(TDXSound* sound);
    TWaveCollection& Items() { return items_; }

private:
    void Notified(TDXSound& sender, TDXSoundNotify step);

    TDXSound* sound_ = nullptr;
    int listenerId_ = 0;
    TWaveCollection items_;
};

}  // namespace media
