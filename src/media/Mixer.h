// The sound mixer: voices that play decoded sample data at their own rate, pan and volume,
// plus sources (the MIDI synthesiser) that add their own output, painted into interleaved
// 16-bit stereo frames. The audio device's callback calls Render; tests and the offline
// renderer call it directly. The main thread talks to the rendering thread through a short,
// locked command list; Render itself never allocates, waits long or does I/O.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/Wave.h"

namespace media {

// Decoded sample frames, shared by a sound buffer and its duplicates.
struct SampleData {
    int rate = 0;        // frames per second of `samples`
    int sourceRate = 0;  // the wave's own rate (what Frequency is measured against)
    int channels = 1;    // 1 or 2
    std::vector<int16_t> samples;  // interleaved
    size_t Frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// True when the format block describes PCM (8/16/24/32 bits), 32-bit float (plain or
// WAVE_FORMAT_EXTENSIBLE), mono or stereo, at a rate the mixer can play.
bool IsPlayableFormat(const std::vector<uint8_t>& formatBlock);

// Decodes a wave's sample data to 16-bit frames at `targetRate`. A format the mixer cannot play
// gives empty sample data (the sound is silent) with the format's own rate.
std::shared_ptr<const SampleData> DecodeWave(const std::vector<uint8_t>& formatBlock, const uint8_t* data,
                                             size_t size, int targetRate);

// Something that adds its own sound to the mix. Mix runs on the rendering thread.
class MixerSource {
public:
    virtual ~MixerSource() = default;
    // Adds `frames` interleaved stereo frames to `mix`, in 16-bit full scale (±32768).
    virtual void Mix(float* mix, int frames) = 0;
};

// Volume in hundredths of a decibel (0 = full, -10000 = silent) and pan (-10000 left .. 10000
// right) as left and right gains.
struct StereoGain {
    float left = 1.0f;
    float right = 1.0f;
};
StereoGain GainFromVolumePan(int volume, int pan);

class Mixer {
public:
    static constexpr int kMaxVoices = 4096;
    static constexpr int kMaxSources = 8;
    static constexpr int kBlockFrames = 256;

    explicit Mixer(int rate = 44100);
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    int Rate() const { return rate_.load(); }
    // Changes the output rate (voices keep their pitch).
    void SetRate(int rate);

    // Voices, main thread. AllocateVoice gives -1 when every voice is taken.
    int AllocateVoice();
    // Stops the voice and returns it; afterwards the rendering thread no longer reads the data
    // it was playing, so that data may be freed.
    void FreeVoice(int voice);
    // Starts `data` from its beginning; `ratio` is the playback rate relative to the data's own
    // rate (1 = as recorded). While a device plays the mix, the start is placed one device
    // buffer after the call, at the frame that corresponds to the moment of the call, so that
    // sounds keep their spacing instead of snapping to buffer boundaries.
    void Play(int voice, const SampleData* data, double ratio, StereoGain gain, bool looped);
    void Stop(int voice);
    // The same, on output frame `frame` (counted as FramesRendered counts), so that a start
    // lands on its exact sample; a frame that has been rendered already takes effect at the
    // start of the next Render. For the main thread the voice changes at once: IsPlaying
    // reads as it will read from that frame on.
    void PlayAt(uint64_t frame, int voice, const SampleData* data, double ratio, StereoGain gain, bool looped);
    void StopAt(uint64_t frame, int voice);
    void SetRatio(int voice, double ratio);
    void SetGain(int voice, StereoGain gain);
    // True from Play until the voice is stopped or reaches the end of its data.
    bool IsPlaying(int voice) const;
    int ActiveVoices() const { return activeCount_.load(std::memory_order_relaxed); }

    // Sources, main thread. AddSource returns the output frame that the source's first Mix
    // paints; RemoveSource returns once the source is no longer called.
    uint64_t AddSource(MixerSource* source);
    void RemoveSource(MixerSource* source);

    // Holds off the rendering thread while it exists (for changes to a source's inner state).
    std::unique_lock<std::mutex> LockRendering() { return std::unique_lock<std::mutex>(renderMutex_); }

    // Paints `frames` interleaved stereo frames. Saturates at the 16-bit limits.
    void Render(int16_t* out, int frames);
    uint64_t FramesRendered() const { return framesRendered_.load(std::memory_order_acquire); }

    // Set by the owner while a device thread calls Render (then sources may interpolate time).
    void SetDeviceDriven(bool driven) { deviceDriven_.store(driven); }
    bool DeviceDriven() const { return deviceDriven_.load(); }
    // The monotonic nanosecond clock used to place starts within a device buffer (tests replace it).
    using TimeSource = int64_t (*)();
    void SetTimeSource(TimeSource now) { now_ = now; }

    // Set by an offline owner that renders the mix in step with play (the offline renderer):
    // then, as under a device, the output frames are the song clock.
    void SetOfflineClock(bool on) { offlineClock_.store(on); }
    bool IsSongClock() const { return deviceDriven_.load() || offlineClock_.load(); }
    // The output frame being heard now. Under a device: the frames before its last callback
    // plus the time since that callback, at most the callback's frames, so that it moves on
    // smoothly between callbacks, never goes back and keeps the device's own rate over a long
    // song. Otherwise the frames rendered.
    double PlayingFrame() const;
    // Frames of the device's last callback: how far the mix may already be rendered past
    // PlayingFrame (0 without a device).
    int DeviceBlockFrames() const;

private:
    struct Voice {
        const SampleData* data = nullptr;
        uint64_t pos = 0;   // 32.32 fixed point, in frames of `data`
        uint64_t step = 0;  // 32.32 fixed point
        double ratio = 1.0;
        float left = 1.0f;
        float right = 1.0f;
        uint32_t ticket = 0;
        int delay = 0;  // output frames of silence before the voice starts
        bool looped = false;
        bool active = false;
        int activeIndex = -1;
    };
    enum class CommandType : uint8_t { Play, Stop, Ratio, Gain };
    struct Command {
        CommandType type;
        int voice;
        uint32_t ticket;
        const SampleData* data;
        double ratio;
        StereoGain gain;
        bool looped;
        int64_t submitNs = 0;  // when a device plays: the moment Play was called
        bool timed = false;
        uint64_t frame = 0;  // the output frame of a timed command
    };

    void Push(const Command& command);
    uint32_t NextTicket(int voice);
    // Needs both locks. `periodFrames` and `nowNs` describe the device callback being served
    // (0 when there is none). Timed commands move to the schedule.
    void ApplyCommands(int periodFrames = 0, int64_t nowNs = 0);
    // Drops the scheduled commands of `voice` (rendering thread).
    void Unschedule(int voice);
    void Apply(const Command& command, int periodFrames, int64_t nowNs);
    void Activate(int voice);
    void Deactivate(int voice);
    uint64_t StepFor(const SampleData* data, double ratio) const;
    // Returns false when the voice has ended.
    bool MixVoice(Voice& voice, float* mix, int frames);

    TimeSource now_;
    std::atomic<int> rate_;
    std::atomic<bool> deviceDriven_{false};
    std::atomic<bool> offlineClock_{false};
    std::atomic<uint64_t> framesRendered_{0};
    std::atomic<int> activeCount_{0};

    std::mutex renderMutex_;   // held by Render for its whole run
    std::mutex commandMutex_;  // guards commands_
    std::vector<Command> commands_;

    // Main thread's view of the voices.
    std::vector<int> freeVoices_;
    std::vector<uint32_t> playTicket_;
    std::vector<bool> touched_;  // played since it was allocated: the data may be referenced
    uint32_t nextTicket_ = 1;
    std::unique_ptr<std::atomic<uint32_t>[]> endedTicket_;

    // The last device callback, for PlayingFrame.
    mutable std::mutex clockMutex_;
    uint64_t callbackFrame_ = 0;
    int64_t callbackNs_ = 0;
    int callbackFrames_ = 0;

    // Rendering thread's state.
    std::vector<Command> scheduled_;  // timed commands by frame, in arrival order within a frame
    std::vector<Voice> voices_;
    std::vector<int> active_;
    MixerSource* sources_[kMaxSources] = {};
    std::vector<float> mix_;
};

}  // namespace media
