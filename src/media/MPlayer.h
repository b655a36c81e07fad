// The MIDI player: opens a Standard MIDI File, plays it on FluidSynth and reports mode and
// position like a media-control sequencer. The synthesiser is rendered inside the sound
// component's mixer (its player is timed by the rendered samples), so the MIDI and the key
// sounds share one timeline; without an initialised sound component it is timed by the clock
// and plays silently.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/Exception.h"
#include "media/MidiFile.h"
#include "media/Mixer.h"
#include "media/MidiSynth.h"

namespace media {

class TDXSound;

using gui::Exception;
GUI_DECLARE_EXCEPTION(EMCIDeviceError, Exception);

enum TMPDeviceTypes {
    dtAutoSelect,
    dtAVIVideo,
    dtCDAudio,
    dtDAT,
    dtDigitalVideo,
    dtMMMovie,
    dtOther,
    dtOverlay,
    dtScanner,
    dtSequencer,
    dtVCR,
    dtVideodisc,
    dtWaveAudio
};

enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

enum TMPTimeFormats { tfMilliseconds = 0 };

// Result codes kept in Error().
constexpr int32_t MCIERR_INVALID_DEVICE_ID = 257;
constexpr int32_t MCIERR_UNSUPPORTED_FUNCTION = 274;
constexpr int32_t MCIERR_FILE_NOT_FOUND = 275;
constexpr int32_t MCIERR_INVALID_FILE = 296;
constexpr int32_t MCIERR_INVALID_DEVICE_NAME = 263;

class TMediaPlayer : private MixerSource {
public:
    // `sound` may be null: the player is then timed by the clock and silent.
    explicit TMediaPlayer(TDXSound* sound);
    ~TMediaPlayer() override;
    TMediaPlayer(const TMediaPlayer&) = delete;
    TMediaPlayer& operator=(const TMediaPlayer&) = delete;

    std::string FileName;
    TMPDeviceTypes DeviceType = dtAutoSelect;
    bool AutoOpen = false;
    bool AutoRewind = true;
    bool AutoEnable = true;
    bool Shareable = false;

    // Runs once the owner has set the properties up: opens FileName when AutoOpen is set.
    void Loaded();
    // Closes what is open, then loads FileName (the device is a MIDI sequencer: DeviceType
    // dtAutoSelect or dtSequencer). Raises EMCIDeviceError with the reason.
    void Open();
    void Close();
    // Plays from the current position (from the start after the end, with AutoRewind) and
    // returns at once. Raises "MCI デバイスがありません" when nothing is open.
    void Play();
    // Where a Play that starts the sequence over begins: `ms` into it as the file times it (before
    // the speed), for a song that starts part-way. Position then counts from the sequence's start.
    void SetStartPosition(double ms) { startMs_ = ms > 0 ? ms : 0; }
    void SetTimeFormat(int format);
    int TimeFormat() const { return timeFormat_; }

    TMPModes Mode();
    // Milliseconds of playing since the start of the sequence. Through the mixer it is read off
    // the mixer's playing frame, so that it keeps the key sounds' timeline.
    int Position();
    // The mixer's output frame that carries the start of the sequence, while it plays through
    // the mixer (negative when the start lies before the mixer's first frame); kNoFrame otherwise.
    static constexpr int64_t kNoFrame = INT64_MIN;
    int64_t OutputStartFrame() const { return attached_ ? outputStartFrame_ : kNoFrame; }
    int Length() const;
    // Plays the sequence `factor` times as fast and as high, as the key sounds play at the
    // chart's play speed, so that both stay on one timeline. Position keeps counting
    // milliseconds of playing. Takes effect at the next Play; factors of 0 or less are ignored.
    void SetSpeed(double factor);
    double Speed() const { return speed_; }

    bool Opened() const { return opened_; }
    uint16_t DeviceID() const { return deviceId_; }
    int32_t Error() const { return error_; }
    static std::string ErrorMessage(int32_t error);

    // Threads the synthesiser renders its voices on, for the synthesiser made at the next Open
    // (the first one): more than one for an offline render that wants speed. The sound is the same.
    void SetSynthThreads(int threads);
    // Frames the synthesiser renders at a time, ahead of the mix, for an offline render (0, the
    // default, renders what each mix block asks for, as a device needs). Its threads work faster
    // on larger blocks; the sound is as exact, though not bit for bit the same. Before Play.
    void SetSynthBlock(int frames);

    // The SoundFont: by default the system's General MIDI one, found at the first Open that
    // has an output; an empty path means none (silent).
    void SetSoundFont(const std::string& path);
    // Debian's default GM SoundFont, else the first .sf2/.sf3 of the usual folders, else "".
    static std::string FindSystemSoundFont();
    bool HasSoundFont() const { return soundFontId_ >= 0; }

    double Gain() const;

private:
    void Mix(float* mix, int frames) override;
    // Mix from blocks of synthBlock_ frames rendered ahead.
    void MixAhead(float* mix, int frames);
    void Notified(int step);
    void Attach();
    void Detach();
    void EnsureSynth();
    void LoadSoundFontIfAudible();
    bool NewPlayer();
    void DeletePlayer();
    void CatchUp();
    MidiSynth::Sequence PlayerStatus() const;
    double PlayedMs() const;
    // How long the sequence takes to play at the speed in force.
    double PlayingLengthMs() const { return lengthMs_ / speed_; }
    void ApplySpeed();
    bool Sounding() const;
    int Rate() const;

    TDXSound* sound_;
    int listenerId_ = 0;
    // Made through the MIDI module at the first Open.
    std::unique_ptr<MidiSynth> synth_;
    int soundFontId_ = -1;
    int synthThreads_ = 1;
    bool soundFontChosen_ = false;
    std::string soundFontPath_;
    bool soundFontTried_ = false;

    std::vector<uint8_t> fileBytes_;
    double lengthMs_ = 0.0;
    // The open file's tempo changes, to find the tick a start part-way begins at.
    MidiFileInfo fileInfo_;
    double startMs_ = 0.0;
    double speed_ = 1.0;
    bool opened_ = false;
    uint16_t deviceId_ = 0;
    int32_t error_ = 0;
    int timeFormat_ = tfMilliseconds;

    bool attached_ = false;
    int64_t outputStartFrame_ = 0;
    bool selfClocked_ = false;
    uint32_t clockStartMs_ = 0;
    uint64_t clockStartFrames_ = 0;

    // Written on the rendering thread.
    std::atomic<uint64_t> framesPlayed_{0};
    std::vector<float> left_;
    std::vector<float> right_;
    // The first frames after Play, rendered on the calling thread (see Play).
    static constexpr int kPrerollFrames = 64;
    float prerollLeft_[kPrerollFrames] = {};
    float prerollRight_[kPrerollFrames] = {};
    int prerollFrames_ = 0;
    int prerollUsed_ = 0;
    // Rendered ahead (SetSynthBlock): the block, how much of it is mixed, and whether the
    // sequence was playing when it was rendered.
    int synthBlock_ = 0;
    std::vector<float> aheadLeft_;
    std::vector<float> aheadRight_;
    int aheadFrames_ = 0;
    int aheadUsed_ = 0;
    bool aheadPlaying_ = false;
};

}  // namespace media
