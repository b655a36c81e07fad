#include "media/Mixer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <thread>

#include "gui/ByteOrder.h"
#include "gui/Clock.h"
#include "media/AudioDevice.h"

namespace media {

namespace {

constexpr int kMinRate = 100;
constexpr int kMaxRate = 384000;
constexpr double kFixedOne = 4294967296.0;
// A fixed-point position times a frame count (GCC and Clang have it; __extension__ keeps
// -Wpedantic quiet).
__extension__ typedef unsigned __int128 WidePosition;

struct PcmLayout {
    int channels = 0;
    int bits = 0;
    bool isFloat = false;
    int rate = 0;
};

using gui::Le16;

bool ReadLayout(const std::vector<uint8_t>& block, PcmLayout& layout) {
    if (block.size() < 16) return false;
    const TWaveFormatEx f = TWaveFormatEx::FromBytes(block.data(), block.size());
    uint16_t tag = f.wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        // The sub-format GUID starts 24 bytes in; its first two bytes are the plain format tag.
        if (block.size() < 40) return false;
        tag = Le16(block.data() + 24);
    }
    layout.channels = f.nChannels;
    layout.bits = f.wBitsPerSample;
    layout.rate = static_cast<int>(std::min<uint32_t>(f.nSamplesPerSec, kMaxRate + 1));
    if (tag == WAVE_FORMAT_PCM) {
        if (layout.bits != 8 && layout.bits != 16 && layout.bits != 24 && layout.bits != 32) return false;
    } else if (tag == WAVE_FORMAT_IEEE_FLOAT) {
        if (layout.bits != 32 && layout.bits != 64) return false;
        layout.isFloat = true;
    } else {
        return false;
    }
    if (layout.channels != 1 && layout.channels != 2) return false;
    return layout.rate >= kMinRate && layout.rate <= kMaxRate;
}

int16_t FloatTo16(double v) {
    if (!(v == v)) return 0;
    const double scaled = std::nearbyint(v * 32768.0);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

int16_t DecodeSample(const uint8_t* p, const PcmLayout& layout) {
    if (layout.isFloat) {
        if (layout.bits == 32) {
            float v;
            std::memcpy(&v, p, 4);
            return FloatTo16(v);
        }
        double v;
        std::memcpy(&v, p, 8);
        return FloatTo16(v);
    }
    switch (layout.bits) {
        case 8:
            return static_cast<int16_t>((p[0] - 128) * 256);
        case 16:
            return static_cast<int16_t>(Le16(p));
        case 24:
            return static_cast<int16_t>(Le16(p + 1));
        default:
            return static_cast<int16_t>(Le16(p + 2));
    }
}

// Whether DecodeWave converts `samples` samples of `layout` to `targetRate`: a very low rate
// would multiply the samples; beyond this size the mixer steps through the data at its own rate
// instead.
bool Converts(const PcmLayout& layout, size_t samples, int targetRate) {
    constexpr double kMaxConvertedSamples = 64.0 * 1024 * 1024;
    const double convertedSamples = static_cast<double>(samples) * targetRate / layout.rate;
    return layout.rate != targetRate && samples > 0 && convertedSamples <= kMaxConvertedSamples;
}

}  // namespace

size_t DecodedBytes(const std::vector<uint8_t>& formatBlock, size_t size, int targetRate) {
    PcmLayout layout;
    if (!ReadLayout(formatBlock, layout)) return 0;
    const size_t frames = size / (static_cast<size_t>(layout.bits / 8) * static_cast<size_t>(layout.channels));
    const size_t samples = frames * static_cast<size_t>(layout.channels);
    if (!Converts(layout, samples, targetRate)) return samples * 2;
    return static_cast<size_t>(std::ceil(static_cast<double>(frames) * targetRate / layout.rate) + 1) *
           static_cast<size_t>(layout.channels) * 2;
}

bool IsPlayableFormat(const std::vector<uint8_t>& formatBlock) {
    PcmLayout layout;
    return ReadLayout(formatBlock, layout);
}

SampleBlock::SampleBlock(std::vector<int16_t> samples) {
    auto owned = std::make_shared<const std::vector<int16_t>>(std::move(samples));
    data_ = owned->data();
    size_ = owned->size();
    owner_ = std::move(owned);
}

SampleBlock::SampleBlock(std::shared_ptr<const uint8_t[]> bytes, size_t count)
    : data_(reinterpret_cast<const int16_t*>(bytes.get())), size_(bytes ? count : 0) {
    owner_ = std::move(bytes);
}

std::shared_ptr<const SampleData> DecodeWave(const TWave& wave, int targetRate) {
    auto result = std::make_shared<SampleData>();
    PcmLayout layout;
    if (!ReadLayout(wave.FormatBlock(), layout)) {
        const TWaveFormatEx f = wave.Format();
        result->rate = result->sourceRate = static_cast<int>(std::min<uint32_t>(f.nSamplesPerSec, kMaxRate));
        return result;
    }
    result->rate = result->sourceRate = layout.rate;
    result->channels = layout.channels;
    const uint8_t* data = wave.Data();
    const size_t sampleBytes = static_cast<size_t>(layout.bits / 8);
    const size_t frames = data != nullptr ? wave.Size() / (sampleBytes * static_cast<size_t>(layout.channels)) : 0;
    const size_t count = frames * static_cast<size_t>(layout.channels);
    const bool native16 = layout.bits == 16 && !layout.isFloat && std::endian::native == std::endian::little &&
                          reinterpret_cast<uintptr_t>(data) % alignof(int16_t) == 0;
    // 16-bit samples are read where they lie; others are widened first.
    std::vector<int16_t> samples;
    if (!native16) {
        samples.resize(count);
        for (size_t i = 0; i < count; ++i) samples[i] = DecodeSample(data + i * sampleBytes, layout);
    }
    const int16_t* source = native16 ? reinterpret_cast<const int16_t*>(data) : samples.data();
    if (Converts(layout, count, targetRate)) {
        std::vector<int16_t> converted;
        if (ConvertSampleRate(source, frames, layout.channels, layout.rate, targetRate, converted)) {
            result->rate = targetRate;
            result->samples = std::move(converted);
            return result;
        }
    }
    result->samples = native16 ? SampleBlock(wave.SharedData(), count) : SampleBlock(std::move(samples));
    return result;
}

StereoGain GainFromVolumePan(int volume, int pan) {
    volume = std::clamp(volume, -10000, 0);
    pan = std::clamp(pan, -10000, 10000);
    auto attenuation = [](int hundredthsDb) {
        return hundredthsDb <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
    };
    const float master = attenuation(volume);
    StereoGain gain;
    gain.left = master * (pan > 0 ? attenuation(-pan) : 1.0f);
    gain.right = master * (pan < 0 ? attenuation(pan) : 1.0f);
    return gain;
}

Mixer::Mixer(int rate)
    : now_(&gui::SteadyNanoseconds),
      rate_(rate),
      ring_(kCommandCapacity),
      playTicket_(kMaxVoices, 0),
      touched_(kMaxVoices, false),
      endedTicket_(new std::atomic<uint32_t>[kMaxVoices]),
      renderRate_(rate),
      schedule_(kScheduleCapacity),
      voices_(kMaxVoices),
      mix_(2 * kBlockFrames) {
    freeVoices_.reserve(kMaxVoices);
    for (int v = kMaxVoices - 1; v >= 0; --v) freeVoices_.push_back(v);
    for (int v = 0; v < kMaxVoices; ++v) endedTicket_[v].store(0);
    active_.reserve(kMaxVoices);
    overflow_.reserve(1024);
}

Mixer::~Mixer() = default;

void Mixer::SetRate(int rate) {
    if (rate <= 0) return;
    rate_.store(rate);
    Command command;
    command.type = CommandType::Rate;
    command.rate = rate;
    Push(command);
}

int Mixer::AllocateVoice() {
    if (freeVoices_.empty()) return -1;
    const int voice = freeVoices_.back();
    freeVoices_.pop_back();
    playTicket_[voice] = 0;
    return voice;
}

void Mixer::FreeVoice(int voice) {
    if (voice < 0 || voice >= kMaxVoices) return;
    playTicket_[voice] = 0;
    if (touched_[voice]) {
        Command command;
        command.type = CommandType::Free;
        command.voice = voice;
        Push(command);
        Settle();
        touched_[voice] = false;
    }
    freeVoices_.push_back(voice);
}

uint32_t Mixer::NextTicket(int voice) {
    if (++nextTicket_ == 0) nextTicket_ = 1;
    playTicket_[voice] = nextTicket_;
    touched_[voice] = true;
    return nextTicket_;
}

Mixer::Command Mixer::PlayCommand(int voice, const SampleData* data, double ratio, StereoGain gain, bool looped) {
    Command command;
    command.type = CommandType::Play;
    command.voice = voice;
    command.ticket = NextTicket(voice);
    command.data = data;
    command.rate = data->rate;
    command.dataFrames = data->Frames();
    command.ratio = ratio;
    command.gain = gain;
    command.looped = looped;
    return command;
}

void Mixer::Play(int voice, const SampleData* data, double ratio, StereoGain gain, bool looped) {
    if (voice < 0 || voice >= kMaxVoices) return;
    if (data == nullptr || data->Frames() == 0) {
        Stop(voice);
        return;
    }
    Command command = PlayCommand(voice, data, ratio, gain, looped);
    if (deviceDriven_.load(std::memory_order_relaxed)) command.submitNs = now_();
    Push(command);
}

void Mixer::Stop(int voice) {
    if (voice < 0 || voice >= kMaxVoices) return;
    playTicket_[voice] = 0;
    Command command;
    command.type = CommandType::Stop;
    command.voice = voice;
    Push(command);
}

void Mixer::PlayAt(uint64_t frame, int voice, const SampleData* data, double ratio, StereoGain gain, bool looped,
                   uint64_t elapsed) {
    if (voice < 0 || voice >= kMaxVoices) return;
    if (data == nullptr || data->Frames() == 0) {
        StopAt(frame, voice);
        return;
    }
    Command command = PlayCommand(voice, data, ratio, gain, looped);
    command.timed = true;
    command.frame = frame;
    command.elapsed = elapsed;
    Push(command);
}

void Mixer::StopAt(uint64_t frame, int voice) {
    if (voice < 0 || voice >= kMaxVoices) return;
    playTicket_[voice] = 0;
    Command command;
    command.type = CommandType::Stop;
    command.voice = voice;
    command.timed = true;
    command.frame = frame;
    Push(command);
}

void Mixer::SetRatio(int voice, double ratio) {
    if (voice < 0 || voice >= kMaxVoices) return;
    Command command;
    command.type = CommandType::Ratio;
    command.voice = voice;
    command.ratio = ratio;
    Push(command);
}

void Mixer::SetGain(int voice, StereoGain gain) {
    if (voice < 0 || voice >= kMaxVoices) return;
    Command command;
    command.type = CommandType::Gain;
    command.voice = voice;
    command.gain = gain;
    Push(command);
}

bool Mixer::IsPlaying(int voice) const {
    if (voice < 0 || voice >= kMaxVoices) return false;
    const uint32_t ticket = playTicket_[voice];
    return ticket != 0 && endedTicket_[voice].load(std::memory_order_acquire) != ticket;
}

uint64_t Mixer::AddSource(MixerSource* source) {
    int slot = -1;
    for (int i = 0; i < kMaxSources; ++i) {
        MixerSource* present = sources_[i].load();
        if (present == source) return FramesRendered();
        if (present == nullptr && slot < 0) slot = i;
    }
    if (slot < 0) return FramesRendered();
    sourceStart_[slot].store(kNotStarted);
    sources_[slot].store(source);
    // The first Render to see the source notes its frame. If none has seen it yet and none
    // runs, the next one will, from the frame where the rendered frames end now.
    for (;;) {
        const uint64_t count = renderCount_.load();
        if (count % 2 == 1) {
            WaitForRunningRender();
            continue;
        }
        const uint64_t next = framesRendered_.load();
        if (renderCount_.load() != count) continue;
        const uint64_t started = sourceStart_[slot].load();
        return started != kNotStarted ? started : next;
    }
}

void Mixer::RemoveSource(MixerSource* source) {
    for (auto& slot : sources_) {
        MixerSource* expected = source;
        slot.compare_exchange_strong(expected, nullptr);
    }
    WaitForRunningRender();
}

void Mixer::Push(const Command& command) {
    if (!overflowing_.load(std::memory_order_acquire)) {
        if (ring_.TryPush(command)) return;
        if (!deviceDriven_.load()) {
            // No other thread renders: what is queued is taken here, as the next Render would.
            TakeCommands(0, 0);
            if (ring_.TryPush(command)) return;
        } else if (WaitForRoom(command)) {
            return;
        }
    }
    // The device has stopped calling: keep the order by queueing behind the ring until the
    // rendering thread has taken the overflow list.
    std::lock_guard<std::mutex> lock(overflowMutex_);
    overflow_.push_back(command);
    overflowing_.store(true, std::memory_order_seq_cst);
}

bool Mixer::WaitForRoom(const Command& command) {
    constexpr auto kStalled = std::chrono::seconds(1);
    uint64_t count = renderCount_.load();
    auto deadline = std::chrono::steady_clock::now() + kStalled;
    while (!ring_.TryPush(command)) {
        const uint64_t now = renderCount_.load();
        if (now != count) {
            count = now;
            deadline = std::chrono::steady_clock::now() + kStalled;
        } else if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

void Mixer::Settle() {
    if (deviceDriven_.load()) {
        WaitForRunningRender();
        return;
    }
    TakeCommands(0, 0);
}

void Mixer::WaitForRunningRender() const {
    const uint64_t count = renderCount_.load();
    if (count % 2 == 0) return;
    while (renderCount_.load() == count) std::this_thread::yield();
}

bool Mixer::TakeCommands(int periodFrames, int64_t nowNs) {
    Command command;
    while (ring_.TryPop(command)) Take(command, periodFrames, nowNs);
    if (!overflowing_.load(std::memory_order_seq_cst)) return true;
    std::unique_lock<std::mutex> lock(overflowMutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        lockMisses_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // What reached the ring before the overflow began comes first.
    while (ring_.TryPop(command)) Take(command, periodFrames, nowNs);
    for (const Command& c : overflow_) Take(c, periodFrames, nowNs);
    overflow_.clear();
    overflowing_.store(false, std::memory_order_release);
    return true;
}

void Mixer::Take(const Command& command, int periodFrames, int64_t nowNs) {
    if (command.timed) {
        Schedule(command);
        return;
    }
    // A command for now overrides what was scheduled for the voice before it.
    if (command.type == CommandType::Play || command.type == CommandType::Stop || command.type == CommandType::Free)
        ++voices_[command.voice].generation;
    Apply(command, periodFrames, nowNs);
}

void Mixer::Schedule(const Command& command) {
    const Scheduled entry{command, nextOrder_++, voices_[command.voice].generation};
    if (schedule_.Push(entry)) return;
    schedule_.RemoveIf([this](const Scheduled& s) { return !IsLive(s); });
    if (schedule_.Push(entry)) return;
    // Still full: the command for the latest frame is the one left out.
    schedule_.ReplaceLargest(entry);
    droppedCommands_.fetch_add(1, std::memory_order_relaxed);
}

double Mixer::PlayingFrame() const {
    if (!deviceDriven_.load(std::memory_order_relaxed)) return static_cast<double>(FramesRendered());
    uint64_t frame;
    int64_t ns;
    int frames;
    for (;;) {
        const uint32_t before = callbackSeq_.load(std::memory_order_acquire);
        frame = callbackFrame_.load(std::memory_order_relaxed);
        ns = callbackNs_.load(std::memory_order_relaxed);
        frames = callbackFrames_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before % 2 == 0 && callbackSeq_.load(std::memory_order_relaxed) == before) break;
        std::this_thread::yield();
    }
    if (frames == 0) return static_cast<double>(FramesRendered());
    const double elapsed = static_cast<double>(now_() - ns) * rate_.load() / 1e9;
    return static_cast<double>(frame) + std::clamp(elapsed, 0.0, static_cast<double>(frames));
}

int Mixer::DeviceBlockFrames() const {
    if (!deviceDriven_.load(std::memory_order_relaxed)) return 0;
    return callbackFrames_.load(std::memory_order_relaxed);
}

uint64_t Mixer::StepFor(int dataRate, double ratio) const {
    if (dataRate <= 0 || !(ratio > 0.0)) return 0;
    const double step = ratio * dataRate / static_cast<double>(renderRate_);
    return static_cast<uint64_t>(std::min(std::llround(step * kFixedOne), static_cast<long long>(1) << 50));
}

void Mixer::Apply(const Command& command, int periodFrames, int64_t nowNs) {
    if (command.type == CommandType::Rate) {
        renderRate_ = command.rate;
        for (int index : active_) voices_[index].step = StepFor(voices_[index].dataRate, voices_[index].ratio);
        return;
    }
    Voice& voice = voices_[command.voice];
    switch (command.type) {
        case CommandType::Play: {
            voice.data = command.data;
            voice.dataRate = command.rate;
            voice.delay = 0;
            if (periodFrames > 0 && command.submitNs > 0) {
                const double waitedFrames = static_cast<double>(nowNs - command.submitNs) * renderRate_ / 1e9;
                voice.delay = std::clamp(periodFrames - static_cast<int>(std::lround(waitedFrames)), 0, periodFrames - 1);
            }
            voice.ratio = command.ratio;
            voice.step = StepFor(command.rate, command.ratio);
            // Where a voice started `elapsed` frames earlier would be now: `elapsed` whole steps.
            const WidePosition pos = static_cast<WidePosition>(command.elapsed) * voice.step;
            const WidePosition end = static_cast<WidePosition>(command.dataFrames) << 32;
            voice.pos = static_cast<uint64_t>(pos < end ? pos : (command.looped ? pos % end : end));
            voice.left = command.gain.left;
            voice.right = command.gain.right;
            voice.looped = command.looped;
            voice.ticket = command.ticket;
            Activate(command.voice);
            break;
        }
        case CommandType::Stop:
            if (voice.active) Deactivate(command.voice);
            break;
        case CommandType::Free:
            if (voice.active) Deactivate(command.voice);
            voice.data = nullptr;
            voice.dataRate = 0;
            break;
        case CommandType::Ratio:
            voice.ratio = command.ratio;
            voice.step = StepFor(voice.dataRate, command.ratio);
            break;
        case CommandType::Gain:
            voice.left = command.gain.left;
            voice.right = command.gain.right;
            break;
        case CommandType::Rate:
            break;
    }
}

void Mixer::Activate(int index) {
    Voice& voice = voices_[index];
    if (voice.active) return;
    voice.active = true;
    voice.activeIndex = static_cast<int>(active_.size());
    active_.push_back(index);
    activeCount_.store(static_cast<int>(active_.size()), std::memory_order_relaxed);
}

void Mixer::Deactivate(int index) {
    Voice& voice = voices_[index];
    if (!voice.active) return;
    const int slot = voice.activeIndex;
    const int last = active_.back();
    active_[static_cast<size_t>(slot)] = last;
    voices_[last].activeIndex = slot;
    active_.pop_back();
    voice.active = false;
    voice.activeIndex = -1;
    endedTicket_[index].store(voice.ticket, std::memory_order_release);
    activeCount_.store(static_cast<int>(active_.size()), std::memory_order_relaxed);
}

bool Mixer::MixVoice(Voice& voice, float* mix, int frames) {
    const SampleData* data = voice.data;
    const size_t length = data != nullptr ? data->Frames() : 0;
    if (length == 0 || voice.step == 0) return false;
    const uint64_t end = static_cast<uint64_t>(length) << 32;
    const int16_t* s = data->samples.data();
    const bool stereo = data->channels == 2;
    const float left = voice.left;
    const float right = voice.right;
    constexpr float kFraction = 1.0f / 4294967296.0f;
    const int wait = std::min(voice.delay, frames);
    voice.delay -= wait;
    for (int k = wait; k < frames; ++k) {
        if (voice.pos >= end) {
            if (!voice.looped) return false;
            voice.pos %= end;
        }
        const size_t i = static_cast<size_t>(voice.pos >> 32);
        const float frac = static_cast<float>(voice.pos & 0xFFFFFFFFu) * kFraction;
        const size_t next = i + 1 < length ? i + 1 : (voice.looped ? 0 : length);
        if (stereo) {
            const float l0 = s[2 * i], r0 = s[2 * i + 1];
            const float l1 = next < length ? s[2 * next] : 0.0f;
            const float r1 = next < length ? s[2 * next + 1] : 0.0f;
            mix[2 * k] += (l0 + (l1 - l0) * frac) * left;
            mix[2 * k + 1] += (r0 + (r1 - r0) * frac) * right;
        } else {
            const float a = s[i];
            const float b = next < length ? s[next] : 0.0f;
            const float x = a + (b - a) * frac;
            mix[2 * k] += x * left;
            mix[2 * k + 1] += x * right;
        }
        voice.pos += voice.step;
    }
    return voice.looped || voice.pos < end;
}

void Mixer::Render(int16_t* out, int frames) {
    if (frames <= 0) return;
    renderCount_.fetch_add(1);
    uint64_t frame = framesRendered_.load(std::memory_order_relaxed);
    // Commands left in the overflow list may free a voice's data: then no voice is mixed.
    bool voicesSafe;
    if (deviceDriven_.load(std::memory_order_relaxed)) {
        const int64_t nowNs = now_();
        voicesSafe = TakeCommands(frames, nowNs);
        callbackSeq_.fetch_add(1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        callbackFrame_.store(frame, std::memory_order_relaxed);
        callbackNs_.store(nowNs, std::memory_order_relaxed);
        callbackFrames_.store(frames, std::memory_order_relaxed);
        callbackSeq_.fetch_add(1, std::memory_order_release);
    } else {
        voicesSafe = TakeCommands(0, 0);
    }
    MixerSource* sources[kMaxSources];
    for (int i = 0; i < kMaxSources; ++i) {
        sources[i] = sources_[i].load();
        if (sources[i] != nullptr && sourceStart_[i].load() == kNotStarted) sourceStart_[i].store(frame);
    }
    const int total = frames;
    while (frames > 0) {
        const int n = std::min(frames, kBlockFrames);
        float* mix = mix_.data();
        std::fill(mix, mix + 2 * n, 0.0f);
        // Scheduled commands take effect on their frame: the voices' part of the block is cut
        // there. Sources always get whole blocks, so that their output does not depend on it.
        for (int done = 0; done < n;) {
            const uint64_t at = frame + static_cast<uint64_t>(done);
            while (!schedule_.Empty()) {
                const bool live = IsLive(schedule_.Top());
                if (live && schedule_.Top().command.frame > at) break;
                const Scheduled due = schedule_.Pop();
                if (live) Apply(due.command, 0, 0);
            }
            int part = n - done;
            if (!schedule_.Empty())
                part = static_cast<int>(
                    std::min<uint64_t>(static_cast<uint64_t>(part), schedule_.Top().command.frame - at));
            for (size_t i = 0; voicesSafe && i < active_.size();) {
                const int index = active_[i];
                if (MixVoice(voices_[index], mix + 2 * done, part))
                    ++i;
                else
                    Deactivate(index);
            }
            done += part;
        }
        for (MixerSource* source : sources)
            if (source != nullptr) source->Mix(mix, n);
        for (int k = 0; k < 2 * n; ++k) {
            const float v = mix[k] == mix[k] ? std::nearbyint(mix[k]) : 0.0f;
            out[k] = static_cast<int16_t>(v >= 32767.0f ? 32767.0f : (v <= -32768.0f ? -32768.0f : v));
        }
        out += 2 * n;
        frames -= n;
        frame += static_cast<uint64_t>(n);
    }
    framesRendered_.fetch_add(static_cast<uint64_t>(total), std::memory_order_release);
    renderCount_.fetch_add(1);
}

}  // namespace media
