#include "media/MPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "gui/Clock.h"
#include "gui/Modules.h"
#include "media/DXSounds.h"
#include "media/MidiFile.h"

namespace media {

namespace {

// FluidSynth's default gain (0.2) is far quieter than full-scale key sounds.
constexpr double kGain = 0.6;
constexpr size_t kMaxMidiFileSize = 64u << 20;

uint16_t NextDeviceId() {
    static uint16_t next = 0;
    if (++next == 0) next = 1;
    return next;
}

}  // namespace

TMediaPlayer::TMediaPlayer(TDXSound* sound)
    : sound_(sound), left_(Mixer::kBlockFrames), right_(Mixer::kBlockFrames) {
    if (sound_ != nullptr)
        listenerId_ = sound_->AddListener([this](TDXSound&, TDXSoundNotify step) { Notified(static_cast<int>(step)); });
}

TMediaPlayer::~TMediaPlayer() {
    Close();
    if (sound_ != nullptr) sound_->RemoveListener(listenerId_);
}

std::string TMediaPlayer::ErrorMessage(int32_t error) {
    switch (error) {
        case MCIERR_FILE_NOT_FOUND:
            return "指定されたファイルが見つからないか、開けません";
        case MCIERR_INVALID_FILE:
            return "MIDI ファイルではないか、ファイルが壊れています";
        case MCIERR_UNSUPPORTED_FUNCTION:
            return "この形式の MIDI ファイルは再生できません";
        case MCIERR_INVALID_DEVICE_ID:
            return "MCI デバイスがありません";
        case MCIERR_INVALID_DEVICE_NAME:
            return "この種類のデバイスは使えません (MIDI シーケンサだけが使えます)";
        default:
            return "原因不明のエラー";
    }
}

std::string TMediaPlayer::FindSystemSoundFont() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path debianDefault = "/usr/share/sounds/sf3/default-GM.sf3";
    if (fs::is_regular_file(debianDefault, ec)) return debianDefault.string();
    for (const char* folder : {"/usr/share/sounds/sf2", "/usr/share/soundfonts"}) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if ((ext == ".sf2" || ext == ".sf3") && fs::is_regular_file(entry.path(), ec))
                found.push_back(entry.path().string());
        }
        if (!found.empty()) return *std::min_element(found.begin(), found.end());
    }
    return {};
}

void TMediaPlayer::SetSynthThreads(int threads) { synthThreads_ = std::clamp(threads, 1, 256); }

void TMediaPlayer::SetSynthBlock(int frames) {
    synthBlock_ = std::clamp(frames, 0, 1 << 16);
    aheadLeft_.assign(static_cast<size_t>(synthBlock_), 0.0f);
    aheadRight_.assign(static_cast<size_t>(synthBlock_), 0.0f);
    aheadFrames_ = aheadUsed_ = 0;
}

void TMediaPlayer::SetSoundFont(const std::string& path) {
    soundFontChosen_ = true;
    soundFontPath_ = path;
}

double TMediaPlayer::Gain() const { return kGain; }

int TMediaPlayer::Rate() const { return sound_ != nullptr ? sound_->Mixer().Rate() : 44100; }

void TMediaPlayer::EnsureSynth() {
    if (synth_ != nullptr) return;
    // FluidSynth loads with the first MIDI file; without it there is no sequencer device.
    const auto* module = static_cast<const MidiSynthModule*>(
        gui::LoadModule("midi", MidiSynthModule::kVersion, "MIDI backing tracks are not played"));
    if (module == nullptr) {
        error_ = MCIERR_INVALID_DEVICE_ID;
        throw EMCIDeviceError(ErrorMessage(error_));
    }
    synth_ = module->create(Rate(), kGain, synthThreads_);
    if (synth_ == nullptr) throw EMCIDeviceError(ErrorMessage(0));
}

void TMediaPlayer::LoadSoundFontIfAudible() {
    if (soundFontTried_ || synth_ == nullptr) return;
    if (sound_ == nullptr || !sound_->Initialized()) return;
    soundFontTried_ = true;
    const std::string path = soundFontChosen_ ? soundFontPath_ : FindSystemSoundFont();
    if (!path.empty()) soundFontId_ = synth_->LoadSoundFont(path);
    if (soundFontId_ < 0) {
        static bool warned = false;
        if (!warned) {
            warned = true;
            if (path.empty())
                std::fprintf(stderr, "glimstep: no General MIDI SoundFont found; the MIDI backing track plays silently\n");
            else
                std::fprintf(stderr, "glimstep: cannot load the SoundFont %s; the MIDI backing track plays silently\n",
                             path.c_str());
        }
        soundFontId_ = -1;
    }
}

bool TMediaPlayer::NewPlayer() {
    if (!synth_->NewSequence(fileBytes_.data(), fileBytes_.size())) return false;
    framesPlayed_.store(0);
    return true;
}

void TMediaPlayer::DeletePlayer() {
    if (synth_ != nullptr) synth_->DeleteSequence();
}

MidiSynth::Sequence TMediaPlayer::PlayerStatus() const { return synth_ != nullptr ? synth_->SequenceState() : MidiSynth::Sequence::Done; }

void TMediaPlayer::Attach() {
    if (attached_ || sound_ == nullptr || !sound_->Initialized()) return;
    // A sequence that played on by the clock while there was no device goes on from there.
    const auto next = static_cast<int64_t>(sound_->Mixer().AddSource(this));
    outputStartFrame_ = next - static_cast<int64_t>(framesPlayed_.load());
    attached_ = true;
}

void TMediaPlayer::Detach() {
    if (!attached_) return;
    sound_->Mixer().RemoveSource(this);
    attached_ = false;
}

void TMediaPlayer::Loaded() {
    if (AutoOpen && !FileName.empty()) Open();
}

void TMediaPlayer::Open() {
    Close();
    error_ = 0;
    if (DeviceType != dtAutoSelect && DeviceType != dtSequencer) {
        error_ = MCIERR_INVALID_DEVICE_NAME;
        throw EMCIDeviceError(ErrorMessage(error_));
    }
    std::vector<uint8_t> bytes;
    {
        std::error_code ec;
        std::ifstream file;
        if (!std::filesystem::is_directory(FileName, ec)) file.open(FileName, std::ios::binary);
        if (!file.is_open()) {
            error_ = MCIERR_FILE_NOT_FOUND;
            throw EMCIDeviceError(ErrorMessage(error_));
        }
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    MidiFileInfo info;
    const MidiFileProblem problem =
        bytes.size() > kMaxMidiFileSize ? MidiFileProblem::Broken : ParseMidiFile(bytes.data(), bytes.size(), info);
    if (problem != MidiFileProblem::None) {
        error_ = problem == MidiFileProblem::Unsupported ? MCIERR_UNSUPPORTED_FUNCTION : MCIERR_INVALID_FILE;
        throw EMCIDeviceError(ErrorMessage(error_));
    }
    EnsureSynth();
    fileBytes_ = std::move(bytes);
    lengthMs_ = info.lengthMs;
    fileInfo_ = std::move(info);
    if (!NewPlayer()) {
        fileBytes_.clear();
        error_ = -1;
        throw EMCIDeviceError(ErrorMessage(error_));
    }
    LoadSoundFontIfAudible();
    opened_ = true;
    deviceId_ = NextDeviceId();
}

void TMediaPlayer::Close() {
    if (!opened_) return;
    Detach();
    DeletePlayer();
    if (synth_ != nullptr) synth_->Reset();
    opened_ = false;
    deviceId_ = 0;
    fileBytes_.clear();
    lengthMs_ = 0.0;
    fileInfo_ = MidiFileInfo{};
    selfClocked_ = false;
    framesPlayed_.store(0);
    aheadFrames_ = aheadUsed_ = 0;
}

void TMediaPlayer::Play() {
    if (!opened_) {
        error_ = MCIERR_INVALID_DEVICE_ID;
        throw EMCIDeviceError("MCI デバイスがありません");
    }
    CatchUp();
    error_ = 0;
    if (Sounding()) return;
    // At the end: a sequencer plays from its position, so only a rewind plays anything.
    if (PlayerStatus() != MidiSynth::Sequence::Ready && !AutoRewind) return;
    // The mixer stops calling the synthesiser while the sequence is set up again, and Attach
    // below learns the frame on which it starts.
    Detach();
    if (PlayerStatus() != MidiSynth::Sequence::Ready) {
        DeletePlayer();
        if (!NewPlayer()) {
            error_ = -1;
            return;
        }
    }
    LoadSoundFontIfAudible();
    framesPlayed_.store(0);
    prerollFrames_ = prerollUsed_ = 0;
    aheadFrames_ = aheadUsed_ = 0;
    if (startMs_ > 0) {
        // Asked before the player runs (it reads the file on its first run and only then knows
        // its length), it gets there at once, replaying the events before but no notes. The
        // frames of the part left out count as played, so that Position tells song time.
        const uint64_t tick = fileInfo_.TickAt(startMs_);
        if (synth_->SeekSequence(static_cast<int>(std::min<uint64_t>(tick, INT32_MAX))))
            framesPlayed_.store(static_cast<uint64_t>(std::llround(startMs_ / speed_ * Rate() / 1000.0)));
    }
    synth_->PlaySequence();
    ApplySpeed();
    if (sound_ != nullptr && sound_->Initialized()) {
        // FluidSynth's player reads the file when it first runs, inside the synthesiser's
        // rendering: the first few frames are rendered here so that the rendering thread
        // never has to parse or allocate. Rendering ahead needs no such care.
        if (synthBlock_ == 0) {
            synth_->Render(kPrerollFrames, prerollLeft_, prerollRight_);
            prerollFrames_ = kPrerollFrames;
        }
        selfClocked_ = false;
        Attach();
    } else {
        selfClocked_ = true;
        clockStartMs_ = gui::Clock::Now();
        clockStartFrames_ = framesPlayed_.load();
    }
}

void TMediaPlayer::SetTimeFormat(int format) {
    if (!opened_) {
        error_ = MCIERR_INVALID_DEVICE_ID;
        return;
    }
    if (format != tfMilliseconds) {
        error_ = MCIERR_UNSUPPORTED_FUNCTION;
        return;
    }
    timeFormat_ = format;
    error_ = 0;
}

void TMediaPlayer::CatchUp() {
    if (!selfClocked_ || synth_ == nullptr) return;
    const uint32_t elapsedMs = gui::Clock::Now() - clockStartMs_;
    const uint64_t target = clockStartFrames_ + static_cast<uint64_t>(elapsedMs) * static_cast<uint64_t>(Rate()) / 1000;
    while (framesPlayed_.load() < target && PlayerStatus() == MidiSynth::Sequence::Playing) {
        const int n = static_cast<int>(std::min<uint64_t>(left_.size(), target - framesPlayed_.load()));
        synth_->Render(n, left_.data(), right_.data());
        framesPlayed_.fetch_add(static_cast<uint64_t>(n));
    }
}

double TMediaPlayer::PlayedMs() const { return static_cast<double>(framesPlayed_.load()) * 1000.0 / Rate(); }

bool TMediaPlayer::Sounding() const {
    // FluidSynth's player lets the last notes ring for a while after the final event; the
    // sequence itself has ended at its length.
    return PlayerStatus() == MidiSynth::Sequence::Playing && PlayedMs() < PlayingLengthMs();
}

TMPModes TMediaPlayer::Mode() {
    if (!opened_) {
        error_ = MCIERR_INVALID_DEVICE_ID;
        return mpNotReady;
    }
    CatchUp();
    return Sounding() ? mpPlaying : mpStopped;
}

int TMediaPlayer::Position() {
    if (!opened_) {
        error_ = MCIERR_INVALID_DEVICE_ID;
        return 0;
    }
    CatchUp();
    if (PlayerStatus() == MidiSynth::Sequence::Ready) return 0;
    if (!Sounding()) return static_cast<int>(PlayingLengthMs());
    double ms = PlayedMs();
    // The mixer's playing frame moves on smoothly between device callbacks and is the clock of
    // the key sounds too.
    if (attached_) {
        const double frames = sound_->Mixer().PlayingFrame() - static_cast<double>(outputStartFrame_);
        ms = std::max(0.0, frames) * 1000.0 / Rate();
    }
    return static_cast<int>(std::min(ms, PlayingLengthMs()));
}

void TMediaPlayer::SetSpeed(double factor) {
    if (factor > 0 && std::isfinite(factor)) speed_ = factor;
}

void TMediaPlayer::ApplySpeed() {
    synth_->SetTempo(speed_);
    // Every key moved by the same number of cents: the pitch follows the speed, as a sound
    // played at a higher sample rate does.
    synth_->SetPitchShift(1200.0 * std::log2(speed_));
}

int TMediaPlayer::Length() const { return opened_ ? static_cast<int>(lengthMs_) : 0; }

void TMediaPlayer::Mix(float* mix, int frames) {
    if (synth_ == nullptr) return;
    if (synthBlock_ > 0) {
        MixAhead(mix, frames);
        return;
    }
    const bool playing = PlayerStatus() == MidiSynth::Sequence::Playing;
    const int fromPreroll = std::min(frames, prerollFrames_ - prerollUsed_);
    for (int k = 0; k < fromPreroll; ++k) {
        mix[2 * k] += prerollLeft_[prerollUsed_ + k] * 32768.0f;
        mix[2 * k + 1] += prerollRight_[prerollUsed_ + k] * 32768.0f;
    }
    prerollUsed_ += fromPreroll;
    const int rest = frames - fromPreroll;
    if (rest > 0 && (playing || synth_->ActiveVoices() > 0)) {
        synth_->Render(rest, left_.data(), right_.data());
        float* out = mix + 2 * fromPreroll;
        for (int k = 0; k < rest; ++k) {
            out[2 * k] += left_[static_cast<size_t>(k)] * 32768.0f;
            out[2 * k + 1] += right_[static_cast<size_t>(k)] * 32768.0f;
        }
    }
    if (playing) framesPlayed_.fetch_add(static_cast<uint64_t>(frames), std::memory_order_release);
}

void TMediaPlayer::MixAhead(float* mix, int frames) {
    while (frames > 0) {
        if (aheadUsed_ == aheadFrames_) {
            aheadFrames_ = aheadUsed_ = 0;
            aheadPlaying_ = PlayerStatus() == MidiSynth::Sequence::Playing;
            if (!aheadPlaying_ && synth_->ActiveVoices() == 0) return;
            synth_->Render(synthBlock_, aheadLeft_.data(), aheadRight_.data());
            aheadFrames_ = synthBlock_;
        }
        const int n = std::min(frames, aheadFrames_ - aheadUsed_);
        for (int k = 0; k < n; ++k) {
            mix[2 * k] += aheadLeft_[static_cast<size_t>(aheadUsed_ + k)] * 32768.0f;
            mix[2 * k + 1] += aheadRight_[static_cast<size_t>(aheadUsed_ + k)] * 32768.0f;
        }
        if (aheadPlaying_) framesPlayed_.fetch_add(static_cast<uint64_t>(n), std::memory_order_release);
        aheadUsed_ += n;
        mix += 2 * n;
        frames -= n;
    }
}

void TMediaPlayer::Notified(int step) {
    switch (static_cast<TDXSoundNotify>(step)) {
        case TDXSoundNotify::Finalizing:
            if (attached_) {
                Detach();
                if (Sounding()) {
                    // The device is going: go on by the clock from where the sound was.
                    selfClocked_ = true;
                    clockStartMs_ = gui::Clock::Now();
                    clockStartFrames_ = framesPlayed_.load();
                }
            }
            break;
        case TDXSoundNotify::Initialized:
            if (selfClocked_ && Sounding()) {
                selfClocked_ = false;
                Attach();
            }
            break;
        case TDXSoundNotify::Destroying:
            Detach();
            sound_ = nullptr;
            break;
        default:
            break;
    }
}

}  // namespace media
