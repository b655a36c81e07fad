#include "Synth.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace demo {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDt = 1.0 / kSampleRate;

double PolyBlep(double t, double dt)
{
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

// Scales a sound so that its loudest sample is `peak`; instruments are levelled this way
// so that the mix can be balanced with one number per instrument.
void Normalize(Stereo& sound, double peak)
{
    float current = sound.Peak();
    if (current <= 0.0f) return;
    float scale = static_cast<float>(peak / current);
    for (size_t i = 0; i < sound.Frames(); ++i) {
        sound.left[i] *= scale;
        sound.right[i] *= scale;
    }
}

// Levels a finished sound to its peak and shortens its reverb or echo tail to at most
// `maxSeconds` in all, fading it out over the last 0.3 s: the samples stay small, and a tail that
// long is cut by the next note of the same slot anyway.
void Finish(Stereo& sound, double peak, double maxSeconds)
{
    const size_t limit = Frames(maxSeconds);
    if (sound.Frames() > limit) {
        const size_t fade = std::min(limit, Frames(0.3));
        for (size_t i = 0; i < fade; ++i) {
            auto gain = static_cast<float>(1.0 - (i + 1.0) / fade);
            sound.left[limit - fade + i] *= gain;
            sound.right[limit - fade + i] *= gain;
        }
        sound.Resize(limit);
    }
    Normalize(sound, peak);
    sound.TrimSilence();
    // A short fade at the very end, so that no sound stops with a click.
    const size_t edge = std::min(sound.Frames(), Frames(0.01));
    for (size_t i = 0; i < edge; ++i) {
        auto gain = static_cast<float>(i) / edge;
        sound.left[sound.Frames() - 1 - i] *= gain;
        sound.right[sound.Frames() - 1 - i] *= gain;
    }
}

Stereo FromMono(const std::vector<float>& mono, float pan)
{
    Stereo out(mono.size());
    out.AddMono(mono, 0, 1.0f, pan);
    return out;
}

class Comb {
public:
    explicit Comb(size_t length) : buffer_(length, 0.0f) {}
    float Process(float in, float feedback, float damping)
    {
        float out = buffer_[index_];
        store_ = out * (1.0f - damping) + store_ * damping;
        buffer_[index_] = in + store_ * feedback;
        index_ = (index_ + 1) % buffer_.size();
        return out;
    }

private:
    std::vector<float> buffer_;
    size_t index_ = 0;
    float store_ = 0.0f;
};

class Allpass {
public:
    explicit Allpass(size_t length) : buffer_(length, 0.0f) {}
    float Process(float in)
    {
        float delayed = buffer_[index_];
        buffer_[index_] = in + delayed * 0.5f;
        index_ = (index_ + 1) % buffer_.size();
        return delayed - in;
    }

private:
    std::vector<float> buffer_;
    size_t index_ = 0;
};

// The eight-comb, four-allpass arrangement of the classic Freeverb, one set per side.
class ReverbSide {
public:
    explicit ReverbSide(size_t spread)
    {
        for (size_t length : {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617}) combs_.emplace_back(length + spread);
        for (size_t length : {556, 441, 341, 225}) allpasses_.emplace_back(length + spread);
    }
    float Process(float in, float feedback, float damping)
    {
        float sum = 0.0f;
        for (Comb& comb : combs_) sum += comb.Process(in, feedback, damping);
        for (Allpass& allpass : allpasses_) sum = allpass.Process(sum);
        return sum;
    }

private:
    std::vector<Comb> combs_;
    std::vector<Allpass> allpasses_;
};

// Metallic tone of six detuned square waves, as classic drum machines make cymbals.
float Metallic(Oscillator* squares)
{
    static constexpr std::array<double, 6> kHz = {263.0, 400.0, 421.0, 474.0, 587.0, 845.0};
    float sum = 0.0f;
    for (size_t i = 0; i < kHz.size(); ++i) sum += squares[i].Pulse(kHz[i] * 1.6, 0.5);
    return sum / 6.0f;
}

float SoftClip(float x) { return static_cast<float>(std::tanh(x)); }

}  // namespace

void Stereo::Resize(size_t frames)
{
    left.resize(frames, 0.0f);
    right.resize(frames, 0.0f);
}

void Stereo::AddMono(const std::vector<float>& mono, size_t at, float gain, float pan)
{
    if (at + mono.size() > Frames()) Resize(at + mono.size());
    double angle = (std::clamp(pan, -1.0f, 1.0f) + 1.0) * kPi / 4.0;
    float gainLeft = gain * static_cast<float>(std::cos(angle) * std::sqrt(2.0));
    float gainRight = gain * static_cast<float>(std::sin(angle) * std::sqrt(2.0));
    for (size_t i = 0; i < mono.size(); ++i) {
        left[at + i] += mono[i] * gainLeft;
        right[at + i] += mono[i] * gainRight;
    }
}

void Stereo::Add(const Stereo& other, size_t at, float gain)
{
    if (at + other.Frames() > Frames()) Resize(at + other.Frames());
    for (size_t i = 0; i < other.Frames(); ++i) {
        left[at + i] += other.left[i] * gain;
        right[at + i] += other.right[i] * gain;
    }
}

float Stereo::Peak() const
{
    float peak = 0.0f;
    for (size_t i = 0; i < Frames(); ++i) peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    return peak;
}

void Stereo::TrimSilence()
{
    size_t end = Frames();
    while (end > 0 && std::fabs(left[end - 1]) < 3e-4f && std::fabs(right[end - 1]) < 3e-4f) --end;
    Resize(end);
    left.shrink_to_fit();
    right.shrink_to_fit();
}

double NoteFrequency(int midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0); }

size_t Frames(double seconds) { return static_cast<size_t>(std::max(0.0, seconds) * kSampleRate + 0.5); }

float Noise::Next()
{
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<float>(state_ / 4294967296.0 * 2.0 - 1.0);
}

double Adsr::At(double t, double gateSeconds) const
{
    auto held = [this](double u) {
        if (u < attack) return u / attack;
        if (u < attack + decay) return 1.0 - (1.0 - sustain) * (u - attack) / decay;
        return sustain;
    };
    if (t < gateSeconds) return held(t);
    double level = held(gateSeconds);
    double after = t - gateSeconds;
    return after >= release ? 0.0 : level * (1.0 - after / release);
}

void Svf::Set(double cutoffHz, double resonance)
{
    double cutoff = std::clamp(cutoffHz, 10.0, kSampleRate * 0.45);
    g_ = std::tan(kPi * cutoff / kSampleRate);
    k_ = 2.0 - 2.0 * std::clamp(resonance, 0.0, 0.98);
    a1_ = 1.0 / (1.0 + g_ * (g_ + k_));
    a2_ = g_ * a1_;
    a3_ = g_ * a2_;
}

void Svf::Tick(float in)
{
    double v3 = in - ic2_;
    double v1 = a1_ * ic1_ + a2_ * v3;
    double v2 = ic2_ + a2_ * ic1_ + a3_ * v3;
    ic1_ = 2.0 * v1 - ic1_;
    ic2_ = 2.0 * v2 - ic2_;
    low_ = v2;
    band_ = v1;
    high_ = in - k_ * v1 - v2;
}

float Svf::Lowpass(float in)
{
    Tick(in);
    return static_cast<float>(low_);
}

float Svf::Bandpass(float in)
{
    Tick(in);
    return static_cast<float>(band_);
}

float Svf::Highpass(float in)
{
    Tick(in);
    return static_cast<float>(high_);
}

double Oscillator::Advance(double hz)
{
    double t = phase_;
    phase_ += hz * kDt;
    phase_ -= std::floor(phase_);
    return t;
}

float Oscillator::Saw(double hz)
{
    double dt = hz * kDt;
    double t = Advance(hz);
    return static_cast<float>(2.0 * t - 1.0 - PolyBlep(t, dt));
}

float Oscillator::Pulse(double hz, double width)
{
    double dt = hz * kDt;
    double t = Advance(hz);
    double shifted = t + width;
    shifted -= std::floor(shifted);
    double saw1 = 2.0 * t - 1.0 - PolyBlep(t, dt);
    double saw2 = 2.0 * shifted - 1.0 - PolyBlep(shifted, dt);
    return static_cast<float>(0.5 * (saw1 - saw2));
}

float Oscillator::Sine(double hz) { return static_cast<float>(std::sin(2.0 * kPi * Advance(hz))); }

float Oscillator::Triangle(double hz)
{
    double t = Advance(hz);
    return static_cast<float>(t < 0.5 ? 4.0 * t - 1.0 : 3.0 - 4.0 * t);
}

void AddEcho(Stereo& sound, double delaySeconds, double feedback, double wet)
{
    size_t delay = std::max<size_t>(1, Frames(delaySeconds));
    double repeats = std::log(0.001) / std::log(std::clamp(feedback, 0.01, 0.95));
    size_t dry = sound.Frames();
    sound.Resize(dry + static_cast<size_t>(delay * (repeats + 1.0)));
    std::vector<float> lineLeft(delay, 0.0f), lineRight(delay, 0.0f);
    Svf tone;
    tone.Set(3500.0, 0.0);
    auto fb = static_cast<float>(feedback);
    auto mix = static_cast<float>(wet);
    for (size_t i = 0, index = 0; i < sound.Frames(); ++i, index = (index + 1) % delay) {
        float echoLeft = lineLeft[index];
        float echoRight = lineRight[index];
        float in = 0.5f * (sound.left[i] + sound.right[i]);
        // Ping-pong: the first repeat comes from the left, the next from the right, and so on.
        lineLeft[index] = tone.Lowpass(in + echoRight * fb);
        lineRight[index] = echoLeft * fb;
        sound.left[i] += echoLeft * mix;
        sound.right[i] += echoRight * mix;
    }
    sound.TrimSilence();
}

void AddReverb(Stereo& sound, double roomSize, double damping, double wet)
{
    ReverbSide sideLeft(0), sideRight(23);
    auto feedback = static_cast<float>(0.7 + 0.28 * roomSize);
    auto damp = static_cast<float>(damping * 0.4);
    sound.Resize(sound.Frames() + Frames(0.8 + 3.0 * roomSize));
    auto mix = static_cast<float>(wet);
    for (size_t i = 0; i < sound.Frames(); ++i) {
        float in = 0.015f * (sound.left[i] + sound.right[i]);
        float wetLeft = sideLeft.Process(in, feedback, damp);
        float wetRight = sideRight.Process(in, feedback, damp);
        sound.left[i] += wetLeft * mix;
        sound.right[i] += wetRight * mix;
    }
    sound.TrimSilence();
}

Stereo Kick(double gain)
{
    std::vector<float> mono(Frames(0.45));
    Oscillator body;
    Noise noise(11);
    Svf clickFilter;
    clickFilter.Set(3000.0, 0.1);
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        double hz = 48.0 + 120.0 * std::exp(-t * 28.0);
        double amp = std::min(1.0, t / 0.002) * std::exp(-t * 6.5);
        float click = clickFilter.Bandpass(noise.Next()) * static_cast<float>(std::exp(-t * 350.0));
        mono[i] = SoftClip(static_cast<float>(1.6 * amp) * body.Sine(hz) + 0.6f * click);
    }
    Stereo out = FromMono(mono, 0.0f);
    Finish(out, gain, 0.45);
    return out;
}

Stereo Snare(double gain)
{
    std::vector<float> mono(Frames(0.32));
    Oscillator low, high;
    Noise noise(23);
    Svf filter;
    filter.Set(2200.0, 0.2);
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        double tone = 0.55 * low.Sine(185.0) * std::exp(-t * 28.0) + 0.3 * high.Sine(330.0) * std::exp(-t * 34.0);
        double rattle = filter.Highpass(noise.Next()) * std::exp(-t * 15.0);
        mono[i] = static_cast<float>((tone + 0.8 * rattle) * std::min(1.0, t / 0.001));
    }
    Stereo out = FromMono(mono, 0.05f);
    AddReverb(out, 0.45, 0.5, 0.18);
    Finish(out, gain, 0.6);
    return out;
}

Stereo Clap(double gain)
{
    std::vector<float> mono(Frames(0.35));
    Noise noise(31);
    Svf filter;
    filter.Set(1300.0, 0.45);
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        double env = 0.0;
        for (double burst : {0.0, 0.011, 0.022}) {
            if (t >= burst && t < burst + 0.011) env = std::max(env, std::exp(-(t - burst) * 180.0));
        }
        if (t >= 0.033) env = std::max(env, 0.8 * std::exp(-(t - 0.033) * 16.0));
        mono[i] = static_cast<float>(filter.Bandpass(noise.Next()) * env);
    }
    Stereo out = FromMono(mono, -0.05f);
    AddReverb(out, 0.55, 0.4, 0.25);
    Finish(out, gain, 0.7);
    return out;
}

Stereo HiHat(double gain, bool open)
{
    double decay = open ? 7.0 : 55.0;
    std::vector<float> mono(Frames(open ? 0.6 : 0.12));
    Noise noise(open ? 47 : 43);
    Oscillator squares[6];
    Svf band, high, top;
    band.Set(10000.0, 0.3);
    high.Set(7000.0, 0.0);
    top.Set(13000.0, 0.0);
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        float source = 0.6f * Metallic(squares) + 0.5f * noise.Next();
        float shaped = top.Lowpass(high.Highpass(band.Bandpass(source)));
        mono[i] = shaped * static_cast<float>(std::exp(-t * decay) * std::min(1.0, t / 0.0008));
    }
    Stereo out = FromMono(mono, 0.3f);
    if (open) AddReverb(out, 0.4, 0.5, 0.12);
    Finish(out, gain, open ? 0.8 : 0.15);
    return out;
}

Stereo Crash(double gain)
{
    std::vector<float> mono(Frames(2.4));
    Noise noise(59);
    Oscillator squares[6];
    Svf high, tone;
    high.Set(4500.0, 0.0);
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        tone.Set(6000.0 + 5000.0 * std::exp(-t * 3.0), 0.1);
        float source = 0.45f * Metallic(squares) + noise.Next();
        mono[i] = tone.Lowpass(high.Highpass(source)) * static_cast<float>(std::exp(-t * 2.0));
    }
    Stereo out = FromMono(mono, -0.25f);
    AddReverb(out, 0.6, 0.5, 0.2);
    Finish(out, gain, 2.0);
    return out;
}

Stereo StickClick(double gain)
{
    std::vector<float> mono(Frames(0.07));
    Oscillator tone;
    Noise noise(71);
    Svf filter;
    filter.Set(2600.0, 0.6);
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        double env = std::exp(-t * 90.0);
        mono[i] = static_cast<float>((0.7 * tone.Sine(1750.0) + 0.6 * filter.Bandpass(noise.Next())) * env);
    }
    Stereo out = FromMono(mono, 0.0f);
    AddReverb(out, 0.3, 0.5, 0.15);
    Finish(out, gain, 0.3);
    return out;
}

Stereo Riser(double seconds, double gain)
{
    std::vector<float> mono(Frames(seconds));
    Noise noise(83);
    Svf filter;
    for (size_t i = 0; i < mono.size(); ++i) {
        double progress = static_cast<double>(i) / mono.size();
        filter.Set(300.0 * std::pow(30.0, progress), 0.55);
        mono[i] = static_cast<float>(filter.Bandpass(noise.Next()) * progress * progress);
    }
    Stereo out = FromMono(mono, 0.0f);
    AddReverb(out, 0.7, 0.3, 0.3);
    Finish(out, gain, seconds + 0.6);
    return out;
}

Stereo Bass(int midiNote, double seconds, double gain)
{
    Adsr env{0.003, 0.18, 0.7, 0.06};
    double hz = NoteFrequency(midiNote);
    std::vector<float> mono(Frames(seconds + env.release + 0.01));
    Oscillator saw, sub;
    Svf filter;
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        filter.Set(220.0 + 1500.0 * std::exp(-t * 14.0), 0.35);
        float raw = 0.7f * saw.Saw(hz) + 0.6f * sub.Sine(hz * 0.5);
        mono[i] = SoftClip(1.4f * filter.Lowpass(raw)) * static_cast<float>(env.At(t, seconds));
    }
    Stereo out = FromMono(mono, 0.0f);
    Finish(out, gain, seconds + 0.1);
    return out;
}

Stereo Lead(int midiNote, double seconds, double echoSeconds, double gain)
{
    Adsr env{0.008, 0.25, 0.72, 0.14};
    double hz = NoteFrequency(midiNote);
    Stereo out(Frames(seconds + env.release + 0.01));
    Oscillator sawLeft(0.0), sawRight(0.37), sub(0.0), vibrato(0.0);
    Svf filterLeft, filterRight;
    for (size_t i = 0; i < out.Frames(); ++i) {
        double t = i * kDt;
        // Vibrato fades in after the attack, as a singer's would.
        double depth = 0.22 * std::clamp((t - 0.16) / 0.25, 0.0, 1.0);
        double bend = std::pow(2.0, depth * vibrato.Sine(5.6) / 12.0);
        double cutoff = 2300.0 + 2600.0 * std::exp(-t * 7.0);
        filterLeft.Set(cutoff, 0.2);
        filterRight.Set(cutoff, 0.2);
        auto amp = static_cast<float>(env.At(t, seconds));
        float body = 0.3f * sub.Sine(hz * bend);
        out.left[i] = amp * (filterLeft.Lowpass(sawLeft.Saw(hz * bend * 1.0046)) + body);
        out.right[i] = amp * (filterRight.Lowpass(sawRight.Saw(hz * bend * 0.9954)) + body);
    }
    AddEcho(out, echoSeconds, 0.33, 0.28);
    AddReverb(out, 0.72, 0.45, 0.2);
    Finish(out, gain, seconds + 0.9);
    return out;
}

Stereo Pluck(const std::vector<int>& notes, double gain)
{
    Stereo out(Frames(0.55));
    for (size_t n = 0; n < notes.size(); ++n) {
        double hz = NoteFrequency(notes[n]);
        std::vector<float> mono(out.Frames());
        Oscillator saw(0.13 * n), pulse(0.29 * n);
        Svf filter;
        for (size_t i = 0; i < mono.size(); ++i) {
            double t = i * kDt;
            filter.Set(350.0 + 3200.0 * std::exp(-t * 16.0), 0.25);
            double amp = std::min(1.0, t / 0.002) * std::exp(-t * 7.0);
            mono[i] = static_cast<float>(filter.Lowpass(0.6f * saw.Saw(hz) + 0.4f * pulse.Pulse(hz, 0.3)) * amp);
        }
        float pan = notes.size() > 1 ? -0.5f + static_cast<float>(n) / (notes.size() - 1) : 0.0f;
        out.AddMono(mono, 0, 1.0f, pan);
    }
    AddReverb(out, 0.65, 0.4, 0.28);
    Finish(out, gain, 1.0);
    return out;
}

Stereo Pad(const std::vector<int>& notes, double seconds, double gain)
{
    Adsr env{0.45, 0.6, 0.8, 0.9};
    Stereo out(Frames(seconds + env.release));
    for (size_t n = 0; n < notes.size(); ++n) {
        double hz = NoteFrequency(notes[n]);
        Oscillator voices[3] = {Oscillator(0.1 * n), Oscillator(0.4 + 0.1 * n), Oscillator(0.7 + 0.1 * n)};
        Oscillator lfo(0.25 * n);
        Svf filter;
        std::vector<float> mono(out.Frames());
        for (size_t i = 0; i < mono.size(); ++i) {
            double t = i * kDt;
            filter.Set(900.0 + 350.0 * lfo.Sine(0.4), 0.15);
            float raw = voices[0].Saw(hz * 0.994) + voices[1].Saw(hz) + voices[2].Saw(hz * 1.006);
            mono[i] = filter.Lowpass(raw / 3.0f) * static_cast<float>(env.At(t, seconds));
        }
        float pan = notes.size() > 1 ? -0.6f + 1.2f * static_cast<float>(n) / (notes.size() - 1) : 0.0f;
        out.AddMono(mono, 0, 1.0f, pan);
    }
    AddReverb(out, 0.85, 0.5, 0.35);
    Finish(out, gain, seconds + 1.6);
    return out;
}

Stereo Bell(int midiNote, double gain)
{
    double hz = NoteFrequency(midiNote);
    std::vector<float> mono(Frames(1.3));
    Oscillator modulator;
    for (size_t i = 0; i < mono.size(); ++i) {
        double t = i * kDt;
        double index = 2.2 * std::exp(-t * 5.0);
        double phaseShift = index * modulator.Sine(hz * 3.5);
        double value = std::sin(2.0 * kPi * hz * t + phaseShift);
        mono[i] = static_cast<float>(value * std::min(1.0, t / 0.002) * std::exp(-t * 3.2));
    }
    Stereo out = FromMono(mono, 0.35f);
    AddEcho(out, 0.32, 0.3, 0.3);
    AddReverb(out, 0.7, 0.4, 0.25);
    Finish(out, gain, 1.1);
    return out;
}

}  // namespace demo
