// The MIDI module: the synthesiser and its sequence player on FluidSynth.
#include "media/MidiSynth.h"

#include <fluidsynth.h>

#include <cstdio>
#include <mutex>

#include "gui/Modules.h"

namespace media {
namespace {

void FluidLog(int level, const char* message, void*) {
    if (level <= FLUID_ERR) std::fprintf(stderr, "fluidsynth: %s\n", message);
}

class FluidSynth final : public MidiSynth {
public:
    FluidSynth(fluid_settings_t* settings, fluid_synth_t* synth) : settings_(settings), synth_(synth) {}
    ~FluidSynth() override {
        DeleteSequence();
        delete_fluid_synth(synth_);
        delete_fluid_settings(settings_);
    }
    FluidSynth(const FluidSynth&) = delete;
    FluidSynth& operator=(const FluidSynth&) = delete;

    int LoadSoundFont(const std::string& path) override { return fluid_synth_sfload(synth_, path.c_str(), 1); }

    bool NewSequence(const uint8_t* bytes, size_t size) override {
        DeleteSequence();
        player_ = new_fluid_player(synth_);
        if (player_ == nullptr) return false;
        if (fluid_player_add_mem(player_, bytes, size) != FLUID_OK) {
            DeleteSequence();
            return false;
        }
        return true;
    }

    void DeleteSequence() override {
        if (player_ == nullptr) return;
        fluid_player_stop(player_);
        delete_fluid_player(player_);
        player_ = nullptr;
    }

    Sequence SequenceState() const override {
        switch (player_ != nullptr ? fluid_player_get_status(player_) : FLUID_PLAYER_DONE) {
            case FLUID_PLAYER_READY:
                return Sequence::Ready;
            case FLUID_PLAYER_PLAYING:
                return Sequence::Playing;
            case FLUID_PLAYER_STOPPING:
                return Sequence::Stopping;
            default:
                return Sequence::Done;
        }
    }

    void PlaySequence() override {
        if (player_ != nullptr) fluid_player_play(player_);
    }

    bool SeekSequence(int tick) override { return player_ != nullptr && fluid_player_seek(player_, tick) == FLUID_OK; }

    void SetTempo(double factor) override {
        if (player_ != nullptr) fluid_player_set_tempo(player_, FLUID_PLAYER_TEMPO_INTERNAL, factor);
    }

    void SetPitchShift(double cents) override {
        if (cents == 0) {
            for (int channel = 0; channel < 16; ++channel) fluid_synth_deactivate_tuning(synth_, channel, 0);
            return;
        }
        double pitch[128];
        for (int key = 0; key < 128; ++key) pitch[key] = key * 100.0 + cents;
        fluid_synth_activate_key_tuning(synth_, 0, 0, "play speed", pitch, 0);
        for (int channel = 0; channel < 16; ++channel) fluid_synth_activate_tuning(synth_, channel, 0, 0, 0);
    }

    void Reset() override { fluid_synth_system_reset(synth_); }

    void Render(int frames, float* left, float* right) override {
        fluid_synth_write_float(synth_, frames, left, 0, 1, right, 0, 1);
    }

    int ActiveVoices() const override { return fluid_synth_get_active_voice_count(synth_); }

private:
    fluid_settings_t* settings_;
    fluid_synth_t* synth_;
    fluid_player_t* player_ = nullptr;
};

std::unique_ptr<MidiSynth> Create(int rate, double gain, int threads) {
    static std::once_flag logOnce;
    std::call_once(logOnce, [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) fluid_set_log_function(level, FluidLog, nullptr);
    });
    fluid_settings_t* settings = new_fluid_settings();
    if (settings == nullptr) return nullptr;
    fluid_settings_setnum(settings, "synth.sample-rate", rate);
    fluid_settings_setnum(settings, "synth.gain", gain);
    fluid_settings_setint(settings, "synth.cpu-cores", threads);
    fluid_settings_setstr(settings, "player.timing-source", "sample");
    // The speed's tuning lives in the channels; a player that reset the synthesiser at the
    // start of its file would clear it.
    fluid_settings_setint(settings, "player.reset-synth", 0);
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (synth == nullptr) {
        delete_fluid_settings(settings);
        return nullptr;
    }
    return std::make_unique<FluidSynth>(settings, synth);
}

}  // namespace
}  // namespace media

GLIMSTEP_MODULE_ENTRY(unsigned version) {
    static const media::MidiSynthModule module{&media::Create};
    return version == media::MidiSynthModule::kVersion ? &module : nullptr;
}
