// The sound mixer: voices that play decoded sample data at their own rate, pan and volume,
// plus sources (the MIDI synthesiser) that add their own output, painted into interleaved
// 16-bit stereo frames. The audio device's callback calls Render; tests and the offline
// renderer call it directly. The main thread hands commands to the rendering thread through a
// lock-free ring; Render itself never allocates, waits for a lock or does I/O.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/FixedQueues.h"
#include "media/Wave.h"

namespace media {

// Interleaved 16-bit samples that never change: converted ones of its own, or a wave's data block
// that already holds them, shared rather than copied.
class SampleBlock {
public:
    SampleBlock() = default;
    SampleBlock(std::vector<int16_t> samples);
    // The first `count` samples of `bytes` (native 16-bit samples, suitably aligned), kept alive here.
    SampleBlock(std::shared_ptr<const uint8_t[]> bytes, size_t count);

    const int16_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    int16_t operator[](size_t i) const { return data_[i]; }
    int16_t back() const { return data_[size_ - 1]; }
    const int16_t* begin() const { return data_; }
    const int16_t* end() const { return data_ + size_; }
    void assign(size_t count, int16_t value) { *this = SampleBlock(std::vector<int16_t>(count, value)); }
    // Whether the samples are `bytes` itself.
    bool Shares(const void* bytes) const { return bytes != nullptr && static_cast<const void*>(data_) == bytes; }

private:
    std::shared_ptr<const void> owner_;
    const int16_t* data_ = nullptr;
    size_t size_ = 0;
};

// Decoded sample frames, shared by a sound buffer and its duplicates.
struct SampleData {
    int rate = 0;        // frames per second of `samples`
    int sourceRate = 0;  // the wave's own rate (what Frequency is measured against)
    int channels = 1;    // 1 or 2
    SampleBlock samples;  // interleaved
    size_t Frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// True when the format block describes PCM (8/16/24/32 bits), 32-bit float (plain or
// WAVE_FORMAT_EXTENSIBLE), mono or stereo, at a rate the mixer can play.
bool IsPlayableFormat(const std::vector<uint8_t>& formatBlock);

// Decodes a wave's sample data to 16-bit frames at `targetRate`. A format the mixer cannot play
// gives empty sample data (the sound is silent) with the format's own rate. Samples that need no
// conversion (16-bit PCM played at its own rate) share the wave's data block instead of a copy.
std::shared_ptr<const SampleData> DecodeWave(const TWave& wave, int targetRate);
// About the bytes of the samples DecodeWave gives for `size` bytes of wave data at `targetRate`,
// worked out without decoding: what the wave costs in memory once the mixer has it.
size_t DecodedBytes(const std::vector<uint8_t>& formatBlock, size_t size, int targetRate);

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
    // Commands on their way to the rendering thread; more wait in an overflow list.
    static constexpr int kCommandCapacity = 16384;
    // Timed commands waiting for their frame.
    static constexpr int kScheduleCapacity = 16384;

    explicit Mixer(int rate = 44100);
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    int Rate() const { return rate_.load(); }
    // Changes the output rate (voices keep their pitch) from the next Render on.
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
    // reads as it will read from that frame on. With `elapsed`, the voice sounds from `frame`
    // on exactly as one started `elapsed` output frames before `frame` would (for a play that
    // begins part-way through the song).
    void PlayAt(uint64_t frame, int voice, const SampleData* data, double ratio, StereoGain gain, bool looped,
                uint64_t elapsed = 0);
    void StopAt(uint64_t frame, int voice);
    void SetRatio(int voice, double ratio);
    void SetGain(int voice, StereoGain gain);
    // True from Play until the voice is stopped or reaches the end of its data.
    bool IsPlaying(int voice) const;
    // Voices sounding as of the last Render.
    int ActiveVoices() const { return activeCount_.load(std::memory_order_relaxed); }

    // Sources, main thread. AddSource returns the output frame that the source's first Mix
    // paints; RemoveSource returns once the source is no longer called. Either may wait for a
    // Render that is running on another thread to finish.
    uint64_t AddSource(MixerSource* source);
    void RemoveSource(MixerSource* source);

    // Paints `frames` interleaved stereo frames. Saturates at the 16-bit limits. Never waits
    // for the main thread and never allocates.
    void Render(int16_t* out, int frames);
    uint64_t FramesRendered() const { return framesRendered_.load(std::memory_order_acquire); }

    // Renders that found the overflow list held by the main thread and left it for the next
    // one (they waited for nothing, but its commands came late and the voices were silent in
    // them). The list is used only after a device stopped calling Render with the ring full.
    uint64_t RenderLockMisses() const { return lockMisses_.load(std::memory_order_relaxed); }
    // Timed commands left out because the schedule was full (the ones for the latest frames).
    uint64_t DroppedCommands() const { return droppedCommands_.load(std::memory_order_relaxed); }

    // Set by the owner while a device thread calls Render (then sources may interpolate time).
    // While it is not set, Render runs on the thread that calls the voice functions.
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
        int dataRate = 0;   // data->rate, as the main thread passed it
        uint64_t pos = 0;   // 32.32 fixed point, in frames of `data`
        uint64_t step = 0;  // 32.32 fixed point
        double ratio = 1.0;
        float left = 1.0f;
        float right = 1.0f;
        uint32_t ticket = 0;
        uint32_t generation = 0;  // scheduled commands of an older generation are void
        int delay = 0;            // output frames of silence before the voice starts
        bool looped = false;
        bool active = false;
        int activeIndex = -1;
    };
    enum class CommandType : uint8_t { Play, Stop, Ratio, Gain, Free, Rate };
    struct Command {
        CommandType type = CommandType::Stop;
        bool looped = false;
        bool timed = false;
        int voice = 0;
        uint32_t ticket = 0;
        // Play: the data's rate and length, read on the main thread so that applying a command
        // never reads the data (it may be freed by then, when the voice is freed behind it).
        // Rate: the new output rate.
        int rate = 0;
        uint64_t dataFrames = 0;
        const SampleData* data = nullptr;
        double ratio = 0.0;
        StereoGain gain;
        int64_t submitNs = 0;  // when a device plays: the moment Play was called
        uint64_t frame = 0;    // the output frame of a timed command
        uint64_t elapsed = 0;  // Play: output frames the voice has been playing at `frame`
    };
    struct Scheduled {
        Command command;
        uint64_t order = 0;  // arrival, so that commands for one frame apply in call order
        uint32_t generation = 0;
    };
    struct ScheduledFirst {
        bool operator()(const Scheduled& a, const Scheduled& b) const {
            return a.command.frame != b.command.frame ? a.command.frame < b.command.frame : a.order < b.order;
        }
    };

    Command PlayCommand(int voice, const SampleData* data, double ratio, StereoGain gain, bool looped);
    void Push(const Command& command);
    // Under a device, when the ring is full: waits for a callback to make room. False when
    // none has come for a second (the device has stopped calling).
    bool WaitForRoom(const Command& command);
    uint32_t NextTicket(int voice);
    // Without a device thread the caller is the rendering thread: pending commands are applied
    // at once. Under a device: returns once a Render that might not have seen the commands
    // pushed so far has finished.
    void Settle();
    void WaitForRunningRender() const;
    // Rendering thread: applies what the main thread sent. `periodFrames` and `nowNs` describe
    // the device callback being served (0 when there is none). False when the overflow list
    // was held by the main thread and is left for the next call.
    bool TakeCommands(int periodFrames, int64_t nowNs);
    void Take(const Command& command, int periodFrames, int64_t nowNs);
    void Schedule(const Command& command);
    bool IsLive(const Scheduled& s) const { return s.generation == voices_[s.command.voice].generation; }
    void Apply(const Command& command, int periodFrames, int64_t nowNs);
    void Activate(int voice);
    void Deactivate(int voice);
    uint64_t StepFor(int dataRate, double ratio) const;
    // Returns false when the voice has ended.
    bool MixVoice(Voice& voice, float* mix, int frames);

    TimeSource now_;
    std::atomic<int> rate_;
    std::atomic<bool> deviceDriven_{false};
    std::atomic<bool> offlineClock_{false};
    std::atomic<uint64_t> framesRendered_{0};
    std::atomic<int> activeCount_{0};
    // Odd while a Render runs; the main thread reads it to know what a Render has seen.
    std::atomic<uint64_t> renderCount_{0};
    std::atomic<uint64_t> lockMisses_{0};
    std::atomic<uint64_t> droppedCommands_{0};

    // Main thread to rendering thread. When the ring is full and the device has stopped
    // calling, commands go to the overflow list (and keep going there until the rendering
    // thread has taken it), which the rendering thread only ever try-locks.
    SpscRing<Command> ring_;
    std::mutex overflowMutex_;
    std::vector<Command> overflow_;
    std::atomic<bool> overflowing_{false};

    // Main thread's view of the voices.
    std::vector<int> freeVoices_;
    std::vector<uint32_t> playTicket_;
    std::vector<bool> touched_;  // played since it was allocated: the data may be referenced
    uint32_t nextTicket_ = 1;
    std::unique_ptr<std::atomic<uint32_t>[]> endedTicket_;

    // The last device callback, for PlayingFrame: written by the rendering thread under a
    // sequence count (odd while it writes), read by retrying.
    std::atomic<uint32_t> callbackSeq_{0};
    std::atomic<uint64_t> callbackFrame_{0};
    std::atomic<int64_t> callbackNs_{0};
    std::atomic<int> callbackFrames_{0};

    // Sources: set by the main thread; each Render reads them once, at its start, and notes
    // the frame on which it first mixes a newly added one.
    static constexpr uint64_t kNotStarted = ~uint64_t{0};
    std::atomic<MixerSource*> sources_[kMaxSources] = {};
    std::atomic<uint64_t> sourceStart_[kMaxSources] = {};

    // Rendering thread's state.
    int renderRate_;
    uint64_t nextOrder_ = 0;
    FixedMinHeap<Scheduled, ScheduledFirst> schedule_;
    std::vector<Voice> voices_;
    std::vector<int> active_;
    std::vector<float> mix_;
};

}  // namespace media
