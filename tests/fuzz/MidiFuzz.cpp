// The MIDI loading path: our SMF check, then, for what it accepts, FluidSynth's own loader and
// player, run for a few seconds of sequence time (no SoundFont, so no sound is made).
#include <fluidsynth.h>

#include <cstddef>
#include <cstdint>

#include "media/MidiFile.h"

namespace {

fluid_synth_t* Synth() {
    static fluid_synth_t* synth = [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) fluid_set_log_function(level, nullptr, nullptr);
        fluid_settings_t* settings = new_fluid_settings();
        fluid_settings_setstr(settings, "player.timing-source", "sample");
        fluid_settings_setint(settings, "synth.reverb.active", 0);
        fluid_settings_setint(settings, "synth.chorus.active", 0);
        return new_fluid_synth(settings);
    }();
    return synth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    media::MidiFileInfo info;
    if (media::ParseMidiFile(data, size, info) != media::MidiFileProblem::None) return 0;
    if (info.lengthMs < 0.0) __builtin_trap();
    fluid_synth_t* synth = Synth();
    fluid_player_t* player = new_fluid_player(synth);
    if (fluid_player_add_mem(player, data, size) == FLUID_OK && fluid_player_play(player) == FLUID_OK) {
        float left[1024], right[1024];
        for (int block = 0; block < 200 && fluid_player_get_status(player) == FLUID_PLAYER_PLAYING; ++block)
            fluid_synth_write_float(synth, 1024, left, 0, 1, right, 0, 1);
    }
    fluid_player_stop(player);
    delete_fluid_player(player);
    fluid_synth_system_reset(synth);
    return 0;
}
