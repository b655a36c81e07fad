// A sound buffer on top of mixer voices (TDirectSoundBuffer) and the sound device it is made
// on (TDirectSound). A buffer's duplicates share its decoded samples.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media/DirectX.h"
#include "media/Mixer.h"
#include "media/Wave.h"

namespace media {

GUI_DECLARE_EXCEPTION(EDirectSoundError, EDirectXError);
GUI_DECLARE_EXCEPTION(EDirectSoundBufferError, EDirectSoundError);

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

// Raises EDirectSoundBufferError "サウンドバッファ を作成できません".
[[noreturn]] void RaiseCannotCreateBuffer();

}  // namespace media
